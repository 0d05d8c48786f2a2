// The Comedi board: analog output channel 0 and a streaming analog input of a device that the
// kernel's Comedi framework drives, through comedilib.
#ifndef BOARDCOMEDI_DEVICE_H
#define BOARDCOMEDI_DEVICE_H

#include "core/device.h"

#include <comedilib.h>

#include <cstdint>
#include <string>

namespace boardcomedi {

// Channel 0 of a subdevice on the range the board uses.
struct Channel {
    unsigned subdevice = 0;
    unsigned range = 0; // the device's index of the range
    unsigned aref = AREF_GROUND;
    double min = 0, max = 0; // volts
    lsampl_t maxdata = 0;
};

// The sample ring the device fills during a command, mapped into our memory.
struct Stream {
    const unsigned char *data = nullptr;
    std::size_t size = 0;           // bytes
    std::size_t sample_bytes = 2;   // 2, or 4 where the subdevice has 32-bit samples
    unsigned shift = 0;             // bits dropped to make a sample fit the caller's 16
    std::int64_t limit = INT64_MAX; // samples after which the command ends by itself
};

// The output's buffer during a clocked output, mapped writable: codes go where the device
// takes them from. Counts are 64-bit totals of the kernel's 32-bit ones, which wrap.
struct OutputStream {
    unsigned char *data = nullptr;
    std::size_t size = 0;          // bytes
    std::size_t sample_bytes = 2;  // 2, or 4 where the subdevice has 32-bit samples
    std::int64_t written = 0;      // samples put in the buffer and handed to the device
    std::int64_t played = 0;       // samples the device has taken from it
    std::uint32_t kernel_read = 0; // the kernel's byte count of `played`, as last seen
    bool running = false;          // the output command runs
    std::int64_t started = 0;      // clock tick of the internal trigger that started it
    std::int64_t period_ns = 0;
    std::int64_t length = 0; // the scan's buffer length, which picks each sample's table index
};

class ComediBoard final : public board::Device {
  public:
    const char *name() const override { return "comedi"; }
    void start() override;
    int open() override;
    bool is_open() const override { return device != nullptr; }

    std::uint16_t volts_to_code(int range, double volts) const override;
    std::int64_t output_microvolts(std::uint16_t code) const override;
    std::uint16_t output_zero_code() const override { return zero_code; }
    int write_output(std::uint16_t code) override;
    bool plays_tables() const override { return clocked_output; }
    std::int64_t output_sample_ticks(std::int64_t n) const override;

    int start_scan(const board::ScanRequest &request, std::int32_t &rate) override;
    board::ScanProgress &scan() override { return progress; }
    int poll() override;
    void stop() override;
    void stop_at_exit() override;
    bool left_driven() const override { return device != nullptr && !output_at_zero; }
    void release() override;

    std::string path;

  private:
    // Closes the device again, with `why` as the fault.
    int refuse(const std::string &why);
    void close_device();
    int find_output();
    int find_input();
    int map_stream();
    int choose_output();
    int map_output();
    // Takes what the device's buffer holds and marks it read; a result code with `fault` set
    // when the scan failed.
    int take_samples(bool store);
    void store_newest(std::size_t read_at, std::int64_t taken, std::int64_t fresh);
    // Asks the driver to move what it has into the buffer, while it answers to that.
    void ask_driver_for_samples();

    // The clocked output (output.cpp).
    int settle_period(comedi_cmd &input_command, comedi_cmd &output_command, unsigned *chanspec,
                      std::string &why);
    // The output command at the input command's period (which may move to the output's
    // steps), its buffer full, waiting for trigger_output.
    int queue_output(comedi_cmd &input_command, const board::ScanRequest &request);
    int trigger_output();
    void fill_output(std::size_t bytes);
    // Tops the output's buffer up and learns what was played; output_underrun when it ran dry.
    int feed_output();
    void end_output();

    comedi_t *device = nullptr;
    int fd = -1; // the device's, kept for the status poll
    Channel output, input;
    std::uint16_t zero_code = 0;
    Stream stream;
    bool output_at_zero = false;  // the last write was the 0 V code
    std::size_t backlog = 0;      // bytes the device's buffer held when samples were last taken
    bool driver_polls = true;     // the driver answers comedi_poll during this command
    bool output_commands = false; // the output subdevice runs commands (SDF_CMD_WRITE)
    bool clocked_output = false;  // a table handed over plays on the device's clock
    OutputStream out;
    const board::OutputTable *table = nullptr; // what the clocked output plays
    board::ScanProgress progress{};
};

// The device's reason for the last comedilib failure.
std::string last_error();
// The period a timed command runs at, in nanoseconds; 0 when it has no timer.
unsigned period_of(const comedi_cmd &command);
// Tests a command until the driver takes its arguments as they are: 0, or the stage that
// refused it.
int settle(comedi_t *device, comedi_cmd &command);

} // namespace boardcomedi

#endif

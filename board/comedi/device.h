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
    // Takes what the device's buffer holds and marks it read; a result code with `fault` set
    // when the scan failed.
    int take_samples(bool store);
    void store_newest(std::size_t read_at, std::int64_t taken, std::int64_t fresh);
    void cancel();

    comedi_t *device = nullptr;
    int fd = -1; // the device's, kept for the status poll
    Channel output, input;
    std::uint16_t zero_code = 0;
    Stream stream;
    bool output_at_zero = false; // the last write was the 0 V code
    std::size_t backlog = 0;     // bytes the device's buffer held when samples were last taken
    board::ScanProgress progress{};
};

// The device's reason for the last comedilib failure.
std::string last_error();

} // namespace boardcomedi

#endif

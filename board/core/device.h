// What the front asks of a board. The front checks every argument, reports errors, keeps the
// trace and the scan's bookkeeping; a device only does what its hardware (or simulation) does.
// A device call that fails returns a result code and leaves its reason in `fault`, which the
// front reports.
#ifndef BOARD_DEVICE_H
#define BOARD_DEVICE_H

#include "controls.h"
#include "output_table.h"
#include "progress.h"

#include <cstdint>
#include <string>

namespace board {

// A scan as cbAInScan asked for it, after the front's checks.
struct ScanRequest {
    void *buffer;        // null when the samples are not to be stored
    std::int32_t length; // samples the buffer holds
    int range;           // input range code
    bool continuous;     // wrap around the buffer until stopped
    bool loopback;       // input channel 0 wired to output channel 0
    // The table the output plays on the device's clock, output sample n with input sample n;
    // null when the caller writes the output (polled).
    const OutputTable *table;
};

class Device {
  public:
    virtual ~Device() = default;

    // The prefix of the board's messages on standard error.
    virtual const char *name() const = 0;
    // The first board call of any kind: read the device's own controls, start its clock.
    virtual void start() = 0;
    // Makes the device ready for the calls that need it; a no-op once it is.
    virtual int open() = 0;
    virtual bool is_open() const = 0;

    // The code for `volts` on a range (0 output, 1 input), clamped; NaN gives the 0 V code.
    virtual std::uint16_t volts_to_code(int range, double volts) const = 0;
    // What an output code gives, in microvolts, rounded half away from zero.
    virtual std::int64_t output_microvolts(std::uint16_t code) const = 0;
    virtual std::uint16_t output_zero_code() const = 0;
    // Drives output channel 0 at once.
    virtual int write_output(std::uint16_t code) = 0;
    // Whether a table handed over is played on the device's own clock (known once it is open).
    virtual bool plays_tables() const = 0;
    // When output sample n of a clocked output plays, in clock ticks.
    virtual std::int64_t output_sample_ticks(std::int64_t n) const = 0;

    // Starts a scan and returns at once; `rate` is written back as the device runs it.
    virtual int start_scan(const ScanRequest &request, std::int32_t &rate) = 0;
    virtual ScanProgress &scan() = 0;
    // A status call while the scan runs: takes the samples that have come, keeps a clocked
    // output fed, and ends the scan if it ended by itself (or failed: then the result says why).
    virtual int poll() = 0;
    // Brings a running scan up to now and ends it. Never fails loudly: it is also the way out
    // of an error.
    virtual void stop() = 0;
    // The process is ending with the scan still running: count what came, end it quietly.
    virtual void stop_at_exit() = 0;
    // The process is ending: whether output channel 0 is to be set to 0 V first (its last
    // write was not the 0 V code, on a board that looks after that).
    virtual bool left_driven() const = 0;
    // The last step of the process's end: let go of the device.
    virtual void release() = 0;

    std::string fault;
    // How the user asked the output to play (AOPLAY_OUTPUT), set before the first open.
    OutputMode output_wanted = OutputMode::automatic;
};

// The boards there are. The Comedi board exists only where the build has comedilib.
Device &simulated_board();
Device &comedi_board(const char *path);

} // namespace board

#endif

// The simulated board behind the front: one output wired back to one input, a scan paced by
// the monotonic clock or by the step clock, an output that can play a table on the scan's
// clock, and nothing that can fail but a clocked output left unfed.
#include "core/device.h"
#include "config.h"
#include "convert.h"
#include "core/clock.h"
#include "core/errors.h"
#include "scan.h"

#include <cmath>
#include <string>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

// A clocked output plays from a buffer of this many samples, which each status call tops up:
// 2 MiB of 16-bit codes, the size of a Comedi device's buffer by default. It lasts 1.05 s at
// 1 M samples a second.
constexpr std::int64_t output_buffer_samples = std::int64_t{1} << 20;

class SimulatedBoard final : public board::Device {
  public:
    const char *name() const override { return "boardsim"; }

    void start() override {
        *this = SimulatedBoard{};
        settings = read_settings();
        board::clock_start(settings.step_clock);
    }
    int open() override { return 0; }
    bool is_open() const override { return true; }

    std::uint16_t volts_to_code(int range, double volts) const override {
        return boardsim::volts_to_code(range, volts);
    }
    std::int64_t output_microvolts(std::uint16_t code) const override {
        return code_microvolts(code);
    }
    std::uint16_t output_zero_code() const override { return zero_volt_code; }
    int write_output(std::uint16_t code) override {
        input = loopback_code(code);
        return 0;
    }
    bool plays_tables() const override { return output_wanted == board::OutputMode::clocked; }
    std::int64_t output_sample_ticks(std::int64_t n) const override {
        return sample_ticks(sim_scan, n);
    }

    int start_scan(const board::ScanRequest &request, std::int32_t &rate) override {
        if (rate > max_rate) rate = max_rate;
        loopback = request.loopback;
        std::int64_t limit = request.continuous ? no_limit : request.length;
        if (settings.stop_after >= 0 && settings.stop_after < limit) limit = settings.stop_after;
        const board::OutputTable *looped = loopback ? request.table : nullptr;
        scan_start(sim_scan, {request.buffer, request.length, rate, limit,
                              board::clock_per_second(), board::clock_now(), looped});
        clocked = request.table != nullptr;
        queued = output_buffer_samples; // filled before the scan starts
        return 0;
    }
    board::ScanProgress &scan() override { return sim_scan; }

    // Usually a clock read and one comparison.
    int poll() override {
        std::int64_t now;
        if (board::clock_is_step()) {
            now = sim_scan.due; // the step clock moves on to exactly the next sample
            board::clock_jump(now);
        } else {
            now = board::monotonic_ticks();
        }
        if (now >= sim_scan.due) scan_advance(sim_scan, now, sampled_code());
        return clocked ? feed_output() : 0;
    }
    void stop() override {
        const std::int64_t now = board::clock_now();
        if (now >= sim_scan.due) scan_advance(sim_scan, now, sampled_code());
        if (clocked) count_played();
    }
    void stop_at_exit() override {
        const std::int64_t now = board::clock_now();
        if (now >= sim_scan.due) scan_advance(sim_scan, now, zero_volt_code);
        if (clocked) count_played();
    }
    bool left_driven() const override { return false; } // a simulation: left as it was
    void release() override {}

  private:
    std::uint16_t sampled_code() const { return loopback ? input : zero_volt_code; }

    // Output sample n plays when input sample n is taken, if it was in the buffer by then.
    void count_played() {
        sim_scan.played = sim_scan.acquired < queued ? sim_scan.acquired : queued;
        sim_scan.ran_short = sim_scan.acquired > queued;
    }
    // The status call's top-up: the buffer is full again, unless it ran dry since the last one.
    int feed_output() {
        count_played();
        if (sim_scan.ran_short) {
            sim_scan.running = false;
            fault = "the clocked output played all " + std::to_string(queued) +
                    " samples it had (a buffer of " + std::to_string(output_buffer_samples) +
                    ") before the status call that would have fed it more";
            return board::output_underrun;
        }
        queued = sim_scan.played + output_buffer_samples;
        return 0;
    }

    Settings settings;
    Scan sim_scan{};
    bool loopback = false;                // the scan reads output channel 0
    bool clocked = false;                 // the scan's output plays the table
    std::int64_t queued = 0;              // output samples in the buffer so far, played or not
    std::uint16_t input = zero_volt_code; // what input channel 0 reads through the loopback
};

SimulatedBoard simulated;

} // namespace
} // namespace boardsim

board::Device &board::simulated_board() {
    return boardsim::simulated;
}

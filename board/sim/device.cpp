// The simulated board behind the front: one output wired back to one input, a scan paced by
// the monotonic clock or by the step clock, and nothing that can fail.
#include "core/device.h"
#include "config.h"
#include "convert.h"
#include "core/clock.h"
#include "scan.h"

#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

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

    int start_scan(const board::ScanRequest &request, std::int32_t &rate) override {
        if (rate > max_rate) rate = max_rate;
        loopback = request.loopback;
        std::int64_t limit = request.continuous ? no_limit : request.length;
        if (settings.stop_after >= 0 && settings.stop_after < limit) limit = settings.stop_after;
        scan_start(sim_scan, {request.buffer, request.length, rate, limit,
                              board::clock_per_second(), board::clock_now()});
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
        return 0;
    }
    void stop() override {
        const std::int64_t now = board::clock_now();
        if (now >= sim_scan.due) scan_advance(sim_scan, now, sampled_code());
    }
    void stop_at_exit() override {
        const std::int64_t now = board::clock_now();
        if (now >= sim_scan.due) scan_advance(sim_scan, now, zero_volt_code);
    }
    bool left_driven() const override { return false; } // a simulation: left as it was
    void release() override {}

  private:
    std::uint16_t sampled_code() const { return loopback ? input : zero_volt_code; }

    Settings settings;
    Scan sim_scan{};
    bool loopback = false;                // the scan reads output channel 0
    std::uint16_t input = zero_volt_code; // what input channel 0 reads through the loopback
};

SimulatedBoard simulated;

} // namespace
} // namespace boardsim

board::Device &board::simulated_board() {
    return boardsim::simulated;
}

// The board's life: first use, outputs, stopping, and what is left to do when the process ends.
#include "state.h"

#include "clock.h"
#include "errors.h"
#include "sim_internal.h"
#include "trace.h"

#include <cstdlib>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {

BoardState state;
bool started = false;

namespace {

bool exit_hook_set = false;

void end_scan_in_trace(bool at_exit) {
    const Scan &s = state.scan;
    trace_summary(s.acquired, s.outputs, scan_missed(s), s.polls, at_exit);
}

// The process is ending with a scan still running: the caller's buffer may already be gone, so
// the samples are counted but not stored, and the trace says the scan never stopped.
void at_exit() {
    Scan &s = state.scan;
    if (s.running) {
        s.setup.buffer = nullptr;
        const std::int64_t now = clock_now();
        if (now >= s.due) scan_advance(s, now, zero_volt_code);
        end_scan_in_trace(s.running);
        s.running = false;
    }
    trace_close();
}

} // namespace

void start() {
    started = true;
    state = BoardState{};
    state.settings = read_settings();
    clock_start(state.settings.step_clock);
    if (!state.settings.trace_path.empty()) trace_open(state.settings.trace_path.c_str());
    if (!exit_hook_set) exit_hook_set = std::atexit(at_exit) == 0;
}

void set_output(std::uint16_t code) {
    state.output = code;
    state.input = loopback_code(code);
    Scan &s = state.scan;
    scan_note_output(s);
    if (trace_on())
        trace_row(clock_since_start_ns(clock_now()), s.acquired, s.running ? s.index : -1, code);
}

void poll_scan(std::int64_t now) {
    Scan &s = state.scan;
    scan_advance(s, now, state.loopback ? state.input : zero_volt_code);
    if (!s.running) end_scan_in_trace(false);
}

void stop_scan() {
    Scan &s = state.scan;
    if (!s.running) return;
    const std::int64_t now = clock_now();
    if (now >= s.due) poll_scan(now);
    if (!s.running) return; // it had ended by itself meanwhile
    s.running = false;
    end_scan_in_trace(false);
}

// A board error ends the program: never with the output still driven, nor a trace cut short.
void stop_program() {
    stop_scan();
    set_output(zero_volt_code);
    trace_close();
    std::exit(1);
}

void reset_for_tests() {
    trace_close();
    state = BoardState{};
    reset_error_handling();
    started = false;
}

} // namespace boardsim

// The board's life: first use, outputs, stopping, and what is left to do when the process ends.
#include "state.h"

#include "clock.h"
#include "errors.h"
#include "trace.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {

BoardState state;
bool started = false;

namespace {

bool exit_hook_set = false;

// A status call writes at most this many rows of a clocked output: a machine too slow to write
// a row per sample as fast as they play (an emulated one, at 1 M samples a second) falls behind
// in its trace, not in feeding its output. The rows left are written when the scan ends.
constexpr std::int64_t rows_per_status_call = 4096;

// A clocked output's rows: one per sample played, at the time it played, up to `most` of them.
// At 1 M samples a second this is the board's busiest loop: no division or floating point.
void trace_played(std::int64_t most) {
    ScanProgress &s = scan();
    if (!s.clocked || !trace_on()) return;
    const OutputTable &table = state.table;
    const std::int64_t upto = s.played - s.traced > most ? s.traced + most : s.played;
    std::int64_t index = s.traced % s.length;
    for (; s.traced < upto; ++s.traced) {
        const auto at = static_cast<std::size_t>(index);
        const bool in_table = at < table.codes.size();
        trace_row(clock_since_start_ns(device().output_sample_ticks(s.traced)), s.traced + 1, index,
                  in_table ? table.codes[at] : table.zero_code,
                  in_table ? table.microvolts[at] : table.zero_microvolts);
        if (++index == s.length) index = 0;
    }
}

void end_scan_in_trace(bool at_exit) {
    trace_played(INT64_MAX);
    const ScanProgress &s = scan();
    trace_summary(s.acquired, s.clocked ? s.played : s.outputs, progress_missed(s), s.polls,
                  s.clocked, at_exit);
}

// Writes to the device and keeps the books; the result is the device's.
int drive(std::uint16_t code) {
    const int result = device().write_output(code);
    if (result != 0) return result;
    ScanProgress &s = scan();
    progress_note_output(s);
    if (trace_on())
        trace_row(clock_since_start_ns(clock_now()), s.acquired, s.running ? s.index : -1, code,
                  device().output_microvolts(code));
    return 0;
}

// On the way out nothing may end the program again: a failure is only told.
void zero_output_quietly() {
    if (!device().is_open() || drive(device().output_zero_code()) == 0) return;
    std::fprintf(stderr, "%s: output channel 0 could not be set to 0 V: %s\n", board_name(),
                 device().fault.c_str());
}

// The process is ending with a scan still running: the caller's buffer may already be gone, so
// the samples are counted but not stored, and the trace says the scan never stopped.
void at_exit() {
    if (!started) return;
    ScanProgress &s = scan();
    if (s.running) {
        s.buffer = nullptr;
        device().stop_at_exit();
        end_scan_in_trace(s.running);
        s.running = false;
    }
    if (device().left_driven()) zero_output_quietly();
    trace_close();
    device().release();
}

} // namespace

void start() {
    started = true;
    state = BoardState{};
    state.controls = read_controls();
#if defined(AOPLAY_HAVE_COMEDI)
    state.device = state.controls.comedi ? &comedi_board(state.controls.device_path.c_str())
                                         : &simulated_board();
#else
    state.device = &simulated_board(); // read_controls refuses the Comedi board here
#endif
    device().start();
    device().output_wanted = state.controls.output;
    state.scan = &device().scan();
    if (!state.controls.trace_path.empty())
        trace_open(state.controls.trace_path.c_str(), board_name());
    if (!exit_hook_set) exit_hook_set = std::atexit(at_exit) == 0;
}

const char *board_name() {
    return state.device != nullptr ? device().name() : "board";
}

int fail_device(int code, const char *call) {
    return fail(code, call, device().fault.c_str());
}

int open_device(const char *call) {
    const int result = device().open();
    if (result == 0) return 0;
    // Every call tries the open again, and mostly fails it the same way: one fault of the
    // device is told once a run.
    if (device().fault == state.open_fault_told) return fail_again(result);
    if (reported(result)) state.open_fault_told = device().fault;
    return fail_device(result, call);
}

int set_output(std::uint16_t code, const char *call) {
    const int result = drive(code);
    return result == 0 ? 0 : fail_device(result, call);
}

int poll_scan(const char *call) {
    ScanProgress &s = scan();
    ++s.polls;
    const int result = device().poll();
    if (!s.running)
        end_scan_in_trace(false);
    else
        trace_played(rows_per_status_call);
    return result == 0 ? 0 : fail_device(result, call);
}

void stop_scan() {
    ScanProgress &s = scan();
    if (!s.running) return;
    device().stop(); // it may have ended by itself meanwhile: one summary either way
    s.running = false;
    end_scan_in_trace(false);
}

// A board error ends the program: never with the output still driven, nor a trace cut short.
void stop_program() {
    stop_scan();
    zero_output_quietly();
    trace_close();
    std::exit(1);
}

void reset_board() {
    trace_close();
    if (state.device != nullptr) device().release();
    state = BoardState{};
    started = false;
}

} // namespace board

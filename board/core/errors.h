// Result codes of the board calls and what the board does with them: report on standard error
// and maybe end the program, as the caller chose with cbErrHandling.
#ifndef BOARD_ERRORS_H
#define BOARD_ERRORS_H

namespace board {

// One code per kind of fault, so a caller (or a test) can tell them apart.
enum Result : int {
    no_error = 0,
    bad_board = 1,
    bad_channel = 2,
    bad_range = 3,
    bad_count = 4,
    bad_rate = 5,
    no_buffer = 6,
    scan_running = 7,
    bad_options = 8,
    null_pointer = 9,
    bad_revision = 10,
    bad_value = 11,
    bad_error_handling = 12,
    // Faults only a real device has.
    device_unusable = 13,
    scan_refused = 14,
    scan_overrun = 15,
    scan_failed = 16,
    bad_code = 17,
    output_underrun = 18,
};

// Warnings are faults after which the board still did something sensible; the rest are fatal.
bool is_warning(int code);

// cbErrHandling: unknown codes keep the settings as they were.
int set_error_handling(int reporting, int handling);
void reset_error_handling();

// Reports `code` from `call` as the settings say, then returns it or ends the program.
int fail(int code, const char *call);
int fail(int code, const char *call, long long value);
// With the reason as the device or the system gives it.
int fail(int code, const char *call, const char *reason);

// Whether `code` is reported under the settings now.
bool reported(int code);
// A fault already reported once: handled as the settings say, without telling it again.
int fail_again(int code);

// Ends the program after a board error, leaving the board safe (defined with the board state).
[[noreturn]] void stop_program();

} // namespace board

#endif

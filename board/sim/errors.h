// Result codes of the simulated board and what it does with them: report on standard error
// and maybe end the program, as the caller chose with cbErrHandling.
#ifndef BOARDSIM_ERRORS_H
#define BOARDSIM_ERRORS_H

namespace boardsim {

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
};

// Warnings are faults after which the board still did something sensible; the rest are fatal.
bool is_warning(int code);

// cbErrHandling: unknown codes keep the settings as they were.
int set_error_handling(int reporting, int handling);
void reset_error_handling();

// Reports `code` from `call` as the settings say, then returns it or ends the program.
int fail(int code, const char *call);
int fail(int code, const char *call, long long value);

// Ends the program after a board error, leaving the board safe (defined with the board state).
[[noreturn]] void stop_program();

} // namespace boardsim

#endif

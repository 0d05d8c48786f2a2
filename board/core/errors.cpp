// Error reporting and handling as cbErrHandling selects.
#include "errors.h"

#include "state.h"

#include <cstdio>
#include <string>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {
namespace {

// Reporting is a set of bits: 1 reports warnings, 2 fatal errors, so 3 is all.
constexpr int report_warnings = 1;
constexpr int report_fatal = 2;
constexpr int report_all = report_warnings | report_fatal;

enum Handling : int { keep_going = 0, stop_on_all = 1, stop_on_fatal = 2 };

// Until the program says otherwise every error is shown and the call just returns its code:
// a library should not end its host unasked, nor hide a fault.
int reporting = report_all;
int handling = keep_going;

const char *const texts[] = {
    "no error",
    "no such board: only board 0 exists",
    "no such channel: only channel 0 exists",
    "range not available: output 0 takes range 0 (+/-10 V), input 0 range 1 (+/-5 V)",
    "sample count not above 0",
    "rate not above 0",
    "no buffer given",
    "a scan is already running",
    "options ask for what this board lacks (known bits 0x01 0x02 0x08 0x20, 0x01 required)",
    "a pointer argument is null",
    "revision not known (this board knows 5.00 to 5.12): going on as 5.12",
    "value is not a number: code for 0 V given",
    "reporting (0 to 3) or handling (0 to 2) code not known: settings kept",
    "the board's device cannot be used",
    "the device refused the scan",
    "the scan's buffer overran: samples were lost and the scan ended",
    "the device ended the scan with an error",
    "code past the largest the output takes",
    "the output ran short: its buffer emptied before more of the table came (an underrun)",
};
constexpr int code_count = static_cast<int>(sizeof texts / sizeof texts[0]);

const char *text_of(int code) {
    return code >= 0 && code < code_count ? texts[code] : "?";
}

bool shown(int code) {
    return (reporting & (is_warning(code) ? report_warnings : report_fatal)) != 0;
}

bool stops(int code) {
    return handling == stop_on_all || (handling == stop_on_fatal && !is_warning(code));
}

void print(int code, const char *call, const char *detail) {
    std::fprintf(stderr, "%s: %s: error %d (%s): %s%s\n", board_name(), call, code,
                 is_warning(code) ? "warning" : "fatal", text_of(code), detail);
}

int settle(int code) {
    if (stops(code)) {
        std::fprintf(stderr, "%s: stopping the program after error %d\n", board_name(), code);
        stop_program();
    }
    return code;
}

int handle(int code, const char *call, const char *detail) {
    if (shown(code)) print(code, call, detail);
    return settle(code);
}

} // namespace

bool is_warning(int code) {
    return code == bad_revision || code == bad_value || code == bad_error_handling;
}

bool reported(int code) {
    return shown(code);
}

int fail_again(int code) {
    return settle(code);
}

int set_error_handling(int new_reporting, int new_handling) {
    if (new_reporting < 0 || new_reporting > report_all || new_handling < keep_going ||
        new_handling > stop_on_fatal)
        return fail(bad_error_handling, "cbErrHandling");
    reporting = new_reporting;
    handling = new_handling;
    return no_error;
}

void reset_error_handling() {
    reporting = report_all;
    handling = keep_going;
}

int fail(int code, const char *call) {
    return handle(code, call, "");
}

int fail(int code, const char *call, long long value) {
    char detail[40];
    std::snprintf(detail, sizeof detail, " (got %lld)", value);
    return handle(code, call, detail);
}

int fail(int code, const char *call, const char *reason) {
    return handle(code, call, (": " + std::string(reason)).c_str());
}

} // namespace board

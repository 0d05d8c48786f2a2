// Reading BOARDSIM_CLOCK and BOARDSIM_STOP_AFTER. An empty value counts as not set.
#include "config.h"

#include "core/controls.h"

#include <cstdio>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

void complain(const char *name, const char *value, const char *what, const char *instead) {
    std::fprintf(stderr, "boardsim: %s=\"%s\" is not %s; %s\n", name, value, what, instead);
}

// Digits only, and no more than fit in 63 bits.
bool parse_count(const char *text, std::int64_t &count) {
    std::int64_t value = 0;
    for (const char *at = text; *at != '\0'; ++at) {
        if (*at < '0' || *at > '9') return false;
        const int digit = *at - '0';
        if (value > (INT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    count = value;
    return true;
}

bool read_clock() {
    const char *name = "BOARDSIM_CLOCK";
    const char *value = board::control_value(name);
    if (value == nullptr || std::strcmp(value, "real") == 0) return false;
    if (std::strcmp(value, "step") == 0) return true;
    complain(name, value, "a clock (real or step)", "using the real clock");
    return false;
}

std::int64_t read_stop_after() {
    const char *name = "BOARDSIM_STOP_AFTER";
    const char *value = board::control_value(name);
    std::int64_t count = -1;
    if (value != nullptr && !parse_count(value, count))
        complain(name, value, "a number of samples (a whole number from 0)",
                 "scans run until stopped");
    return count;
}

} // namespace

Settings read_settings() {
    Settings settings;
    settings.step_clock = read_clock();
    settings.stop_after = read_stop_after();
    return settings;
}

} // namespace boardsim

// Reading BOARDSIM_CLOCK, BOARDSIM_STOP_AFTER and BOARDSIM_TRACE. An empty value counts as
// not set, so `BOARDSIM_TRACE= aoplay` switches a trace off.
#include "config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

const char *value_of(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

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
    const char *value = value_of(name);
    if (value == nullptr || std::strcmp(value, "real") == 0) return false;
    if (std::strcmp(value, "step") == 0) return true;
    complain(name, value, "a clock (real or step)", "using the real clock");
    return false;
}

std::int64_t read_stop_after() {
    const char *name = "BOARDSIM_STOP_AFTER";
    const char *value = value_of(name);
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
    if (const char *path = value_of("BOARDSIM_TRACE")) settings.trace_path = path;
    return settings;
}

} // namespace boardsim

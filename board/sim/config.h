// The simulated board's own controls, from the environment, read once at its first use.
#ifndef BOARDSIM_CONFIG_H
#define BOARDSIM_CONFIG_H

#include <cstdint>

namespace boardsim {

struct Settings {
    bool step_clock = false;      // BOARDSIM_CLOCK=step
    std::int64_t stop_after = -1; // BOARDSIM_STOP_AFTER, -1 when not set
};

// Bad values are reported on standard error and replaced by the default.
Settings read_settings();

} // namespace boardsim

#endif

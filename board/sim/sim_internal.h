// For the board's tests only; not part of the board's interface.
#ifndef BOARDSIM_SIM_INTERNAL_H
#define BOARDSIM_SIM_INTERNAL_H

#include "core/errors.h"
#include "core/state.h"

namespace boardsim {

// Back to the state before the first call: the next call reads the environment again and
// starts a new trace. A running scan is dropped without a summary line.
inline void reset_for_tests() {
    board::reset_board();
}

} // namespace boardsim

#endif

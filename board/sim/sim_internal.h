// For the simulated board's own tests only; not part of the board's interface.
#ifndef BOARDSIM_SIM_INTERNAL_H
#define BOARDSIM_SIM_INTERNAL_H

#include "errors.h"

namespace boardsim {

// Back to the state before the first call: the next call reads the environment again and
// starts a new trace. A running scan is dropped without a summary line.
void reset_for_tests();

} // namespace boardsim

#endif

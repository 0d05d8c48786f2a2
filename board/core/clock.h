// The board's time: the system's monotonic clock, or for the simulated board under
// BOARDSIM_CLOCK=step a simulated clock that only moves when a status call takes the next sample.
#ifndef BOARD_CLOCK_H
#define BOARD_CLOCK_H

#include <cstdint>

namespace board {

// Nanoseconds on POSIX, performance-counter ticks on Windows.
std::int64_t monotonic_ticks();

void clock_start(bool step);
bool clock_is_step();
std::int64_t clock_per_second();
// Now, in ticks: the monotonic clock, or the simulated time.
std::int64_t clock_now();
// The step clock jumps to the moment a status call asks for.
void clock_jump(std::int64_t ticks);
// Nanoseconds from the board's first use to `ticks`.
std::int64_t clock_since_start_ns(std::int64_t ticks);

} // namespace board

#endif

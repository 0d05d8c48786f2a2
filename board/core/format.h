// Number formatting for the trace: one row per output at up to a million rows a second, so
// no printf. Each function writes at `out` and returns the end; none writes a terminator.
#ifndef BOARD_FORMAT_H
#define BOARD_FORMAT_H

#include <cstdint>

namespace board {

char *put_unsigned(char *out, std::uint64_t value);
char *put_signed(char *out, std::int64_t value);
// Seconds with 9 decimals, from nanoseconds.
char *put_seconds(char *out, std::int64_t ns);
// Volts with 6 decimals, from microvolts.
char *put_microvolts(char *out, std::int64_t micro);

} // namespace board

#endif

// Number formatting for the trace: one row per output at up to a million rows a second, so
// no printf. Each function writes at `out` and returns the end; none writes a terminator.
#ifndef BOARDSIM_FORMAT_H
#define BOARDSIM_FORMAT_H

#include <cstdint>

namespace boardsim {

char *put_unsigned(char *out, std::uint64_t value);
char *put_signed(char *out, std::int64_t value);
// Seconds with 9 decimals, from nanoseconds.
char *put_seconds(char *out, std::int64_t ns);
// The volts an output code gives (code / 3276.8 - 10), with 6 decimals.
char *put_volts(char *out, std::uint16_t code);

} // namespace boardsim

#endif

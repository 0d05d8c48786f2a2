// The board's trace: a CSV row per analog output and a summary line per scan, kept in a large
// buffer and written out in big pieces.
#ifndef BOARD_TRACE_H
#define BOARD_TRACE_H

#include <cstdint>

namespace board {

// Starts a trace at `path`; a file that cannot be written is reported (with the board's name
// first) and means no trace.
void trace_open(const char *path, const char *board_name);
bool trace_on();
void trace_row(std::int64_t ns, std::int64_t count, std::int64_t index, std::uint16_t code,
               std::int64_t microvolts);
// The line ending a scan; `clocked` marks one whose output the device played from the table,
// `at_exit` one the program left running.
void trace_summary(std::int64_t samples, std::int64_t outputs, std::int64_t missed,
                   std::int64_t polls, bool clocked, bool at_exit);
// Writes out what is buffered and closes the file.
void trace_close();

} // namespace board

#endif

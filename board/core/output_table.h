// The table a clocked output plays: the codes of the values handed over with aoSetOutputTable.
#ifndef BOARD_OUTPUT_TABLE_H
#define BOARD_OUTPUT_TABLE_H

#include <cstdint>
#include <vector>

namespace board {

struct OutputTable {
    std::vector<std::uint16_t> codes;     // by scan index
    std::vector<std::int64_t> microvolts; // what each code gives, for the trace
    std::uint16_t zero_code = 0;          // played past the end of a short table
    std::int64_t zero_microvolts = 0;
    bool clocked = false; // the board plays the table itself

    // The codes of samples first .. first + n - 1, into `out`.
    void fill(std::uint16_t *out, std::int64_t first, std::int64_t n, std::int64_t length) const;
};

} // namespace board

#endif

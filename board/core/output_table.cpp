// aoSetOutputTable: the table converted to the board's codes once, before the scan, so that a
// clocked output only copies codes while it plays.
#include "output_table.h"

#include "errors.h"
#include "state.h"
#include "table.h"

#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {

void OutputTable::fill(std::uint16_t *out, std::int64_t first, std::int64_t n,
                       std::int64_t length) const {
    auto index = static_cast<std::size_t>(first % length);
    const auto wrap = static_cast<std::size_t>(length);
    for (std::int64_t i = 0; i < n; ++i) {
        out[i] = index < codes.size() ? codes[index] : zero_code;
        if (++index == wrap) index = 0;
    }
}

} // namespace board

#if !defined(_WIN32)
using namespace board;

extern "C" int aoSetOutputTable(int board, const float *volts, std::int32_t count, int *clocked) {
    start_once();
    const char *call = "aoSetOutputTable";
    if (board != 0) return fail(bad_board, call, board);
    if (clocked == nullptr || (volts == nullptr && count > 0)) return fail(null_pointer, call);
    if (count < 0) return fail(bad_count, call, count);
    if (scan().running) return fail(scan_running, call);
    if (const int opened = open_device(call); opened != no_error) return opened;
    OutputTable &table = state.table;
    table.clocked = device().plays_tables();
    table.zero_code = device().output_zero_code();
    table.zero_microvolts = device().output_microvolts(table.zero_code);
    table.codes.resize(static_cast<std::size_t>(count));
    table.microvolts.resize(table.codes.size());
    bool any_nan = false;
    for (std::size_t i = 0; i < table.codes.size(); ++i) {
        table.codes[i] = device().volts_to_code(0, volts[i]);
        table.microvolts[i] = device().output_microvolts(table.codes[i]);
        any_nan = any_nan || std::isnan(volts[i]);
    }
    *clocked = table.clocked ? 1 : 0;
    return any_nan ? fail(bad_value, call) : no_error;
}
#endif

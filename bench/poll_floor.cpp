// The floor for bench/poll: the board calls of the tool's poll loop and nothing else (no key
// test, no table, no status line), so that what this misses is what the machine and the board
// miss on their own. Usage: bench_poll_floor RATE (the board's controls come from the
// environment, as for the tool).
#include "board.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
    std::int32_t rate = argc > 1 ? std::atoi(argv[1]) : 1000;
    std::vector<char> buffer(40000);
    std::uint16_t raw = 0;
    cbFromEngUnits(0, 0, 0.0f, &raw);
    cbAOut(0, 0, 0, raw);
    cbAInScan(0, 0, 0, 10000, &rate, 1, buffer.data(), 43);
    std::int16_t status = 1;
    std::int32_t count = 0, index = -1, last_index = -1;
    while (status == 1) {
        cbGetStatus(0, &status, &count, &index);
        if (status != 1 || index == last_index || index < 0) continue;
        cbFromEngUnits(0, 0, static_cast<float>(index % 100) * 0.01f, &raw);
        cbAOut(0, 0, 0, raw);
        last_index = index;
    }
    cbStopBackground(0);
    cbFromEngUnits(0, 0, 0.0f, &raw);
    cbAOut(0, 0, 0, raw);
}

// aoplay's own board call, beside the seven of board.h (the bench's vendor library has those
// alone): the value table handed to the board, which plays it on the device's own clock where
// it can. The Windows build has no such call: there the tool writes every value itself.
#ifndef AOPLAY_BOARD_TABLE_H
#define AOPLAY_BOARD_TABLE_H

#include <cstdint>

extern "C" {

// Hands over `count` values in volts (output range 0) for scan indexes 0 to count - 1. Sets
// *clocked to 1 when the board plays them itself from the next cbAInScan on: output sample n,
// taken with input sample n, is the value at index n modulo the scan's length, 0 V past the
// table's end; the caller then writes no value while the scan runs. Sets it to 0 when the
// caller is to write each value (polled output). Returns 0 or an error code, as the seven do.
int aoSetOutputTable(int board, const float *volts, std::int32_t count, int *clocked);
}

#endif

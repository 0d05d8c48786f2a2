// The board layer's state and the steps shared by several calls. One board, one thread: the
// calls are not meant to be made from several threads at once.
#ifndef BOARD_STATE_H
#define BOARD_STATE_H

#include "controls.h"
#include "device.h"
#include "output_table.h"

#include <cstdint>
#include <string>

namespace board {

struct BoardState {
    Controls controls;
    Device *device = nullptr;
    ScanProgress *scan = nullptr;
    OutputTable table;           // handed over with aoSetOutputTable
    std::string open_fault_told; // why the device could not be opened, as reported
};

extern BoardState state;
extern bool started;

// Reads the controls, starts the chosen board and opens the trace, at the first call of any
// kind.
void start();
inline void start_once() {
    if (!started) start();
}

inline Device &device() {
    return *state.device;
}
inline ScanProgress &scan() {
    return *state.scan;
}
// The chosen board's name, which its messages begin with.
const char *board_name();

// Reports the device's fault as `code` from `call`, as the error handling says.
int fail_device(int code, const char *call);
// Makes the device ready for `call`.
int open_device(const char *call);
// Drives output channel 0 and writes the trace row.
int set_output(std::uint16_t code, const char *call);
// A status call while the scan runs.
int poll_scan(const char *call);
// Brings the scan up to now and stops it.
void stop_scan();

// Back to the state before the first call: the next call reads the environment again and
// starts a new trace. A running scan is dropped without a summary line.
void reset_board();

} // namespace board

#endif

// The board layer's controls, from the environment, read once at the first board call:
// AOPLAY_BOARD chooses the board, AOPLAY_OUTPUT how the output plays (not on Windows, where it
// is always polled), AOPLAY_TRACE (or, for the simulated board, BOARDSIM_TRACE) asks for a
// trace. An empty value counts as not set.
#ifndef BOARD_CONTROLS_H
#define BOARD_CONTROLS_H

#include <string>

namespace board {

// How the output plays a table handed to the board: clocked by the device from a buffer of its
// own, or polled (the caller writes each value). `automatic` is clocked where the device can.
enum class OutputMode { automatic, clocked, polled };

struct Controls {
    bool comedi = false;     // AOPLAY_BOARD=comedi or comedi:PATH
    std::string device_path; // the Comedi device file
    std::string trace_path;  // empty: no trace
    OutputMode output = OutputMode::automatic;
};

// A value of AOPLAY_BOARD that names no board, or of AOPLAY_OUTPUT that names no way of output,
// ends the process with status 1, before anything is driven: a board the user chose is never
// replaced by another.
Controls read_controls();

// The value of an environment variable, or null when it is unset or empty.
const char *control_value(const char *name);

} // namespace board

#endif

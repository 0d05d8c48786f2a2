// Reading AOPLAY_BOARD, AOPLAY_OUTPUT and AOPLAY_TRACE.
#include "controls.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {
namespace {

constexpr const char *default_device = "/dev/comedi0";
constexpr const char *board_forms =
    "sim (the simulated board; also when unset or empty), comedi (the Comedi device "
    "/dev/comedi0) or comedi:PATH (the Comedi device file PATH)";

[[noreturn]] void refuse_board(const char *value, const char *why) {
    std::fprintf(stderr, "board: AOPLAY_BOARD=\"%s\" %s; use %s\n", value, why, board_forms);
    std::exit(1);
}

void read_board(Controls &controls) {
    const char *value = control_value("AOPLAY_BOARD");
    if (value == nullptr || std::strcmp(value, "sim") == 0) return;
    const char *path = nullptr;
    if (std::strcmp(value, "comedi") == 0)
        path = default_device;
    else if (std::strncmp(value, "comedi:", 7) == 0 && value[7] != '\0')
        path = value + 7;
    else
        refuse_board(value, "names no board");
#if !defined(AOPLAY_HAVE_COMEDI)
    refuse_board(value, "asks for the Comedi board, which this build of aoplay does not have "
                        "(it was built without comedilib)");
#endif
    controls.comedi = true;
    controls.device_path = path;
}

#if !defined(_WIN32)
constexpr const char *output_forms =
    "auto (clocked where the device can play a table on its own clock, else polled; also when "
    "unset or empty), clocked or polled";

OutputMode read_output() {
    const char *value = control_value("AOPLAY_OUTPUT");
    if (value == nullptr || std::strcmp(value, "auto") == 0) return OutputMode::automatic;
    if (std::strcmp(value, "clocked") == 0) return OutputMode::clocked;
    if (std::strcmp(value, "polled") == 0) return OutputMode::polled;
    std::fprintf(stderr, "board: AOPLAY_OUTPUT=\"%s\" names no way of output; use %s\n", value,
                 output_forms);
    std::exit(1);
}
#endif

} // namespace

const char *control_value(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

Controls read_controls() {
    Controls controls;
    read_board(controls);
#if !defined(_WIN32)
    controls.output = read_output();
#else
    controls.output = OutputMode::polled; // the Windows build has no call to hand over a table
#endif
    const char *trace = control_value("AOPLAY_TRACE");
    // The simulator's own name for it still works on the simulator.
    if (trace == nullptr && !controls.comedi) trace = control_value("BOARDSIM_TRACE");
    if (trace != nullptr) controls.trace_path = trace;
    return controls;
}

} // namespace board

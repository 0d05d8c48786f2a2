// aoplay's entry point: options, reading, playback, in that order. Each phase ends the process
// itself on failure.
#include "aoplay.h"
#include "console.h"

#include <cstdlib>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

int main(int argc, char **argv) {
    join_arguments(argc, argv);
    parse_options();
    tell_reading_from_terminal();
    read_waveform();
    run_playback();
    std::free(values);
    // A run ended by an interrupt says so, as a shell does for a process that a signal ended.
    int signal_number = interrupt_pending();
    return signal_number != 0 ? 128 + signal_number : 0;
}

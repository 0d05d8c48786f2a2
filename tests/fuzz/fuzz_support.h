// What the fuzz targets share: the tool ends the process through std::exit (fatal_error,
// print_usage), which would end the fuzzing too. The fuzz binaries are linked with
// -Wl,--wrap=exit,--wrap=fputs,--wrap=fwrite: while a target runs, exit jumps back into it with
// the status, and text for standard error is kept rather than printed at every input.
#ifndef AOPLAY_FUZZ_SUPPORT_H
#define AOPLAY_FUZZ_SUPPORT_H

#include <string>

namespace fuzz {

// How one call of the code under test ended.
struct Ending {
    bool exited = false; // it called exit
    int status = 0;      // the status given to exit
    std::string err;     // what it wrote to standard error
};

// Runs phase(); an exit inside it comes back here instead of ending the process. The phase must
// hold no objects with destructors across the exit: the way back is a longjmp.
Ending run_phase(void (*phase)());

// Ends the fuzzing with a crash that libFuzzer reports and keeps the input of.
[[noreturn]] void fault(const char *what);

} // namespace fuzz

#endif

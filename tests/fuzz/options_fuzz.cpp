// The option parser on joined argument text: whatever the text, the settings stay usable (a
// column from 1, a rate not below 0) and the only way out is the option list with status 0.
#include "aoplay.h"
#include "fuzz_support.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const char *const option_list =
    "Valid options are:\n      /SL:n\n      /XC:n\n      /TS:ft\n      /HE\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // join_arguments never leaves more than 255 characters.
    std::size_t length = size < text_capacity - 1 ? size : text_capacity - 1;
    std::memcpy(arg_text, data, length);
    arg_text[length] = '\0';
    skip_lines = 0;
    data_column = 1;
    rate = 1.0f;

    fuzz::Ending ending = fuzz::run_phase(parse_options);
    if (ending.exited) {
        if (ending.status != 0) fuzz::fault("the parser exited with a status other than 0");
        if (ending.err != option_list) fuzz::fault("the parser exited without the option list");
        return 0;
    }
    if (!ending.err.empty()) fuzz::fault("the parser wrote to standard error and went on");
    if (data_column < 1) fuzz::fault("column below 1");
    // A rate below the float range narrows to 0: it stays 0, and the run refuses it.
    if (!(rate >= 0.0f)) fuzz::fault("rate below 0 or not a number");
    return 0;
}

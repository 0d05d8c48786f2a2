// A failure that ends aoplay-plot: the message names the file (and the line) and the reason;
// main adds the program's name and ends with status 1.
#ifndef AOPLAY_PLOT_FAILURE_H
#define AOPLAY_PLOT_FAILURE_H

#include <stdexcept>
#include <string>

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A warning on standard error: the picture is still drawn.
void warn(const std::string &message);

#endif

// Warnings: the run goes on.
#include "failure.h"

#include <cstdio>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

void warn(const std::string &message) {
    std::fprintf(stderr, "aoplay-plot: warning: %s\n", message.c_str());
}

// What the VM's test programs share: the monotonic clock in seconds, a stop asked for with
// SIGTERM or SIGINT, and a table's codes read from a file.
#ifndef AOPLAY_VM_TOOL_H
#define AOPLAY_VM_TOOL_H

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <time.h>
#include <vector>

namespace vmtool {

inline volatile std::sig_atomic_t stop_requested = 0;

// From now on SIGTERM and SIGINT only set stop_requested: the program ends its work itself.
inline void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = [](int) { stop_requested = 1; };
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// CLOCK_MONOTONIC, the clock every process on the machine shares.
inline double now_s() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline void sleep_s(double seconds) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    nanosleep(&ts, nullptr);
}

// A table's codes, one a line, none past maxdata; empty when the file is unusable, with the
// reason said after the program's name.
inline std::vector<unsigned> read_codes(const char *program, const std::string &path,
                                        unsigned maxdata) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", program, path.c_str(),
                     std::strerror(errno));
        return {};
    }
    std::vector<unsigned> codes;
    std::string line;
    while (std::getline(in, line)) {
        char *end = nullptr;
        errno = 0;
        unsigned long code = std::strtoul(line.c_str(), &end, 10);
        if (end == line.c_str() || *end != '\0' || errno || code > maxdata) {
            std::fprintf(stderr, "%s: %s line %zu: \"%s\" is not a code of 0 to %u\n", program,
                         path.c_str(), codes.size() + 1, line.c_str(), maxdata);
            return {};
        }
        codes.push_back(static_cast<unsigned>(code));
    }
    if (codes.empty()) std::fprintf(stderr, "%s: %s holds no codes\n", program, path.c_str());
    return codes;
}

} // namespace vmtool

#endif

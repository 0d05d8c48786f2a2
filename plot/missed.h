// The samples a run missed, placed on the time axis. A sample is covered when at least one output
// was written while it was the newest sample the caller had seen; from the rows, a count that
// jumps by more than one between outputs of a scan skipped samples, and the samples after a
// scan's last output, up to its summary's total, were missed too.
#ifndef AOPLAY_PLOT_MISSED_H
#define AOPLAY_PLOT_MISSED_H

#include "trace.h"

#include <cstdint>
#include <vector>

// `samples` missed samples, evenly spaced strictly between the two times.
struct MissedSpan {
    double after = 0;
    double before = 0;
    std::int64_t samples = 0;
};

struct Missed {
    std::vector<MissedSpan> spans;
    std::vector<std::int64_t> per_scan; // one for each summary, as the rows show it
};

Missed find_missed(const Trace &trace);

#endif

// Reducing the trace to what the picture's pixels can show. The time axis is cut into columns,
// at least one per pixel; of the rows in a column the first, the last, the lowest and the
// highest are kept, so a spike or a dropout of a single row stays in the picture however
// long the trace.
#ifndef AOPLAY_PLOT_REDUCE_H
#define AOPLAY_PLOT_REDUCE_H

#include "missed.h"
#include "trace.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Counts of samples add up without overflow, however many scans a trace holds: at the
// largest count they stop.
inline std::int64_t add_counts(std::int64_t a, std::int64_t b) {
    return a > INT64_MAX - b ? INT64_MAX : a + b;
}

struct TimeAxis {
    double start = 0;
    double end = 1;
    std::size_t columns = 1;

    std::size_t column(double seconds) const;
    double column_start(std::size_t column) const;
};

// From the first row to the last row or the last missed sample, whichever is later.
TimeAxis time_axis(const Trace &trace, const Missed &missed, std::size_t columns);

struct Point {
    double seconds = 0;
    double volts = 0;
};
std::vector<Point> reduce_steps(const std::vector<TraceRow> &rows, const TimeAxis &axis);

// The missed samples that fall in a column, shown at the column's middle.
struct MissedColumn {
    double seconds = 0;
    std::int64_t samples = 0;
};
std::vector<MissedColumn> missed_columns(const std::vector<MissedSpan> &spans,
                                         const TimeAxis &axis);

#endif

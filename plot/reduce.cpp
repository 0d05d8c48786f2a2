// The reduction of the rows and of the missed samples to the picture's columns.
#include "reduce.h"

#include <algorithm>
#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

std::size_t TimeAxis::column(double seconds) const {
    const double at = (seconds - start) / (end - start) * static_cast<double>(columns);
    if (!(at > 0)) return 0;
    if (at >= static_cast<double>(columns)) return columns - 1;
    return static_cast<std::size_t>(at);
}

double TimeAxis::column_start(std::size_t at) const {
    return start + (end - start) * static_cast<double>(at) / static_cast<double>(columns);
}

TimeAxis time_axis(const Trace &trace, const Missed &missed, std::size_t columns) {
    TimeAxis axis;
    axis.columns = std::max<std::size_t>(columns, 1);
    axis.start = trace.rows.front().seconds;
    axis.end = trace.rows.back().seconds;
    for (const MissedSpan &span : missed.spans)
        axis.end = std::max(axis.end, span.before);
    // A trace of one instant still gets an axis to draw on.
    if (!(axis.end > axis.start)) axis.end = axis.start + 1;
    return axis;
}

namespace {

// The rows of one column worth keeping, by their place in the trace.
struct ColumnRows {
    std::size_t first = 0;
    std::size_t lowest = 0;
    std::size_t highest = 0;
    std::size_t last = 0;
};

void keep_column(const ColumnRows &kept, const std::vector<TraceRow> &rows,
                 std::vector<Point> &points) {
    std::size_t order[] = {kept.first, kept.lowest, kept.highest, kept.last};
    std::sort(std::begin(order), std::end(order));
    const std::size_t *end = std::unique(std::begin(order), std::end(order));
    for (const std::size_t *row = std::begin(order); row != end; ++row)
        points.push_back({rows[*row].seconds, rows[*row].volts});
}

} // namespace

std::vector<Point> reduce_steps(const std::vector<TraceRow> &rows, const TimeAxis &axis) {
    std::vector<Point> points;
    if (rows.empty()) return points;
    ColumnRows kept;
    std::size_t column = axis.column(rows.front().seconds);
    for (std::size_t row = 1; row < rows.size(); ++row) {
        const std::size_t here = axis.column(rows[row].seconds);
        if (here != column) {
            keep_column(kept, rows, points);
            kept = {row, row, row, row};
            column = here;
            continue;
        }
        if (rows[row].volts < rows[kept.lowest].volts) kept.lowest = row;
        if (rows[row].volts > rows[kept.highest].volts) kept.highest = row;
        kept.last = row;
    }
    keep_column(kept, rows, points);
    return points;
}

std::vector<MissedColumn> missed_columns(const std::vector<MissedSpan> &spans,
                                         const TimeAxis &axis) {
    std::vector<std::int64_t> counts(axis.columns, 0);
    for (const MissedSpan &span : spans) {
        // Sample j of n (from 1) is at after + j * step.
        const double step = (span.before - span.after) / static_cast<double>(span.samples + 1);
        const std::size_t first = axis.column(span.after + step);
        const std::size_t last = axis.column(span.after + static_cast<double>(span.samples) * step);
        std::int64_t placed = 0;
        for (std::size_t column = first; column < last && step > 0; ++column) {
            // The samples before the next column's start, kept in order whatever the rounding.
            const double before_edge =
                std::ceil((axis.column_start(column + 1) - span.after) / step) - 1;
            const auto below = static_cast<std::int64_t>(std::clamp(
                before_edge, static_cast<double>(placed), static_cast<double>(span.samples)));
            counts[column] = add_counts(counts[column], below - placed);
            placed = below;
        }
        counts[last] = add_counts(counts[last], span.samples - placed);
    }
    std::vector<MissedColumn> columns;
    for (std::size_t column = 0; column < counts.size(); ++column)
        if (counts[column] > 0)
            columns.push_back(
                {(axis.column_start(column) + axis.column_start(column + 1)) / 2, counts[column]});
    return columns;
}

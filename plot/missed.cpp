// Finding the missed samples from the rows of each scan.
#include "missed.h"

#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

// The scan being walked through: the newest sample an output covered, and when.
struct Scan {
    bool open = false;
    double seconds = 0;
    std::int64_t count = 0;
    double first_seconds = 0; // the scan's first output, for its pace
    std::int64_t first_count = 0;
    std::int64_t missed = 0;
};

void add_span(Missed &missed, Scan &scan, double before, std::int64_t samples) {
    if (samples <= 0) return;
    missed.spans.push_back({scan.seconds, before, samples});
    scan.missed += samples;
}

// A scan starts after the row above its first output (the resting write before it, as a rule),
// with no sample covered yet.
void open_scan(Scan &scan, const Trace &trace, std::size_t row) {
    scan = Scan{};
    scan.open = true;
    scan.seconds = trace.rows[row > 0 ? row - 1 : 0].seconds;
    scan.first_seconds = scan.seconds;
}

void add_output(Missed &missed, Scan &scan, const TraceRow &row) {
    add_span(missed, scan, row.seconds, row.count - scan.count - 1);
    if (scan.first_count == 0 && row.count > 0) {
        scan.first_seconds = row.seconds;
        scan.first_count = row.count;
    }
    if (row.count > scan.count) scan.count = row.count;
    scan.seconds = row.seconds;
}

// When the samples after the last output came: by the write that follows the scan's stop, or,
// for a run that ended with its scan still going, at the pace the scan kept.
double scan_end(const Trace &trace, const Scan &scan, std::size_t next_row, std::int64_t samples) {
    if (next_row < trace.rows.size()) return trace.rows[next_row].seconds;
    const double span = scan.seconds - scan.first_seconds;
    const auto taken = static_cast<double>(scan.count - scan.first_count);
    if (span <= 0 || taken <= 0) return scan.seconds;
    const double end = scan.seconds + static_cast<double>(samples + 1) * span / taken;
    return std::isfinite(end) ? end : scan.seconds;
}

void close_scan(Missed &missed, Scan &scan, const Trace &trace, const ScanSummary &summary) {
    const std::size_t next_row = summary.rows_before;
    if (!scan.open) open_scan(scan, trace, next_row);
    // A clocked output's rows end where it stopped playing, a little before or after the scan;
    // only what its summary counts was missed.
    const std::int64_t tail = summary.clocked ? summary.missed : summary.samples - scan.count;
    if (tail > 0) add_span(missed, scan, scan_end(trace, scan, next_row, tail), tail);
    missed.per_scan.push_back(scan.missed);
    scan.open = false;
}

} // namespace

Missed find_missed(const Trace &trace) {
    Missed missed;
    Scan scan;
    std::size_t summary = 0;
    for (std::size_t row = 0; row <= trace.rows.size(); ++row) {
        for (; summary < trace.summaries.size() && trace.summaries[summary].rows_before == row;
             ++summary)
            close_scan(missed, scan, trace, trace.summaries[summary]);
        if (row == trace.rows.size()) break;
        const TraceRow &output = trace.rows[row];
        if (output.index < 0) continue;
        if (!scan.open) open_scan(scan, trace, row);
        add_output(missed, scan, output);
    }
    return missed;
}

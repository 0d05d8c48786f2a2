// aoplay-plot's trace reader and what follows it on arbitrary input: a trace is refused with a
// message or read, and then the missed samples, the reduction and the gnuplot input hold
// together: at most four points per column in time order, the lowest and highest voltage kept,
// every missed sample in some column, and no number in the script that gnuplot cannot read.
#include "failure.h"
#include "missed.h"
#include "reduce.h"
#include "script.h"
#include "trace.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

// The real one prints: a fuzzer would print at every input.
void warn(const std::string &) {}

namespace {

constexpr std::size_t columns = 64;

[[noreturn]] void fault(const char *what) {
    std::fprintf(stderr, "fuzz fault: %s\n", what);
    std::abort();
}

// The input as a file the reader can open by name.
std::string input_file(const std::uint8_t *data, std::size_t size) {
    static const int fd = memfd_create("trace", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        fault("cannot write the memory file");
    return "/proc/self/fd/" + std::to_string(fd);
}

void check_steps(const Trace &trace, const std::vector<Point> &steps) {
    if (steps.empty() || steps.size() > 4 * columns) fault("steps not reduced to the columns");
    if (!std::is_sorted(steps.begin(), steps.end(),
                        [](const Point &a, const Point &b) { return a.seconds < b.seconds; }))
        fault("steps out of time order");
    auto by_volts = [](const auto &a, const auto &b) { return a.volts < b.volts; };
    const auto rows = std::minmax_element(trace.rows.begin(), trace.rows.end(), by_volts);
    const auto kept = std::minmax_element(steps.begin(), steps.end(), by_volts);
    if (rows.first->volts != kept.first->volts || rows.second->volts != kept.second->volts)
        fault("the lowest or highest voltage was lost");
}

void check_missed(const Trace &trace, const Missed &missed,
                  const std::vector<MissedColumn> &marks) {
    if (missed.per_scan.size() != trace.summaries.size()) fault("a scan's missed count is lost");
    std::int64_t in_spans = 0;
    std::int64_t in_columns = 0;
    for (const MissedSpan &span : missed.spans)
        in_spans = add_counts(in_spans, span.samples);
    for (const MissedColumn &column : marks)
        in_columns = add_counts(in_columns, column.samples);
    if (in_spans != in_columns) fault("missed samples lost between the spans and the columns");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Trace trace;
    try {
        trace = read_trace(input_file(data, size));
    } catch (const Failure &failure) {
        if (std::string(failure.what()).find("/proc/self/fd/") != 0)
            fault("a refusal that does not name the file");
        return 0;
    }
    if (trace.rows.empty()) fault("a trace with no rows was read");
    const Missed missed = find_missed(trace);
    PlotData plot;
    plot.axis = time_axis(trace, missed, columns);
    if (!(plot.axis.end > plot.axis.start)) fault("an empty time axis");
    plot.steps = reduce_steps(trace.rows, plot.axis);
    check_steps(trace, plot.steps);
    plot.missed = missed_columns(missed.spans, plot.axis);
    check_missed(trace, missed, plot.missed);
    plot.title = title_lines("trace.csv", trace);
    const std::string script = gnuplot_script(Picture{}, plot);
    if (script.find("inf") != std::string::npos || script.find("nan") != std::string::npos)
        fault("a number gnuplot cannot read");
    return 0;
}

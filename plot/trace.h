// The board's trace: one row per output write, and a summary line after each scan.
#ifndef AOPLAY_PLOT_TRACE_H
#define AOPLAY_PLOT_TRACE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TraceRow {
    double seconds = 0;     // since the board's first call
    std::int64_t count = 0; // samples taken, as the caller last saw them
    std::int64_t index = 0; // newest buffer index the caller had seen; -1 when no scan runs
    double volts = 0;       // what the output was driven to
};

// "# samples=S outputs=O missed=M polls=P", possibly " output=clocked" and
// " (scan still running at exit)".
struct ScanSummary {
    std::size_t rows_before = 0; // rows of the trace above the summary
    std::int64_t samples = 0;
    std::int64_t outputs = 0;
    std::int64_t missed = 0;
    std::int64_t polls = 0;
    bool clocked = false; // the device played the output from the table on its own clock
    bool still_running = false;
    std::string text; // the line without its "# "
};

struct Trace {
    std::vector<TraceRow> rows;
    std::vector<ScanSummary> summaries;
};

// Reads a whole trace. Throws Failure naming the file and the line for a missing, empty or
// malformed trace.
Trace read_trace(const std::string &path);

#endif

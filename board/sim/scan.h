// The simulated scan's timing: which samples have been taken by a given moment.
#ifndef BOARDSIM_SCAN_H
#define BOARDSIM_SCAN_H

#include "core/output_table.h"
#include "core/progress.h"

#include <cstdint>

namespace boardsim {

// The board's pacer cannot go faster; asking for more gets this.
constexpr std::int32_t max_rate = 1000000;
constexpr std::int64_t no_limit = INT64_MAX;

struct ScanSetup {
    void *buffer;            // null: samples are counted but not stored
    std::int64_t length;     // samples the buffer holds
    std::int64_t rate;       // samples per second
    std::int64_t limit;      // samples after which the scan ends by itself
    std::int64_t per_second; // clock ticks per second
    std::int64_t start;      // clock tick at which the scan starts
    // A clocked output wired back to the input: each sample reads the code played with it.
    const board::OutputTable *looped_table;
};

struct Scan : board::ScanProgress {
    ScanSetup setup;
    std::int64_t due; // tick at which the next sample (or the end) comes
    // The next sample's time since the start is exactly whole + frac / rate ticks; stepping it
    // by a precomputed quotient and remainder keeps divisions off the usual path.
    std::int64_t whole, frac, step_whole, step_frac;
};

void scan_start(Scan &scan, const ScanSetup &setup);
// The clock tick at which sample k (from 0) is taken.
std::int64_t sample_ticks(const Scan &scan, std::int64_t k);
// Takes the samples due by `now` (call only when now >= scan.due), storing `code` for each.
void scan_advance(Scan &scan, std::int64_t now, std::uint16_t code);

} // namespace boardsim

#endif

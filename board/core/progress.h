// What every board's scan shares: where the samples go in the caller's buffer, what the status
// call reports, and the counts behind the trace's summary line.
#ifndef BOARD_PROGRESS_H
#define BOARD_PROGRESS_H

#include <cstdint>

namespace board {

struct ScanProgress {
    bool running;
    void *buffer;        // null: samples are counted but not stored
    std::int64_t length; // samples the buffer holds
    std::int64_t acquired;
    std::int64_t index; // buffer index of the newest sample, -1 before the first
    // What status calls report, kept ready so they only copy.
    std::int32_t shown_count, shown_index;
    // For the trace summary.
    std::int64_t outputs, covered, last_covered;
    std::int64_t polls; // status calls while the scan ran
    // A clocked output: samples played so far, rows traced of them, and whether its buffer ran
    // dry before the scan ended.
    bool clocked;
    std::int64_t played, traced;
    bool ran_short;
};

void progress_start(ScanProgress &scan, void *buffer, std::int64_t length);
// The samples taken so far come to `upto` (more than before): moves the index on and returns
// how many are new. The caller stores them, if it stores.
std::int64_t progress_take(ScanProgress &scan, std::int64_t upto);
// Where the first of the newest `n` samples (n <= length) goes, counted in samples.
std::int64_t progress_slot_of_newest(const ScanProgress &scan, std::int64_t n);
// Writes `code` for the newest `n` samples (n <= length).
void progress_fill(const ScanProgress &scan, std::int64_t n, std::uint16_t code);
// An output was written: it covers the newest sample, if no output did yet.
void progress_note_output(ScanProgress &scan);
// Samples during which no output was written; with a clocked output, the samples of the scan
// after it ran short.
std::int64_t progress_missed(const ScanProgress &scan);

} // namespace board

#endif

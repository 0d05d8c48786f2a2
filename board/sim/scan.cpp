// Sample k (from 0) is taken at start + (k + 1) / rate; the scan ends at the moment sample
// `limit` would be taken, so its last sample stands for a full period like every other one.
#include "scan.h"

#include "convert.h"

#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace boardsim {
namespace {

void update_due(Scan &s) {
    s.due = s.setup.start + s.whole + (s.frac != 0 ? 1 : 0);
}

// The due time of the sample after the first `taken` ones, from scratch.
void set_due_after(Scan &s, std::int64_t taken) {
    const std::int64_t rate = s.setup.rate;
    const std::int64_t next = taken + 1;
    const std::int64_t part = (next % rate) * s.setup.per_second;
    s.whole = (next / rate) * s.setup.per_second + part / rate;
    s.frac = part % rate;
    update_due(s);
}

// The due time one sample further on, without dividing.
void step_due(Scan &s) {
    s.whole += s.step_whole;
    s.frac += s.step_frac;
    if (s.frac >= s.setup.rate) {
        s.frac -= s.setup.rate;
        ++s.whole;
    }
    update_due(s);
}

// floor(elapsed * rate / per_second), split so it cannot overflow.
std::int64_t samples_due(const Scan &s, std::int64_t now) {
    const std::int64_t elapsed = now - s.setup.start;
    const std::int64_t seconds = elapsed / s.setup.per_second;
    const std::int64_t rest = elapsed % s.setup.per_second;
    return seconds * s.setup.rate + rest * s.setup.rate / s.setup.per_second;
}

// The newest n samples read what the clocked output played with each of them. Sample k sits at
// slot k mod length, which is also the index of the table's code played with it.
void fill_looped(const Scan &s, std::int64_t n) {
    const board::OutputTable &table = *s.setup.looped_table;
    std::int64_t slot = board::progress_slot_of_newest(s, n);
    auto *bytes = static_cast<unsigned char *>(s.buffer);
    for (std::int64_t i = 0; i < n; ++i) {
        const auto at = static_cast<std::size_t>(slot);
        const std::uint16_t code =
            loopback_code(at < table.codes.size() ? table.codes[at] : table.zero_code);
        std::memcpy(bytes + at * sizeof code, &code, sizeof code);
        if (++slot == s.length) slot = 0;
    }
}

void take(Scan &s, std::int64_t upto, std::uint16_t code) {
    const std::int64_t fresh = board::progress_take(s, upto);
    if (s.buffer == nullptr) return;
    const std::int64_t n = fresh < s.length ? fresh : s.length;
    if (s.setup.looped_table != nullptr)
        fill_looped(s, n);
    else
        progress_fill(s, n, code);
}

} // namespace

void scan_start(Scan &s, const ScanSetup &setup) {
    s = Scan{};
    board::progress_start(s, setup.buffer, setup.length);
    s.setup = setup;
    s.step_whole = setup.per_second / setup.rate;
    s.step_frac = setup.per_second % setup.rate;
    set_due_after(s, 0);
}

std::int64_t sample_ticks(const Scan &s, std::int64_t k) {
    const std::int64_t rate = s.setup.rate;
    const std::int64_t next = k + 1;
    const std::int64_t part = (next % rate) * s.setup.per_second;
    return s.setup.start + (next / rate) * s.setup.per_second + part / rate +
           (part % rate != 0 ? 1 : 0);
}

void scan_advance(Scan &s, std::int64_t now, std::uint16_t code) {
    std::int64_t due_count = s.acquired + 1;
    step_due(s);
    if (now >= s.due) { // a slow poll: more than one sample came
        due_count = samples_due(s, now);
        set_due_after(s, due_count);
    }
    const std::int64_t upto = due_count > s.setup.limit ? s.setup.limit : due_count;
    if (upto > s.acquired) take(s, upto, code);
    if (due_count > s.setup.limit) s.running = false;
}

} // namespace boardsim

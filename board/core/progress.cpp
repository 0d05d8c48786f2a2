// The scan bookkeeping shared by the boards.
#include "progress.h"

#include <climits>
#include <cstring>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace board {
namespace {

void show(ScanProgress &s) {
    s.shown_count = s.acquired > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(s.acquired);
    s.shown_index = static_cast<std::int32_t>(s.index);
}

} // namespace

void progress_start(ScanProgress &s, void *buffer, std::int64_t length) {
    s = ScanProgress{};
    s.running = true;
    s.buffer = buffer;
    s.length = length;
    s.index = -1;
    show(s);
}

std::int64_t progress_take(ScanProgress &s, std::int64_t upto) {
    const std::int64_t fresh = upto - s.acquired;
    if (fresh == 1)
        s.index = s.index + 1 == s.length ? 0 : s.index + 1;
    else
        s.index = (upto - 1) % s.length;
    s.acquired = upto;
    show(s);
    return fresh;
}

std::int64_t progress_slot_of_newest(const ScanProgress &s, std::int64_t n) {
    std::int64_t at = s.index - (n - 1);
    return at < 0 ? at + s.length : at;
}

void progress_fill(const ScanProgress &s, std::int64_t n, std::uint16_t code) {
    std::int64_t at = progress_slot_of_newest(s, n);
    auto *bytes = static_cast<unsigned char *>(s.buffer);
    for (std::int64_t i = 0; i < n; ++i) {
        std::memcpy(bytes + static_cast<std::size_t>(at) * sizeof code, &code, sizeof code);
        if (++at == s.length) at = 0;
    }
}

void progress_note_output(ScanProgress &s) {
    if (!s.running) return;
    ++s.outputs;
    if (s.acquired > 0 && s.acquired != s.last_covered) {
        ++s.covered;
        s.last_covered = s.acquired;
    }
}

std::int64_t progress_missed(const ScanProgress &s) {
    if (s.clocked) return s.ran_short && s.acquired > s.played ? s.acquired - s.played : 0;
    return s.acquired - s.covered;
}

} // namespace board

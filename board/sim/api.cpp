// The seven board calls: check the arguments, then hand over to the board's parts.
#include "board.h"

#include "clock.h"
#include "convert.h"
#include "errors.h"
#include "scan.h"
#include "state.h"

#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

using namespace boardsim;

namespace {

// Option bits of cbAInScan.
constexpr int opt_background = 0x01; // return at once, the scan runs on (required)
constexpr int opt_continuous = 0x02; // wrap around the buffer until stopped
constexpr int opt_store = 0x08;      // write the samples into the buffer
constexpr int opt_loopback = 0x20;   // input channel 0 reads output channel 0; else it is grounded
constexpr int opt_known = opt_background | opt_continuous | opt_store | opt_loopback;

bool options_usable(int options) {
    return (options & ~opt_known) == 0 && (options & opt_background) != 0;
}

std::int64_t scan_limit(std::int32_t count, int options) {
    std::int64_t limit = (options & opt_continuous) != 0 ? no_limit : count;
    const std::int64_t stop_after = state.settings.stop_after;
    if (stop_after >= 0 && stop_after < limit) limit = stop_after;
    return limit;
}

int check_scan(int low, int high, std::int32_t count, const std::int32_t *rate, int range,
               const void *buffer, int options) {
    const char *call = "cbAInScan";
    if (low != 0) return fail(bad_channel, call, low);
    if (high != 0) return fail(bad_channel, call, high);
    if (range != input_range) return fail(bad_range, call, range);
    if (count <= 0) return fail(bad_count, call, count);
    if (rate == nullptr) return fail(null_pointer, call);
    if (*rate <= 0) return fail(bad_rate, call, *rate);
    if (buffer == nullptr) return fail(no_buffer, call);
    if (!options_usable(options)) return fail(bad_options, call, options);
    if (state.scan.running) return fail(scan_running, call);
    return no_error;
}

} // namespace

extern "C" {

// Revisions 5.00 to 5.12 of the interface behave alike here.
int BOARD_CALL cbDeclareRevision(float *revision) {
    start_once();
    if (revision == nullptr) return fail(null_pointer, "cbDeclareRevision");
    if (!(*revision >= 5.0f && *revision <= 5.12f)) return fail(bad_revision, "cbDeclareRevision");
    return no_error;
}

int BOARD_CALL cbErrHandling(int reporting, int handling) {
    start_once();
    return set_error_handling(reporting, handling);
}

int BOARD_CALL cbFromEngUnits(int board, int range, float value, std::uint16_t *raw) {
    start_once();
    const char *call = "cbFromEngUnits";
    if (board != 0) return fail(bad_board, call, board);
    if (!range_known(range)) return fail(bad_range, call, range);
    if (raw == nullptr) return fail(null_pointer, call);
    *raw = volts_to_code(range, value);
    if (std::isnan(value)) return fail(bad_value, call);
    return no_error;
}

int BOARD_CALL cbAOut(int board, int channel, int range, std::uint16_t raw) {
    start_once();
    const char *call = "cbAOut";
    if (board != 0) return fail(bad_board, call, board);
    if (channel != 0) return fail(bad_channel, call, channel);
    if (range != output_range) return fail(bad_range, call, range);
    set_output(raw);
    return no_error;
}

int BOARD_CALL cbAInScan(int board, int low_channel, int high_channel, std::int32_t count,
                         std::int32_t *rate, int range, void *buffer, int options) {
    start_once();
    if (board != 0) return fail(bad_board, "cbAInScan", board);
    const int checked = check_scan(low_channel, high_channel, count, rate, range, buffer, options);
    if (checked != no_error) return checked;
    if (*rate > max_rate) *rate = max_rate;
    state.loopback = (options & opt_loopback) != 0;
    const ScanSetup setup{(options & opt_store) != 0 ? buffer : nullptr,
                          count,
                          *rate,
                          scan_limit(count, options),
                          clock_per_second(),
                          clock_now()};
    scan_start(state.scan, setup);
    return no_error;
}

// The tool polls this in a tight loop: usually a clock read, one comparison and three copies.
int BOARD_CALL cbGetStatus(int board, std::int16_t *status, std::int32_t *count,
                           std::int32_t *index) {
    start_once();
    if (board != 0) return fail(bad_board, "cbGetStatus", board);
    if (status == nullptr || count == nullptr || index == nullptr)
        return fail(null_pointer, "cbGetStatus");
    Scan &s = state.scan;
    if (s.running) {
        ++s.polls;
        std::int64_t now;
        if (clock_is_step()) {
            now = s.due; // the step clock moves on to exactly the next sample
            clock_jump(now);
        } else {
            now = monotonic_ticks();
        }
        if (now >= s.due) poll_scan(now);
    }
    *status = s.running ? 1 : 0;
    *count = s.shown_count;
    *index = s.shown_index;
    return no_error;
}

int BOARD_CALL cbStopBackground(int board) {
    start_once();
    if (board != 0) return fail(bad_board, "cbStopBackground", board);
    stop_scan();
    return no_error;
}

} // extern "C"

// The seven board calls: check the arguments, then hand over to the chosen board.
#include "board.h"

#include "errors.h"
#include "state.h"

#include <cmath>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

using namespace board;

namespace {

// Range codes: 0 is -10 to +10 V (analog output 0), 1 is -5 to +5 V (analog input 0).
constexpr int output_range = 0;
constexpr int input_range = 1;

// Option bits of cbAInScan.
constexpr int opt_background = 0x01; // return at once, the scan runs on (required)
constexpr int opt_continuous = 0x02; // wrap around the buffer until stopped
constexpr int opt_store = 0x08;      // write the samples into the buffer
constexpr int opt_loopback = 0x20;   // input channel 0 is wired to output channel 0
constexpr int opt_known = opt_background | opt_continuous | opt_store | opt_loopback;

bool range_known(int range) {
    return range == output_range || range == input_range;
}

bool options_usable(int options) {
    return (options & ~opt_known) == 0 && (options & opt_background) != 0;
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
    if (scan().running) return fail(scan_running, call);
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
    if (const int opened = open_device(call); opened != no_error) return opened;
    *raw = device().volts_to_code(range, value);
    if (std::isnan(value)) return fail(bad_value, call);
    return no_error;
}

int BOARD_CALL cbAOut(int board, int channel, int range, std::uint16_t raw) {
    start_once();
    const char *call = "cbAOut";
    if (board != 0) return fail(bad_board, call, board);
    if (channel != 0) return fail(bad_channel, call, channel);
    if (range != output_range) return fail(bad_range, call, range);
    if (const int opened = open_device(call); opened != no_error) return opened;
    return set_output(raw, call);
}

int BOARD_CALL cbAInScan(int board, int low_channel, int high_channel, std::int32_t count,
                         std::int32_t *rate, int range, void *buffer, int options) {
    start_once();
    const char *call = "cbAInScan";
    if (board != 0) return fail(bad_board, call, board);
    const int checked = check_scan(low_channel, high_channel, count, rate, range, buffer, options);
    if (checked != no_error) return checked;
    if (const int opened = open_device(call); opened != no_error) return opened;
    const ScanRequest request{(options & opt_store) != 0 ? buffer : nullptr,
                              count,
                              range,
                              (options & opt_continuous) != 0,
                              (options & opt_loopback) != 0,
                              state.table.clocked ? &state.table : nullptr};
    const int started_scan = device().start_scan(request, *rate);
    if (started_scan != no_error) return fail_device(started_scan, call);
    scan().clocked = request.table != nullptr;
    return no_error;
}

// The tool polls this in a tight loop: usually a clock read or one system call, and three
// copies.
int BOARD_CALL cbGetStatus(int board, std::int16_t *status, std::int32_t *count,
                           std::int32_t *index) {
    start_once();
    if (board != 0) return fail(bad_board, "cbGetStatus", board);
    if (status == nullptr || count == nullptr || index == nullptr)
        return fail(null_pointer, "cbGetStatus");
    const ScanProgress &s = scan();
    int result = no_error;
    if (s.running) result = poll_scan("cbGetStatus");
    *status = s.running ? 1 : 0;
    *count = s.shown_count;
    *index = s.shown_index;
    return result;
}

int BOARD_CALL cbStopBackground(int board) {
    start_once();
    if (board != 0) return fail(bad_board, "cbStopBackground", board);
    stop_scan();
    return no_error;
}

} // extern "C"

// The playback run: the value table played out of analog output channel 0 of board 0, one value
// each time the board's continuous input scan moves its buffer index on, until a key is pressed.
// Where the board can play the table on the device's own clock, it does, and the loop only
// watches the scan.
#include "aoplay.h"
#include "board.h"
#include "console.h"

#if !defined(_WIN32)
#include "table.h"
#endif

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

constexpr int board = 0;
constexpr int output_channel = 0;
constexpr int output_range = 0; // bipolar 10 V
constexpr int input_channel = 0;
constexpr int input_range = 1; // bipolar 5 V
constexpr std::int32_t scan_length = 10000;
constexpr int scan_options = 43; // background, continuous
constexpr std::size_t scan_buffer_bytes = 40000;
constexpr float library_revision = 5.12f;
constexpr int error_reporting = 3;
constexpr int error_handling = 1;

bool output_is_terminal = false;

// On a terminal each text must be there before the cursor moves again; to a file or a pipe
// standard output stays buffered.
void say(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    if (output_is_terminal) std::fflush(stdout);
}

void set_output(float volts) {
    std::uint16_t raw_code = 0;
    cbFromEngUnits(board, output_range, volts, &raw_code);
    cbAOut(board, output_channel, output_range, raw_code);
}

// The whole part of the rate, refused where it would be no scan rate at all: 0, or past what
// a 32-bit rate holds.
std::int32_t whole_rate() {
    if (!(rate >= 1.0f && rate < 2147483648.0f)) fatal_error("Rate out of range !\n");
    return static_cast<std::int32_t>(rate);
}

// Hands the table to the board; true when the board plays it itself (clocked output). The
// vendor's library has no such call: on Windows the loop always writes the values.
bool board_plays_table() {
#if defined(_WIN32)
    return false;
#else
    int clocked = 0;
    const std::int32_t count = value_count < scan_length ? value_count : scan_length;
    return aoSetOutputTable(board, values, count, &clocked) == 0 && clocked != 0;
#endif
}

// The next index after `index` at which the status line ticks, past the buffer's end when the
// next tick is the wrap to 0.
std::int32_t next_tick(std::int32_t index, std::int32_t status_every) {
    return (index / status_every + 1) * status_every;
}

// The table's value at a scan index; past the end of a short table, the resting level.
float value_at(std::int32_t index) {
    return index < value_count ? values[index] : 0.0f;
}

} // namespace

void run_playback() {
    std::int32_t rate_int = whole_rate();
    output_is_terminal = isatty(1) != 0;
    // From the first board call until the output is back at zero, an interrupt only ends the
    // loop: it never leaves the output driven or the scan running.
    hold_interrupts();

    float revision = library_revision;
    cbDeclareRevision(&revision);
    set_output(0.0f);

    void *scan_buffer = std::malloc(scan_buffer_bytes);
    if (scan_buffer == nullptr) {
        std::printf("\nout of memory\n");
        std::exit(1);
    }
    cbErrHandling(error_reporting, error_handling);
    const bool clocked = board_plays_table();

    clear_screen();
    cbAInScan(board, input_channel, input_channel, scan_length, &rate_int, input_range, scan_buffer,
              scan_options);
    say("\nOutputting data...\n\n");
    say("Press any key to quit.\n\n");
    int status_col = 0;
    int status_row = 0;
    get_cursor(&status_col, &status_row);

    // The board may have changed rate_int to the rate it really runs at; the status line keeps
    // to the rate that was asked for.
    const std::int32_t status_every = whole_rate();
    std::int16_t status = 1;
    std::int32_t count = 0;
    std::int32_t index = -1;
    std::int32_t last_index = -1;
    std::int32_t next_output_check = 0;
    while (!key_pending() && !interrupt_pending() && status == 1) {
        cbGetStatus(board, &status, &count, &index);
        if (status != 1 || index == last_index || index < 0) continue;
        float value = value_at(index);
        if (!clocked) set_output(value);
        if (index % status_every == 0) {
            set_cursor(status_col, status_row);
            say("Output Number: %3ld   ", static_cast<long>(index));
            say("        Value: %10.4f  ", static_cast<double>(value));
        }
        // Standard output is looked at once a status tick's index is reached or the index
        // wraps, even when the tick itself fell inside a burst of samples and was not shown.
        if (index >= next_output_check || index < last_index) {
            check_standard_output();
            next_output_check = next_tick(index, status_every);
        }
        last_index = index;
    }

    say("\n");
    set_cursor(status_col, status_row + 2);
    say("Data collection terminated.");
    cbStopBackground(board);
    std::free(scan_buffer);
    set_cursor(1, 22);
    say("\n");
    set_output(0.0f);
    playback_closed();
}

// Console operations on the Windows console.
//
// Keys are looked at on the console's own input (CONIN$), so they work while standard input is
// a redirected file; they are only peeked at, never removed. Interrupts arrive through a console
// control handler, which Windows runs on a thread of its own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "console.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

// Cells blanked by clear_screen, the size of the classic 80 x 50 console buffer.
constexpr DWORD clear_cells = 4000;

// Signal numbers recorded for the console events, as the C runtime numbers them: Ctrl-C is
// SIGINT, Ctrl-Break is SIGBREAK; closing the window has no runtime signal and is recorded as
// SIGHUP's number, the POSIX signal for a terminal going away.
constexpr int signal_ctrl_c = 2;
constexpr int signal_ctrl_break = 21;
constexpr int signal_close = 1;
// Standard output that can take no more is recorded as POSIX's SIGPIPE, which the runtime lacks.
constexpr int signal_pipe = 13;

// How long a close-window event waits for the run to zero the output. Windows ends the process
// as soon as the handler returns, and on its own a few seconds after the event.
constexpr ULONGLONG close_wait_ms = 4000;
// How long, once the output is zeroed, the tool has to end by itself before the handler lets
// Windows end it.
constexpr ULONGLONG exit_wait_ms = 1000;

std::atomic<int> recorded_signal{0};
std::atomic<bool> closed{false};

void record(int signal_number) {
    // Keep the first one: a later event while the run is closing changes nothing.
    int none = 0;
    recorded_signal.compare_exchange_strong(none, signal_number);
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        record(signal_ctrl_c);
        return TRUE;
    case CTRL_BREAK_EVENT:
        record(signal_ctrl_break);
        return TRUE;
    case CTRL_CLOSE_EVENT: {
        record(signal_close);
        // Returning lets Windows end the process: first give the run its chance to stop the
        // scan and zero the output, then the tool a moment to end by itself, with its own
        // status and its libraries' exit work done. That exit takes this thread with it.
        const ULONGLONG start = GetTickCount64();
        auto waited = [start] { return GetTickCount64() - start; };
        while (!closed.load() && waited() < close_wait_ms)
            Sleep(5);
        const ULONGLONG exit_deadline = waited() + exit_wait_ms;
        while (waited() < exit_deadline && waited() < close_wait_ms)
            Sleep(5);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// Keys that give no character but are still a key press: those with an extended code, that is
// the function keys F1 to F24, the cursor keys, the editing keys Insert, Delete, Home, End,
// Page Up, Page Down, and Clear (keypad 5 with Num Lock off). Shift, Ctrl, Alt, the Windows
// keys, Caps Lock, Num Lock, Scroll Lock and Pause are not in the list and so are no key alone.
bool is_extended_key(WORD code) {
    if (code >= VK_F1 && code <= VK_F24) return true;
    if (code >= VK_PRIOR && code <= VK_DOWN) return true; // PgUp PgDn End Home and the arrows
    return code == VK_INSERT || code == VK_DELETE || code == VK_CLEAR;
}

bool is_key_press(const INPUT_RECORD &record_in) {
    if (record_in.EventType != KEY_EVENT) return false;
    const KEY_EVENT_RECORD &key = record_in.Event.KeyEvent;
    if (!key.bKeyDown) return false;
    return key.uChar.AsciiChar != 0 || is_extended_key(key.wVirtualKeyCode);
}

} // namespace

void clear_screen() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != INVALID_HANDLE_VALUE) {
        // Characters only: the cells keep their colours. Asked for whatever the buffer size;
        // the console fills what it has.
        DWORD written = 0;
        COORD origin = {0, 0};
        FillConsoleOutputCharacterA(out, ' ', clear_cells, origin, &written);
    }
    set_cursor(0, 0);
}

void set_cursor(int col, int row) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE) return;
    COORD place;
    place.X = static_cast<SHORT>(col);
    place.Y = static_cast<SHORT>(row);
    SetConsoleCursorPosition(out, place);
}

void get_cursor(int *col_out, int *row_out) {
    *col_out = -1;
    *row_out = -1;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE) return;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(out, &info)) return;
    *col_out = info.dwCursorPosition.X;
    *row_out = info.dwCursorPosition.Y;
}

int key_pending() {
    static bool opened = false;
    static HANDLE input = INVALID_HANDLE_VALUE;
    static std::vector<INPUT_RECORD> events;
    if (!opened) {
        opened = true;
        input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    if (input == INVALID_HANDLE_VALUE) return 0;
    // The input handle is signalled while events wait. Asking is also what has wine's console on
    // a Unix terminal start reading the terminal: it looks at the keyboard only once a program
    // waits or reads, and a peek alone would never see a key typed there.
    if (WaitForSingleObject(input, 0) != WAIT_OBJECT_0) return 0;
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(input, &count) || count == 0) return 0;
    try {
        if (events.size() < count) events.resize(count);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    DWORD got = 0;
    if (!PeekConsoleInputA(input, events.data(), count, &got) || got == 0) return 0;
    for (DWORD i = 0; i < got && i < count; ++i)
        if (is_key_press(events[i])) return 1;
    return 0;
}

// A console is what GetConsoleMode answers for; a file, a pipe or the NUL device is not.
void tell_reading_from_terminal() {
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return;
    std::fputs("Reading the table from the console until Ctrl-Z then Enter; aoplay /HE lists the "
               "options.\n",
               stderr);
}

// Windows has no SIGPIPE: a write to a closed pipe fails with an error, it does not end us.
void hold_interrupts() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// A write to a pipe whose reader has gone fails like any other: the stream's error flag is enough.
void check_standard_output() {
    if (std::ferror(stdout) != 0) record(signal_pipe);
}

int interrupt_pending() {
    return recorded_signal.load(std::memory_order_relaxed);
}

void playback_closed() {
    closed.store(true);
}

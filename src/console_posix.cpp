// Console operations on POSIX terminals: the stand-in for the Windows console.
//
// Screen operations write escape sequences to standard output, and only when it is a terminal.
// Keys and the cursor report are read from the controlling terminal (/dev/tty), so they work
// while standard input is a redirected file. The first key or cursor query puts that terminal
// in non-canonical mode without echo and without signal keys, so that every key press (Ctrl-C
// included) is a key; the settings found then are put back however the process ends.
//
// The key test sits in a tight poll loop, so the usual "no key" answer must not cost a system
// call: the terminal descriptor raises SIGIO when input arrives, the handler sets a flag, and
// only then does key_pending ask the terminal (FIONREAD) how many bytes wait.
#include "console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "flags are shared with signal handlers");

// Cells blanked by clear_screen, the size of the classic 80 x 50 console buffer.
constexpr int clear_cells = 4000;
// Used when the terminal does not report its width.
constexpr int fallback_columns = 80;
// How long get_cursor waits for the terminal's cursor report.
constexpr int cursor_reply_ms = 200;

enum class TermState { untried, ready, none };
TermState term_state = TermState::untried;

// The controlling terminal, opened on its own so that the descriptor flags set here (O_ASYNC,
// O_NONBLOCK) do not reach the descriptors shared with the shell.
int tty_fd = -1;
// The terminal settings found at setup, put back at exit and by the ending signals.
struct termios saved_termios;
std::atomic<int> saved_valid{0};

// Set by SIGIO (and whenever a key is known to wait): key_pending has to look at the terminal.
// It starts set so that the first call does the setup.
std::atomic<int> look_again{1};
// False when the terminal cannot raise SIGIO: then every call has to look.
bool input_signal = false;
// get_cursor took input bytes that were not its answer and could not give them back: they count
// as a pending key for good.
bool taken_input = false;

// After hold_interrupts, SIGINT, SIGTERM and SIGHUP are recorded here instead of ending us.
std::atomic<int> holding{0};
std::atomic<int> recorded_signal{0};

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Standard output is a pipe or a socket: a reader that has gone shows in poll().
bool output_is_pipe = false;

// Keeps the first interrupt: a later one while the run is closing changes nothing.
void record(int signal_number) {
    int none = 0;
    recorded_signal.compare_exchange_strong(none, signal_number);
}

bool stdout_is_terminal() {
    return isatty(STDOUT_FILENO) == 1;
}

// Writes all of text to standard output, after what stdio still holds, so the order is kept.
void write_out(const char *text, std::size_t length) {
    std::fflush(stdout);
    while (length > 0) {
        ssize_t done = write(STDOUT_FILENO, text, length);
        if (done < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text += done;
        length -= static_cast<std::size_t>(done);
    }
}

void append_number(std::string &out, int value) {
    out += std::to_string(value);
}

// Async-signal-safe: called from the ending signals' handler as well as at exit. TCSANOW and
// not TCSAFLUSH, so that the key that ended the run still reaches the shell. SIGTTOU is blocked
// so that a process that has been put in the background is not stopped by the restore.
void restore_terminal() {
    if (saved_valid.load() == 0) return;
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGTTOU);
    sigprocmask(SIG_BLOCK, &block, &previous);
    tcsetattr(tty_fd, TCSANOW, &saved_termios);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void restore_at_exit() {
    restore_terminal();
}

void on_input(int) {
    look_again.store(1);
}

void on_ending_signal(int signal_number) {
    if (holding.load() != 0 && signal_number != SIGQUIT) {
        record(signal_number);
        return;
    }
    restore_terminal();
    // End the way the signal would have: default action, raised while still blocked here, then
    // unblocked so that it takes effect at once.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
}

// Catches sig with the ending handler, unless it was ignored when the process started (for
// instance SIGHUP under nohup): an ignored signal ends nothing and stays ignored.
void catch_ending_signal(int signal_number) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0) return;
    if (current.sa_handler == SIG_IGN || current.sa_handler == on_ending_signal) return;
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    // One ending signal at a time, and none while the terminal is being restored.
    sigemptyset(&action.sa_mask);
    for (int other : ending_signals)
        sigaddset(&action.sa_mask, other);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

int bytes_waiting() {
    int count = 0;
    if (ioctl(tty_fd, FIONREAD, &count) != 0) return 0;
    return count;
}

// Opens the controlling terminal and sets it up for key tests and cursor reports, once.
bool terminal_ready() {
    if (term_state != TermState::untried) return term_state == TermState::ready;
    term_state = TermState::none;

    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct termios settings;
    // Changing the settings of a terminal we are in the background of would stop us (SIGTTOU),
    // and its keys are not meant for us anyway.
    if (tcgetattr(fd, &settings) != 0 || tcgetpgrp(fd) != getpgrp()) {
        close(fd);
        return false;
    }
    tty_fd = fd;
    saved_termios = settings;
    saved_valid.store(1);
    std::atexit(restore_at_exit);
    for (int signal_number : ending_signals)
        catch_ending_signal(signal_number);

    struct sigaction input_action {};
    input_action.sa_handler = on_input;
    sigemptyset(&input_action.sa_mask);
    input_action.sa_flags = SA_RESTART;
    sigaction(SIGIO, &input_action, nullptr);
    int flags = fcntl(fd, F_GETFL);
    input_signal = fcntl(fd, F_SETOWN, getpid()) == 0 && flags != -1 &&
                   fcntl(fd, F_SETFL, flags | O_ASYNC) == 0;

    // ISIG off: Ctrl-C and the like arrive as keys rather than signals. IXON off: Ctrl-S and
    // Ctrl-Q are keys too instead of freezing the status line.
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &settings);

    term_state = TermState::ready;
    // Input typed before O_ASYNC was set raised no signal: look for it once now. Cleared before
    // the look, as in key_pending, so that a signal during it is not lost.
    look_again.store(0);
    if (bytes_waiting() > 0 || !input_signal) look_again.store(1);
    return true;
}

long long now_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reads one byte of the terminal's input, waiting until deadline at most.
bool read_byte(long long deadline, unsigned char *byte) {
    for (;;) {
        long long left = deadline - now_ms();
        if (left <= 0) return false;
        struct pollfd watch {};
        watch.fd = tty_fd;
        watch.events = POLLIN;
        int ready = poll(&watch, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        ssize_t got = read(tty_fd, byte, 1);
        if (got == 1) return true;
        if (got == 0 || (errno != EINTR && errno != EAGAIN)) return false;
    }
}

// How much of the cursor report ESC [ row ; col R the bytes in text are: not it, a beginning of
// it, or all of it.
enum class Report { no, partly, whole };
Report match_report(const std::string &text) {
    constexpr std::size_t max_digits = 6;
    if (text.size() >= 1 && text[0] != '\x1b') return Report::no;
    if (text.size() >= 2 && text[1] != '[') return Report::no;
    std::size_t digits = 0;
    int field = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9' && digits < max_digits) {
            ++digits;
        } else if (c == ';' && field == 0 && digits > 0) {
            field = 1;
            digits = 0;
        } else if (c == 'R' && field == 1 && digits > 0 && i + 1 == text.size()) {
            return Report::whole;
        } else {
            return Report::no;
        }
    }
    return Report::partly;
}

// Bytes get_cursor had to read that were not its answer are a key the user typed. They go back
// into the terminal's input (TIOCSTI), where key_pending sees them and where the shell gets
// them after the run; a system that refuses that still has them count as a pending key.
void give_back(const std::string &bytes) {
    if (bytes.empty()) return;
    for (char byte : bytes)
        if (ioctl(tty_fd, TIOCSTI, &byte) != 0) taken_input = true;
    look_again.store(1);
}

// Waits for the cursor report, ESC [ row ; col R with both counted from 1.
bool read_cursor_report(int *col, int *row) {
    long long deadline = now_ms() + cursor_reply_ms;
    std::string taken;     // read on the way, not part of the answer
    std::string candidate; // what may still become the answer
    unsigned char byte = 0;
    while (read_byte(deadline, &byte)) {
        candidate += static_cast<char>(byte);
        Report match = match_report(candidate);
        if (match == Report::whole) {
            give_back(taken);
            std::sscanf(candidate.c_str() + 2, "%d;%d", row, col);
            --*row;
            --*col;
            return true;
        }
        if (match == Report::no) {
            // Something else, such as a cursor key; its last byte may begin the answer.
            bool restart = candidate.size() > 1 && byte == 0x1b;
            if (restart) candidate.pop_back();
            taken += candidate;
            candidate.clear();
            if (restart) candidate.push_back('\x1b');
        }
    }
    give_back(taken + candidate);
    return false;
}

} // namespace

void clear_screen() {
    if (!stdout_is_terminal()) return;
    struct winsize size {};
    int columns = 0;
    int rows = 0;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        columns = size.ws_col;
        rows = size.ws_row;
    }
    if (columns <= 0) columns = fallback_columns;
    int full_rows = clear_cells / columns;
    int rest = clear_cells % columns;
    // Each row is erased in place (ECH): nothing is printed, so the cursor never wraps and the
    // bottom row's last cell cannot scroll the screen; the cells keep the colours in force.
    std::string out;
    for (int row = 0; row <= full_rows; ++row) {
        int count = row < full_rows ? columns : rest;
        if (count == 0 || (rows > 0 && row >= rows)) break;
        out += "\x1b[";
        append_number(out, row + 1);
        out += ";1H\x1b[";
        append_number(out, count);
        out += 'X';
    }
    out += "\x1b[H";
    write_out(out.data(), out.size());
}

void set_cursor(int col, int row) {
    if (!stdout_is_terminal() || col < 0 || row < 0) return;
    char text[32];
    int length = std::snprintf(text, sizeof text, "\x1b[%d;%dH", row + 1, col + 1);
    if (length > 0) write_out(text, static_cast<std::size_t>(length));
}

void get_cursor(int *col_out, int *row_out) {
    *col_out = -1;
    *row_out = -1;
    if (!stdout_is_terminal() || !terminal_ready()) return;
    write_out("\x1b[6n", 4);
    int col = -1;
    int row = -1;
    if (read_cursor_report(&col, &row)) {
        *col_out = col;
        *row_out = row;
    }
}

int key_pending() {
    // The usual answer, with no input since the last look: one load, no system call.
    if (look_again.load(std::memory_order_relaxed) == 0) return 0;
    if (term_state != TermState::ready) {
        if (!terminal_ready()) {
            look_again.store(0);
            return 0;
        }
        if (look_again.load() == 0) return 0; // the setup looked: nothing waits
    }
    if (taken_input) return 1;
    // Clear before looking: input arriving after the look raises SIGIO and sets it again.
    look_again.store(0);
    if (bytes_waiting() > 0) {
        // Nothing is consumed, so no further signal comes for these bytes: keep looking.
        look_again.store(1);
        return 1;
    }
    if (!input_signal) look_again.store(1);
    return 0;
}

void tell_reading_from_terminal() {
    if (isatty(STDIN_FILENO) != 1) return;
    // Within 79 columns: one line on an 80-column terminal.
    std::fputs("Reading the table from the terminal until Ctrl-D; aoplay /HE lists the options.\n",
               stderr);
}

void hold_interrupts() {
    holding.store(1);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        catch_ending_signal(signal_number);
    std::signal(SIGPIPE, SIG_IGN);
    struct stat output {};
    output_is_pipe = fstat(STDOUT_FILENO, &output) == 0 &&
                     (S_ISFIFO(output.st_mode) || S_ISSOCK(output.st_mode));
}

void check_standard_output() {
    bool reader_gone = false;
    if (output_is_pipe) {
        // Asked without waiting: the system reports an error (a pipe) or a hang-up (a socket)
        // on the writing end once nobody reads, whatever events are asked for.
        struct pollfd watch {};
        watch.fd = STDOUT_FILENO;
        reader_gone = poll(&watch, 1, 0) == 1 && (watch.revents & (POLLERR | POLLHUP)) != 0;
    }
    if (reader_gone || std::ferror(stdout) != 0) record(SIGPIPE);
}

int interrupt_pending() {
    return recorded_signal.load(std::memory_order_relaxed);
}

void playback_closed() {}

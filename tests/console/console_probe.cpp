// Runs console operations on command in a real terminal and writes what they gave to a file,
// for the terminal tests to check. Usage: console_probe RESULTS COMMAND...
//   clear | fill | set COL ROW | get | key | waitkey | hold | int | waitint | print TEXT
//   mark TEXT | pid | waitfile PATH | idle | exit1
// Each result line is written at once with write(), so it is there even if a signal ends us.
// The exit status is the tool's: 128 + the recorded interrupt, or 0.
#include "console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

int results_fd = -1;

void result(const std::string &line) {
    std::string text = line + "\n";
    if (write(results_fd, text.data(), text.size()) < 0) std::_Exit(3);
}

double seconds_now() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void nap() {
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

// Fills the whole screen with a letter pattern (cell i gets 'A' + i % 26), but the bottom-right
// cell, whose writing could scroll some terminals.
void fill_screen() {
    struct winsize size {};
    ioctl(STDOUT_FILENO, TIOCGWINSZ, &size);
    std::string out;
    for (int row = 0; row < size.ws_row; ++row) {
        out += "\x1b[" + std::to_string(row + 1) + ";1H";
        for (int col = 0; col < size.ws_col; ++col) {
            if (row == size.ws_row - 1 && col == size.ws_col - 1) break;
            out += static_cast<char>('A' + (row * size.ws_col + col) % 26);
        }
    }
    std::fflush(stdout);
    if (write(STDOUT_FILENO, out.data(), out.size()) < 0) std::_Exit(3);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    results_fd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (results_fd < 0) return 2;
    for (int i = 2; i < argc; ++i) {
        std::string command = argv[i];
        auto operand = [&]() -> const char * { return i + 1 < argc ? argv[++i] : ""; };
        if (command == "clear") {
            clear_screen();
        } else if (command == "fill") {
            fill_screen();
        } else if (command == "set") {
            int col = std::atoi(operand());
            int row = std::atoi(operand());
            set_cursor(col, row);
        } else if (command == "get") {
            int col = 0;
            int row = 0;
            get_cursor(&col, &row);
            result("cursor " + std::to_string(col) + " " + std::to_string(row));
        } else if (command == "key") {
            result("key " + std::to_string(key_pending()));
        } else if (command == "waitkey") {
            // The playback's tight loop: no sleep between the tests.
            double give_up = seconds_now() + 20;
            int key = 0;
            for (long n = 0; (key = key_pending()) == 0; ++n)
                if (n % 4096 == 0 && seconds_now() > give_up) break;
            result("key " + std::to_string(key));
        } else if (command == "hold") {
            hold_interrupts();
        } else if (command == "int") {
            result("int " + std::to_string(interrupt_pending()));
        } else if (command == "waitint") {
            double give_up = seconds_now() + 20;
            while (interrupt_pending() == 0 && seconds_now() < give_up)
                nap();
            result("int " + std::to_string(interrupt_pending()));
        } else if (command == "print") {
            std::printf("%s", operand()); // left in stdio's buffer on purpose
        } else if (command == "mark") {
            result(operand());
        } else if (command == "pid") {
            result("pid " + std::to_string(getpid()));
        } else if (command == "waitfile") {
            const char *path = operand();
            struct stat info;
            double give_up = seconds_now() + 20;
            while (stat(path, &info) != 0 && seconds_now() < give_up)
                nap();
        } else if (command == "idle") {
            double give_up = seconds_now() + 30;
            while (seconds_now() < give_up)
                nap();
        } else if (command == "exit1") {
            std::exit(1);
        } else {
            result("unknown " + command);
            return 2;
        }
    }
    playback_closed();
    int signal_number = interrupt_pending();
    return signal_number != 0 ? 128 + signal_number : 0;
}

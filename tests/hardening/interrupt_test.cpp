// SIGINT, SIGTERM and SIGHUP at random moments of real-clock runs: during start-up and reading,
// before the board is used, and during playback. Every run ends with 128 + the signal and no
// core; a run that used the board leaves the scan stopped and the output at 0 V, and one that
// did not never drove the output. A few runs are in a terminal (a tmux pane), where the tool
// also puts the terminal's settings back.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr int runs = 60;
constexpr int terminal_runs = 3;
constexpr unsigned latest_ms = 300; // signals land from 0 to this long after the start
constexpr unsigned early_ms = 6;    // about when the board is first used: reading is quick
constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};
const std::string closing = "\nData collection terminated.\n";

// Long enough that reading it takes a noticeable part of the start-up.
std::string table() {
    std::string text;
    char line[32];
    for (int i = 0; i < 400000; ++i) {
        std::snprintf(line, sizeof line, "%d %.3f\n", i % 10000, (i % 2000) / 100.0 - 10.0);
        text += line;
    }
    return text;
}

bool board_used(const Trace &trace) {
    return trace.found && !trace.rows.empty();
}

// The scan stopped before the last write, and that write put the output at 0 V.
void expect_closed_at_zero(const Trace &trace, const std::string &what) {
    ASSERT_EQ(trace.summaries.size(), 1u) << what << ": one scan, stopped";
    EXPECT_EQ(trace.summary_after.front(), trace.rows.size() - 1)
        << what << ": the scan stops before the last write";
    EXPECT_EQ(trace.rows.back().index, -1) << what;
    EXPECT_EQ(trace.rows.back().raw, 32768) << what << ": the output ends at 0 V";
}

TEST(Interrupts, AtRandomMomentsEndWithTheSignalAndTheOutputAtZero) {
    if (std::getenv("AOPLAY_NO_SIGNALS") != nullptr) GTEST_SKIP() << "no POSIX signals here";
    const std::string input = table();
    std::mt19937 generator(20240611);
    int before_board = 0;
    for (int i = 0; i < runs; ++i) {
        const int signal_number = signals[generator() % 3];
        // A third of them early, in start-up and reading; the rest anywhere.
        const unsigned within_ms = generator() % 3 == 0 ? early_ms : latest_ms;
        const int after_ms = static_cast<int>(generator() % (within_ms + 1));
        const std::string what = "run " + std::to_string(i) + ": signal " +
                                 std::to_string(signal_number) + " after " +
                                 std::to_string(after_ms) + " ms";
        std::string trace_path = scratch_path("trace.csv");
        ToolCall call = tool_call({"/XC:2", "/TS:1000"}, input);
        call.env = {{"BOARDSIM_CLOCK", "real"}, {"BOARDSIM_TRACE", trace_path}};
        call.term_after_ms = after_ms;
        call.term_signal = signal_number;
        call.timeout_ms = 30000;
        ToolRun run = run_tool(call);
        Trace trace = read_trace(trace_path);
        std::remove(trace_path.c_str());

        EXPECT_EQ(run.status, 128 + signal_number) << what << "; " << run.err;
        EXPECT_FALSE(run.core_dumped) << what;
        EXPECT_EQ(run.err, "") << what;
        if (!board_used(trace)) {
            // Ended by the signal's own action before the first board call.
            ++before_board;
            EXPECT_EQ(run.end_signal, signal_number) << what;
            EXPECT_EQ(run.out, "") << what;
            continue;
        }
        EXPECT_EQ(run.end_signal, 0) << what << ": once the board is used the tool ends itself";
        EXPECT_TRUE(run.out.ends_with(closing)) << what;
        expect_closed_at_zero(trace, what);
    }
    std::printf("%d of %d signals came before the board was used\n", before_board, runs);
}

// --- in a terminal ---

// Waits, generously, for a file to hold a whole line.
std::string wait_for_line(const std::string &path) {
    auto give_up = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        std::string text = read_file(path);
        if (!text.empty() && text.back() == '\n') return text;
        if (std::chrono::steady_clock::now() > give_up) return "";
        std::this_thread::sleep_for(2ms);
    }
}

std::string tool_path() {
    const char *command = std::getenv("AOPLAY_COMMAND");
    return command != nullptr ? command : "aoplay";
}

TEST(Interrupts, InATerminalPutTheTerminalsSettingsBack) {
    if (std::getenv("AOPLAY_NO_SIGNALS") != nullptr) GTEST_SKIP() << "no POSIX signals here";
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
    char pattern[] = "/tmp/aoplay-hardening-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    { std::ofstream(dir + "/table") << table(); }
    std::mt19937 generator(7);
    for (int i = 0; i < terminal_runs; ++i) {
        const int signal_number = signals[i % 3];
        // Late enough, mostly, that the tool has set the terminal up.
        const int after_ms = 100 + static_cast<int>(generator() % (latest_ms - 100 + 1));
        const std::string what = "terminal run " + std::to_string(i) + ": signal " +
                                 std::to_string(signal_number) + " after " +
                                 std::to_string(after_ms) + " ms";
        const std::string run_dir = dir + "/" + std::to_string(i);
        ASSERT_EQ(shell("mkdir '" + run_dir + "' 2>&1"), "");
        // The tool in the pane's foreground, its pid written first by the shell it replaces.
        std::ofstream(run_dir + "/run.sh")
            << "ulimit -c 0\n"
            << "stty -g > before\n"
            << "BOARDSIM_CLOCK=real BOARDSIM_TRACE=trace.csv sh -c 'echo $$ > pid; exec "
            << tool_path() << " /XC:2 /TS:1000 < ../table'\n"
            << "echo $? > rc\n"
            << "stty -g > after\n"
            << "exec sleep 60\n";
        const std::string socket =
            "aoplay-hardening-" + std::to_string(getpid()) + "-" + std::to_string(i);
        const std::string tmux = "env -u TMUX tmux -L " + socket + " -f /dev/null ";
        EXPECT_EQ(shell(tmux + "new-session -d -x 100 -y 30 -c '" + run_dir + "' 'sh run.sh' 2>&1"),
                  "")
            << what;
        std::string pid_line = wait_for_line(run_dir + "/pid");
        if (!pid_line.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
            kill(std::atoi(pid_line.c_str()), signal_number);
        }
        std::string rc = wait_for_line(run_dir + "/rc");
        std::string after = wait_for_line(run_dir + "/after");
        shell(tmux + "kill-server 2>&1");

        EXPECT_FALSE(pid_line.empty()) << what << ": the tool never started";
        EXPECT_EQ(rc, std::to_string(128 + signal_number) + "\n") << what;
        EXPECT_FALSE(after.empty()) << what;
        EXPECT_EQ(after, read_file(run_dir + "/before")) << what << ": terminal settings";
        Trace trace = read_trace(run_dir + "/trace.csv");
        if (board_used(trace)) expect_closed_at_zero(trace, what);
    }
    shell("rm -rf '" + dir + "'");
}

} // namespace

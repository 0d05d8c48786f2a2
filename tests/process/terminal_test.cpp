// The tool in a real terminal (a tmux pane): the screen layout, a key ending the run, and the
// simulated board's trace showing the output back at 0 V.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool eventually(const std::function<bool()> &condition) {
    auto give_up = std::chrono::steady_clock::now() + 30s; // the machine is shared and noisy
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class InTerminal : public testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
        static int serial = 0;
        socket_ = "aoplay-term-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    }
    void TearDown() override {
        if (started_) tmux("kill-server");
        for (const auto &path : {trace_, done_, gate_})
            std::remove(path.c_str());
    }

    std::string tmux(const std::string &arguments) {
        return shell("env -u TMUX tmux -L " + socket_ + " -f /dev/null " + arguments + " 2>&1");
    }

    // Runs the tool in an 80 x 25 pane with the example table on standard input (`input`: the
    // redirection, none for the terminal itself); with `gated`, only once open_gate() is
    // called. The exit status and whatever the shell reads from the terminal afterwards land in
    // done_.
    void start(const std::string &args, bool gated = false,
               const std::string &input = std::string(" < ") + EXAMPLE_TABLE) {
        const char *command = std::getenv("AOPLAY_COMMAND");
        std::string wait = gated ? "while [ ! -e " + gate_ + " ]; do sleep 0.05; done; " : "";
        std::string script = wait + "BOARDSIM_TRACE=" + trace_ + " " +
                             (command != nullptr ? command : "aoplay") + " " + args + input +
                             "; rc=$?; read -r -t 2 -n 1 left; echo \"rc=$rc left=$left\" > " +
                             done_ + "; exec sleep 60";
        ASSERT_EQ(tmux("new-session -d -s run -x 80 -y 25 '" + script + "'"), "");
        started_ = true;
    }

    std::vector<std::string> screen() {
        std::vector<std::string> rows;
        std::istringstream in(tmux("capture-pane -p -t run"));
        for (std::string row; std::getline(in, row);)
            rows.push_back(row);
        rows.resize(25);
        return rows;
    }
    bool screen_row_starts(int row, const std::string &text) {
        return screen()[static_cast<std::size_t>(row)].rfind(text, 0) == 0;
    }
    std::string done() {
        eventually([&] { return read_file(done_).find('\n') != std::string::npos; });
        std::string text = read_file(done_);
        return text.substr(0, text.find('\n'));
    }
    std::string cursor() {
        std::string text = tmux("display-message -p -t run '#{cursor_x},#{cursor_y}'");
        return text.substr(0, text.find('\n'));
    }
    void send(const std::string &keys) { ASSERT_EQ(tmux("send-keys -t run " + keys), ""); }
    void open_gate() { write_file(gate_, ""); }

    std::string socket_;
    std::string trace_ = scratch_path("trace.csv");
    std::string done_ = scratch_path("done");
    std::string gate_ = scratch_path("gate");
    bool started_ = false;
};

// The Windows build on wine's console (AOPLAY_WINE set; tests/windows/wine-console starts it):
// Ctrl-C is the console's interrupt there, as on Windows, and the console keeps the keys it has
// read from the terminal, which it starts to read only once the tool first looks for a key.
bool on_wine_console() {
    return std::getenv("AOPLAY_WINE") != nullptr;
}
std::string status_part(const std::string &done) {
    return done.substr(0, done.find(' '));
}

std::vector<TraceRow> played_rows(const Trace &t) {
    std::vector<TraceRow> rows;
    for (const auto &row : t.rows)
        if (row.index >= 0) rows.push_back(row);
    return rows;
}

void expect_output_back_at_zero(const Trace &t) {
    ASSERT_TRUE(t.found);
    ASSERT_FALSE(t.rows.empty());
    EXPECT_EQ(t.rows.back().index, -1);
    EXPECT_EQ(t.rows.back().raw, 32768);
    EXPECT_EQ(t.summaries.size(), 1u);
}

TEST_F(InTerminal, ScreenLayoutAndAKeyEndingTheRun) {
    start("/SL:1 /XC:2 /TS:100");
    ASSERT_TRUE(eventually([&] { return screen_row_starts(5, "Output Number: 100"); }))
        << tmux("capture-pane -p -t run");
    std::vector<std::string> rows = screen();
    EXPECT_EQ(rows[0], "");
    EXPECT_EQ(rows[1], "Outputting data...");
    EXPECT_EQ(rows[3], "Press any key to quit.");
    send("q");
    if (on_wine_console()) {
        EXPECT_EQ(status_part(done()), "rc=0");
    } else {
        EXPECT_EQ(done(), "rc=0 left=q") << "the key that ended the run stays for the shell";
    }
    rows = screen();
    EXPECT_TRUE(rows[5].rfind("Output Number: ", 0) == 0) << rows[5];
    EXPECT_NE(rows[5].find("        Value: "), std::string::npos) << rows[5];
    EXPECT_EQ(rows[6], "");
    EXPECT_EQ(rows[7], "Data collection terminated.");
    for (int row = 8; row < 25; ++row)
        EXPECT_EQ(rows[static_cast<std::size_t>(row)], "") << row;
    EXPECT_EQ(cursor(), "0,23") << "the last line end is printed from column 1 of row 22";
    Trace t = read_trace(trace_);
    expect_output_back_at_zero(t);
    // Under load a poll pass may miss an index; the one shown on screen was played.
    bool shown_index_played = false;
    for (const auto &row : played_rows(t))
        shown_index_played = shown_index_played || row.index == 100;
    EXPECT_TRUE(shown_index_played);
}

TEST_F(InTerminal, CtrlCIsAKeyLikeAnyOther) {
    start("/SL:1 /XC:2 /TS:100");
    ASSERT_TRUE(eventually([&] { return screen_row_starts(5, "Output Number: "); }));
    send("C-c");
    EXPECT_EQ(status_part(done()), on_wine_console() ? "rc=130" : "rc=0");
    EXPECT_TRUE(screen_row_starts(7, "Data collection terminated."));
    expect_output_back_at_zero(read_trace(trace_));
}

TEST_F(InTerminal, AKeyAlreadyPendingEndsTheRunBeforeAnythingPlays) {
    start("/SL:1 /XC:2 /TS:1000", true);
    send("x"); // typed while the shell still waits: pending when the tool starts polling
    open_gate();
    if (on_wine_console()) {
        EXPECT_EQ(status_part(done()), "rc=0");
    } else {
        EXPECT_EQ(done(), "rc=0 left=x");
    }
    EXPECT_TRUE(screen_row_starts(7, "Data collection terminated."));
    Trace t = read_trace(trace_);
    expect_output_back_at_zero(t);
    if (!on_wine_console()) {
        EXPECT_TRUE(played_rows(t).empty()) << "nothing is played";
    }
}

// A table typed at the terminal: one line says how to end it before anything is read, and
// what is typed up to Ctrl-D plays.
TEST_F(InTerminal, ATableReadFromTheTerminalIsSaidToBe) {
    if (on_wine_console()) GTEST_SKIP() << "wine-console gives the tool a file to read";
    const std::string told =
        "Reading the table from the terminal until Ctrl-D; aoplay /HE lists the options.";
    start("/TS:1", false, "");
    ASSERT_TRUE(eventually([&] { return screen_row_starts(0, told); }))
        << tmux("capture-pane -p -t run");
    send("1.5 Enter -2 Enter");
    ASSERT_TRUE(eventually([&] { return screen_row_starts(2, "-2"); }));
    std::vector<std::string> rows = screen();
    EXPECT_EQ(rows[0], told) << "one line";
    EXPECT_EQ(rows[1], "1.5");
    send("C-d");
    ASSERT_TRUE(eventually([&] { return screen_row_starts(5, "Output Number:   1"); }))
        << tmux("capture-pane -p -t run");
    send("q");
    EXPECT_EQ(done(), "rc=0 left=q");
    Trace t = read_trace(trace_);
    expect_output_back_at_zero(t);
    std::vector<TraceRow> played = played_rows(t);
    ASSERT_GE(played.size(), 2u);
    EXPECT_EQ(played[0].raw, raw_code(1.5));
    EXPECT_EQ(played[1].raw, raw_code(-2));
}

} // namespace

// The console layer as users meet it: the probe program runs in a tmux pane (a real terminal),
// the test sends it keys and signals, and checks the screen, the cursor and the terminal's
// settings through tmux and through the probe's results file.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using namespace std::chrono_literals;

// Generous: the machine is shared and noisy. Waits end as soon as their condition holds.
constexpr auto patience = 20s;

std::string run(const std::string &command) {
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    pclose(pipe);
    return output;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string file_text(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool eventually(const std::function<bool()> &condition) {
    auto give_up = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Names parametrized cases after their table entry's name.
struct ByName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case> &case_info) const {
        return case_info.param.name;
    }
};

class Terminal : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "no tmux";
        char pattern[] = "/tmp/aoplay-console-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // A server of its own, its socket in the test's directory so that it goes with it.
        socket_ = dir_ + "/tmux.sock";
    }

    void TearDown() override {
        if (started_) tmux("kill-server");
        if (!dir_.empty()) run("rm -rf '" + dir_ + "'");
    }

    std::string tmux(const std::string &arguments) {
        return run("env -u TMUX tmux -S '" + socket_ + "' -f /dev/null " + arguments + " 2>&1");
    }

    // Starts a pane of cols x rows running the probe (through runner, if any) with probe_args
    // (shell text, so it may carry a redirection), then what_then. The pane's settings are kept
    // before and after.
    void start(int cols, int rows, const std::string &probe_args, const std::string &what_then = "",
               const std::string &runner = "") {
        std::string script = "ulimit -c 0; stty -g > before; " + runner + " " + CONSOLE_PROBE +
                             " results " + probe_args + "; echo \"rc $?\" >> results; " +
                             "stty -g > after; " + what_then + " exec sleep 60";
        std::string output = tmux("new-session -d -s probe -x " + std::to_string(cols) + " -y " +
                                  std::to_string(rows) + " -c '" + dir_ + "' '" + script + "'");
        started_ = true;
        ASSERT_EQ(output, "");
        cols_ = cols;
        rows_ = rows;
    }

    std::string file(const std::string &name) { return file_text(dir_ + "/" + name); }

    std::vector<std::string> results() {
        std::vector<std::string> lines;
        std::istringstream in(file("results"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    bool has_result(const std::string &line) {
        for (const std::string &seen : results())
            if (seen == line) return true;
        return false;
    }

    // Waits for a result line starting with prefix and gives that line ("" on timeout).
    std::string wait_result(const std::string &prefix) {
        std::string found;
        eventually([&] {
            for (const std::string &seen : results())
                if (seen.compare(0, prefix.size(), prefix) == 0) return found = seen, true;
            return false;
        });
        return found;
    }

    int probe_pid() { return std::atoi(wait_result("pid ").substr(4).c_str()); }

    void touch(const std::string &name) { std::ofstream(dir_ + "/" + name) << "go\n"; }

    void send_keys(const std::string &keys) { ASSERT_EQ(tmux("send-keys -t probe " + keys), ""); }

    std::string pane(const std::string &format) {
        return trimmed(tmux("display-message -p -t probe '" + format + "'"));
    }

    std::string cursor() { return "cursor " + pane("#{cursor_x} #{cursor_y}"); }

    std::string settings_now() { return run("stty -g -F " + pane("#{pane_tty}")); }

    // The screen, each row padded to the pane's width.
    std::vector<std::string> screen() {
        std::vector<std::string> lines;
        std::istringstream in(tmux("capture-pane -p -t probe"));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        lines.resize(static_cast<std::size_t>(rows_));
        for (std::string &line : lines)
            line.resize(static_cast<std::size_t>(cols_), ' ');
        return lines;
    }

    // Waits until pid has taken the signals sent to it (none left pending).
    static bool signals_taken(int pid) {
        return eventually([&] {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            if (!status) return true;
            for (std::string line; std::getline(status, line);)
                if ((line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) &&
                    line.find_first_not_of("0", line.find_first_not_of(" \t", 7)) !=
                        std::string::npos)
                    return false;
            return true;
        });
    }

    std::string dir_;
    std::string socket_;
    bool started_ = false;
    int cols_ = 0;
    int rows_ = 0;
};

// --- clear_screen ---

struct Window {
    int cols;
    int rows;
};

// Table entries print as their names, so the test names stay readable and stable.
void PrintTo(const Window &window, std::ostream *out) {
    *out << window.cols << 'x' << window.rows;
}

class ClearScreen : public Terminal, public ::testing::WithParamInterface<Window> {};

// 120 x 40: 4800 cells, the last 800 keep their text; 80 x 60: 4000 is exactly 50 full rows;
// 80 x 40 and 100 x 40: fewer cells than 4000 or exactly 4000, so the whole screen, including
// the bottom-right cell, is blanked without scrolling.
INSTANTIATE_TEST_SUITE_P(Windows, ClearScreen,
                         ::testing::Values(Window{120, 40}, Window{80, 60}, Window{80, 40},
                                           Window{100, 40}),
                         [](const auto &window_info) {
                             return std::to_string(window_info.param.cols) + "x" +
                                    std::to_string(window_info.param.rows);
                         });

TEST_P(ClearScreen, BlanksTheFirst4000CellsOnlyAndHomesTheCursor) {
    const Window window = GetParam();
    // get answers only after the terminal has taken everything written before it.
    start(window.cols, window.rows, "fill clear get idle");
    ASSERT_EQ(wait_result("cursor"), "cursor 0 0");
    EXPECT_EQ(cursor(), "cursor 0 0");
    EXPECT_EQ(pane("#{history_size}"), "0") << "the screen scrolled";

    std::vector<std::string> lines = screen();
    int wrong = 0;
    for (int row = 0; row < window.rows; ++row)
        for (int col = 0; col < window.cols; ++col) {
            int cell = row * window.cols + col;
            bool corner = row == window.rows - 1 && col == window.cols - 1;
            char expected = cell < 4000 || corner ? ' ' : static_cast<char>('A' + cell % 26);
            char seen = lines[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
            if (seen != expected && wrong++ < 5)
                ADD_FAILURE() << "cell " << col << "," << row << " is '" << seen << "', not '"
                              << expected << "'";
        }
    EXPECT_EQ(wrong, 0);
}

// --- set_cursor and get_cursor ---

TEST_F(Terminal, CursorGoesWhereSetAndIsReadBack) {
    struct Place {
        int col;
        int row;
    };
    const std::vector<Place> places = {{5, 3}, {119, 39}, {0, 0}, {42, 17}};
    std::string commands;
    for (const Place &place : places)
        commands += "set " + std::to_string(place.col) + " " + std::to_string(place.row) + " get ";
    // Text still in stdio's buffer must come out before the cursor moves or is read.
    commands += "set 0 2 print hello get print abc set 10 5 get idle";
    start(120, 40, commands);
    ASSERT_NE(wait_result("cursor 10"), "");

    std::vector<std::string> expected;
    for (const Place &place : places)
        expected.push_back("cursor " + std::to_string(place.col) + " " + std::to_string(place.row));
    expected.push_back("cursor 5 2");
    expected.push_back("cursor 10 5");
    EXPECT_EQ(results(), expected);
    EXPECT_EQ(cursor(), "cursor 10 5") << "the terminal's own idea of the cursor";
    EXPECT_EQ(screen()[2].substr(0, 9), "helloabc ");
}

// With nothing to read the cursor from, the answer is -1, -1 and nothing is written.
struct Unreadable {
    const char *name;
    const char *runner;
    const char *probe_args;
};
void PrintTo(const Unreadable &unreadable, std::ostream *out) {
    *out << unreadable.name;
}

class NoCursor : public Terminal, public ::testing::WithParamInterface<Unreadable> {};

INSTANTIATE_TEST_SUITE_P(
    Cases, NoCursor,
    ::testing::Values(Unreadable{"StdoutToFile", "", "clear set 3 4 get key > stdout.txt"},
                      Unreadable{"NoControllingTerminal", "setsid -w", "get key"}),
    ByName());

TEST_P(NoCursor, GivesMinusOneAndWritesNothing) {
    start(120, 40, GetParam().probe_args, "", GetParam().runner);
    ASSERT_NE(wait_result("rc "), "");
    EXPECT_EQ(results(), (std::vector<std::string>{"cursor -1 -1", "key 0", "rc 0"}));
    EXPECT_EQ(file("stdout.txt"), "");
    EXPECT_EQ(cursor(), "cursor 0 0");
}

// --- key_pending ---

struct Key {
    const char *name;
    const char *keys; // as send-keys takes them
};
void PrintTo(const Key &key, std::ostream *out) {
    *out << key.name;
}

class KeyPress : public Terminal, public ::testing::WithParamInterface<Key> {};

INSTANTIATE_TEST_SUITE_P(Keys, KeyPress,
                         ::testing::Values(Key{"Letter", "a"}, Key{"Arrow", "Up"},
                                           Key{"CtrlC", "C-c"}),
                         ByName());

// Sent while the probe is in the playback's tight loop: seen, still there on the next calls
// (nothing consumed), not echoed (the cursor stays at 0, 0) and, for Ctrl-C, no signal.
TEST_P(KeyPress, IsPendingAndStaysPending) {
    start(120, 40, "key mark ready waitkey key get key idle");
    ASSERT_NE(wait_result("ready"), "");
    send_keys(GetParam().keys);
    ASSERT_NE(wait_result("cursor"), "");
    // The last key test's answer comes just after the cursor's: wait for it too.
    eventually([&] { return results().size() >= 6; });
    EXPECT_EQ(results(), (std::vector<std::string>{"key 0", "ready", "key 1", "key 1", "cursor 0 0",
                                                   "key 1"}));
}

// A key typed before the first key test, or before a cursor query that has to read past it,
// is still a pending key.
struct Early {
    const char *name;
    const char *keys;
    const char *commands;
};
void PrintTo(const Early &early, std::ostream *out) {
    *out << early.name;
}

class EarlyKey : public Terminal, public ::testing::WithParamInterface<Early> {};

INSTANTIATE_TEST_SUITE_P(Cases, EarlyKey,
                         ::testing::Values(Early{"BeforeFirstKeyTest", "a", "key key"},
                                           Early{"LetterBeforeCursorQuery", "a", "get key"},
                                           Early{"ArrowBeforeCursorQuery", "Up", "get key"}),
                         ByName());

TEST_P(EarlyKey, CountsAsPending) {
    const Early early = GetParam();
    start(120, 40, std::string("mark started waitfile go ") + early.commands + " mark done idle");
    ASSERT_NE(wait_result("started"), "");
    send_keys(early.keys);
    // The terminal is still in its usual mode and echoes: once the echo shows, the key waits
    // in the terminal's input.
    ASSERT_TRUE(
        eventually([&] { return screen()[0].find_first_not_of(' ') != std::string::npos; }));
    std::string where = cursor();
    touch("go");
    ASSERT_NE(wait_result("done"), "");
    std::vector<std::string> expected = {"started"};
    if (std::string(early.commands) == "key key")
        expected.insert(expected.end(), {"key 1", "key 1"});
    else
        expected.insert(expected.end(), {where, "key 1"});
    expected.push_back("done");
    EXPECT_EQ(results(), expected);
}

// --- the terminal's settings are put back however the process ends ---

struct Ending {
    const char *name;
    const char *probe_args;
    int signal;    // sent once the probe is ready, or 0
    int exit_code; // as the shell reports it
};
void PrintTo(const Ending &ending, std::ostream *out) {
    *out << ending.name;
}

class Restore : public Terminal, public ::testing::WithParamInterface<Ending> {};

INSTANTIATE_TEST_SUITE_P(
    Endings, Restore,
    ::testing::Values(Ending{"NormalReturn", "key pid mark ready waitfile go", 0, 0},
                      Ending{"Exit1", "key pid mark ready waitfile go exit1", 0, 1},
                      Ending{"SigtermUnheld", "key pid mark ready idle", SIGTERM, 128 + SIGTERM},
                      Ending{"SigintUnheld", "key pid mark ready idle", SIGINT, 128 + SIGINT},
                      Ending{"SigquitHeld", "hold key pid mark ready idle", SIGQUIT,
                             128 + SIGQUIT}),
    ByName());

TEST_P(Restore, SettingsAreTheSameAfterwards) {
    const Ending ending = GetParam();
    start(120, 40, ending.probe_args);
    ASSERT_NE(wait_result("ready"), "");
    std::string before = file("before");
    ASSERT_NE(before, "");
    EXPECT_NE(settings_now(), before) << "the probe did not change the terminal's settings";
    if (ending.signal != 0) {
        ASSERT_EQ(kill(probe_pid(), ending.signal), 0);
    } else {
        touch("go");
    }
    EXPECT_EQ(wait_result("rc "), "rc " + std::to_string(ending.exit_code));
    ASSERT_TRUE(eventually([&] { return file("after") != ""; }));
    EXPECT_EQ(file("after"), before);
}

// After hold_interrupts, SIGTERM only gets recorded; more signals while the run closes change
// nothing and do not cut the closing short; the settings come back at the end.
TEST_F(Terminal, HeldSigtermIsRecordedAndTheRunClosesInFull) {
    start(120, 40, "hold key pid mark ready waitint mark closing waitfile go mark closed");
    ASSERT_NE(wait_result("ready"), "");
    int pid = probe_pid();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_EQ(wait_result("int "), "int 15");
    ASSERT_NE(wait_result("closing"), "");
    // One at a time: signals pending together are taken in number order.
    for (int later : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(kill(pid, later), 0);
        ASSERT_TRUE(signals_taken(pid));
    }
    touch("go");
    EXPECT_EQ(wait_result("rc "), "rc 143");
    EXPECT_TRUE(has_result("closed"));
    ASSERT_TRUE(eventually([&] { return file("after") != ""; }));
    EXPECT_EQ(file("after"), file("before"));
}

// The settings come back without flushing input: the key that ended the run reaches the shell,
// also when it was typed before the cursor query, which had to read past it.
struct Leftover {
    const char *name;
    const char *probe_args;
    bool early; // typed before the probe starts, so the terminal still echoes it
};
void PrintTo(const Leftover &leftover, std::ostream *out) {
    *out << leftover.name;
}

class KeyAfterwards : public Terminal, public ::testing::WithParamInterface<Leftover> {};

INSTANTIATE_TEST_SUITE_P(Cases, KeyAfterwards,
                         ::testing::Values(Leftover{"TypedDuringTheRun", "key mark ready waitkey",
                                                    false},
                                           Leftover{"TypedBeforeTheCursorQuery",
                                                    "mark ready waitfile go get waitkey", true}),
                         ByName());

TEST_P(KeyAfterwards, ReachesTheShell) {
    const Leftover leftover = GetParam();
    if (leftover.early && getuid() != 0 && file_text("/proc/sys/dev/tty/legacy_tiocsti") == "0\n")
        GTEST_SKIP() << "this system does not let a key be put back into the terminal's input";
    start(120, 40, leftover.probe_args, "read -r line; echo \"left $line\" >> results;");
    ASSERT_NE(wait_result("ready"), "");
    send_keys("x");
    if (leftover.early) {
        ASSERT_TRUE(eventually([&] { return screen()[0].substr(0, 1) == "x"; }));
        touch("go");
    }
    ASSERT_EQ(wait_result("rc "), "rc 0");
    send_keys("Enter");
    EXPECT_EQ(wait_result("left"), "left x");
}

} // namespace

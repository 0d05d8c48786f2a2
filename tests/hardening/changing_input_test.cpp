// An input file that changes while the tool reads it, as a log still being written or a file
// rewritten under it: cut short, or grown. The tool reads what the file holds when it gets
// there, as read() gives it, and ends as any run does; it is never killed for it (a reader that
// mapped the file would be, by SIGBUS, where the file got shorter). Another thread changes the
// file over and over from before the run starts until it ends, so the verdicts hold wherever
// the changes fall. And a file whose header a shell has already read is read from there on.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t full_size = std::size_t{16} << 20;
constexpr std::size_t least_size = std::size_t{64} << 10; // never cut below this
const std::string line = "2.5\n";                         // sizes are whole lines

std::string lines_of(std::size_t bytes) {
    std::string text;
    text.reserve(bytes);
    while (text.size() < bytes)
        text += line;
    return text;
}

// Cut the file to a shorter length and write it back whole, over and over.
void cut_and_restore(int fd, const std::atomic<bool> &done) {
    const std::string full = lines_of(full_size);
    for (std::size_t round = 1; !done; ++round) {
        std::size_t cut = least_size + (round * 1234567 % (full_size - least_size)) / 4 * 4;
        if (ftruncate(fd, static_cast<off_t>(cut)) != 0) return;
        if (pwrite(fd, full.data(), full.size(), 0) != static_cast<ssize_t>(full.size())) return;
    }
}

// Add lines at the end in pieces until the file is full, then cut it back and start again.
void grow(int fd, const std::atomic<bool> &done) {
    const std::string piece = lines_of(std::size_t{256} << 10);
    while (!done) {
        if (ftruncate(fd, static_cast<off_t>(least_size)) != 0) return;
        for (std::size_t size = least_size; size < full_size && !done; size += piece.size())
            if (pwrite(fd, piece.data(), piece.size(), static_cast<off_t>(size)) !=
                static_cast<ssize_t>(piece.size()))
                return;
    }
}

struct Change {
    const char *name;
    std::size_t start_size;
    void (*change)(int fd, const std::atomic<bool> &done);
};

TEST(ChangingInput, AFileCutShortOrGrownWhileReadIsReadAsItComes) {
    const Change changes[] = {
        {"cut short and written back", full_size, cut_and_restore},
        {"grown at its end", least_size, grow},
    };
    for (const Change &c : changes) {
        std::string path = scratch_path("changing.txt");
        std::string trace_path = scratch_path("trace.csv");
        write_file(path, lines_of(c.start_size));
        int fd = open(path.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0) << c.name;

        std::atomic<bool> done{false};
        std::thread changer(c.change, fd, std::cref(done));
        ToolCall call = tool_call({}, "");
        call.stdin_path = path;
        call.env = {{"BOARDSIM_CLOCK", "step"},
                    {"BOARDSIM_STOP_AFTER", "3"},
                    {"BOARDSIM_TRACE", trace_path}};
        ToolRun run = run_tool(call);
        done = true;
        changer.join();
        close(fd);
        Trace trace = read_trace(trace_path);
        std::remove(path.c_str());
        std::remove(trace_path.c_str());

        EXPECT_EQ(run.end_signal, 0) << c.name << ": never killed";
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.err, "") << c.name;
        std::vector<int> played;
        for (const TraceRow &row : trace.rows)
            if (row.index >= 0) played.push_back(row.raw);
        EXPECT_EQ(played, std::vector<int>(3, raw_code(2.5))) << c.name;
    }
}

TEST(ChangingInput, AFileWhoseHeaderTheShellReadIsReadFromThere) {
    const char *command = std::getenv("AOPLAY_COMMAND");
    ASSERT_NE(command, nullptr);
    std::string path = scratch_path("table.txt");
    std::string trace_path = scratch_path("trace.csv");
    write_file(path, "time volts\n0 2.5\n1 -1\n");
    shell("(head -n 1 >/dev/null; BOARDSIM_CLOCK=step BOARDSIM_STOP_AFTER=2 BOARDSIM_TRACE='" +
          trace_path + "' " + command + " /XC:2 >/dev/null) <'" + path + "'");
    Trace trace = read_trace(trace_path);
    std::remove(path.c_str());
    std::remove(trace_path.c_str());

    std::vector<int> played;
    for (const TraceRow &row : trace.rows)
        if (row.index >= 0) played.push_back(row.raw);
    EXPECT_EQ(played, (std::vector<int>{raw_code(2.5), raw_code(-1)}));
}

} // namespace

// Options and reading through the built tool: what reaches standard error, the exit status, and
// the values that the simulated board is given to play.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char *const option_list =
    "Valid options are:\n      /SL:n\n      /XC:n\n      /TS:ft\n      /HE\n";

// A run on the step clock that stops by itself after `samples` samples, with its trace.
struct StepRun {
    ToolRun run;
    Trace trace;
};

StepRun run_on_step_clock(ToolCall call, int samples) {
    std::string trace_path = scratch_path("trace.csv");
    call.env.push_back({"BOARDSIM_CLOCK", "step"});
    call.env.push_back({"BOARDSIM_STOP_AFTER", std::to_string(samples)});
    call.env.push_back({"BOARDSIM_TRACE", trace_path});
    StepRun result{run_tool(call), read_trace(trace_path)};
    std::remove(trace_path.c_str());
    return result;
}

// Raw codes played while the scan ran, in order.
std::vector<int> played(const Trace &trace) {
    std::vector<int> raws;
    for (const auto &row : trace.rows)
        if (row.index >= 0) raws.push_back(row.raw);
    return raws;
}

std::vector<int> raws_of(const std::vector<double> &volts) {
    std::vector<int> raws;
    for (double v : volts)
        raws.push_back(raw_code(v));
    return raws;
}

TEST(ToolOptions, HelpPrintsTheOptionListOnStandardErrorWithStatusZero) {
    for (const char *arg : {"/HE", "/he", "/HELP", "/Hex", "/XC:he", "/SL:3/HE"}) {
        auto [run, trace] = run_on_step_clock(tool_call({arg}, "1\n"), 1);
        EXPECT_EQ(run.status, 0) << arg;
        EXPECT_EQ(run.err, option_list) << arg;
        EXPECT_EQ(run.out, "") << arg;
        EXPECT_FALSE(trace.found) << arg << ": the board is never used";
    }
}

struct FailureCase {
    const char *name;
    std::vector<std::string> args;
    std::string input;
    const char *message;
};

TEST(ToolFailures, EndWithTheMessageAndStatusOneBeforeTheBoardIsUsed) {
    const FailureCase cases[] = {
        {"command line of 256",
         {"/XC:1", std::string(251, '9')},
         "1\n",
         "Command line too long !\n"},
        // Far past the 255 characters, and within the 32767 a Windows command line holds.
        {"command line of 30000", {std::string(30000, '/')}, "1\n", "Command line too long !\n"},
        {"missing column", {"/XC:2"}, "1 2\n3\n", "Data read failure !\n"},
        {"blank line", {}, "1\n\n2\n", "Data read failure !\n"},
        {"data line of 256", {}, std::string(256, '1') + "\n", "Input line too long !\n"},
        {"rate below 1", {"/TS:0.5"}, "1\n", "Rate out of range !\n"},
        {"rate of 2^31", {"/TS:2147483648"}, "1\n", "Rate out of range !\n"},
        {"rate of 3e9", {"/TS:3e9"}, "1\n", "Rate out of range !\n"},
        {"infinite rate", {"/TS:1e400"}, "1\n", "Rate out of range !\n"},
    };
    for (const auto &c : cases) {
        auto [run, trace] = run_on_step_clock(tool_call(c.args, c.input), 1);
        EXPECT_EQ(run.status, 1) << c.name;
        EXPECT_EQ(run.err, c.message) << c.name;
        EXPECT_EQ(run.out, "") << c.name;
        EXPECT_FALSE(trace.found) << c.name << ": the board is never used";
    }
}

struct ReadCase {
    const char *name;
    std::vector<std::string> args;
    std::string input;
    std::vector<double> expected;
    Stdin stdin_kind = Stdin::file;
};

TEST(ToolReading, PlaysTheChosenColumn) {
    const ReadCase cases[] = {
        {"command line of 255 fits", {"/XC:1", std::string(250, '9')}, "1\n2\n", {1, 2}},
        {"header and column 2", {"/SL:1", "/XC:2"}, "t v\n0 1.5\n1 -2.25\n", {1.5, -2.25}},
        {"options in one argument", {"/sl:2/xc:3"}, "a\nb\n1 2.5 -0.75 9\n", {-0.75}},
        {"options glued across arguments", {"/SL:", "1"}, "h\n4\n", {4}},
        {"CR LF and a last line without LF", {}, "1\r\n2\r\n3", {1, 2, 3}},
        {"Ctrl-Z ends a file",
         {},
         "1\n2\n\x1a"
         "3\n",
         {1, 2}},
        {"Ctrl-Z ends a pipe",
         {},
         "1\n2\n\x1a"
         "3\n",
         {1, 2},
         Stdin::pipe},
        {"a lone CR stays in the line", {"/XC:2"}, "1\r2 7\n", {7}},
        {"a NUL ends the line", {"/XC:2"}, std::string("1 2\0 3\n4 5\n", 11), {2, 5}},
        {"d exponent", {}, "1d-1\n", {0.1}},
        {"past the table: 0 V", {}, "1\n2\n", {1, 2, 0, 0}},
        {"empty input plays 0 V", {}, "", {0, 0}},
        {"closed standard input plays 0 V", {}, "", {0, 0}, Stdin::closed},
    };
    for (const auto &c : cases) {
        ToolCall call = tool_call(c.args, c.input);
        call.stdin_kind = c.stdin_kind;
        auto [run, trace] = run_on_step_clock(call, static_cast<int>(c.expected.size()));
        EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.err, "") << c.name;
        EXPECT_EQ(played(trace), raws_of(c.expected)) << c.name;
    }
}

} // namespace

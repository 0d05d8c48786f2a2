// Bad input through the built tool, one row each: the exact standard error, the status, and for
// the runs that reach the board, what was played and that the trace ends with the scan stopped
// and the output at 0 V. Runs use the step clock and stop by themselves after a few samples.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int zero = 32768;                           // raw code of 0 V
constexpr int top = 65535;                            // raw code past +10 V
constexpr int bottom = 0;                             // raw code past -10 V
constexpr std::size_t block = std::size_t{128} << 10; // the reader's input block

const char *const too_long_line = "Input line too long !\n";
const char *const read_failure = "Data read failure !\n";
const char *const too_long_command = "Command line too long !\n";

struct BadInput {
    const char *name;
    std::vector<std::string> args;
    std::string input;
    const char *err; // all of standard error
    int status;
    std::vector<int> played; // raw codes played while the scan ran; empty: the board is unused
    Stdin stdin_kind = Stdin::file;
    const char *stdout_path = ""; // empty: captured
};

// Rows print as their names in test listings, not as their bytes.
void PrintTo(const BadInput &row, std::ostream *out) {
    *out << row.name;
}

std::string repeated(const std::string &part, std::size_t times) {
    std::string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

// 255 characters whose second column, 2.5, is its last three.
std::string line_of_255() {
    return "1" + std::string(251, ' ') + "2.5";
}

// Skipped header lines of "h" that end `before_end` bytes before the first block does, so that
// the next line starts there; the count of lines for /SL goes with it.
struct Header {
    std::string text;
    std::string skip_option;
};
Header header_ending_before_block_end(std::size_t before_end) {
    std::size_t lines = (block - before_end) / 2;
    std::string text = repeated("h\n", lines);
    if (text.size() < block - before_end) text = "hh\n" + text.substr(2);
    return {text, "/SL:" + std::to_string(lines)};
}

// Seeded, and the same on every standard library: mt19937's output is fixed by the standard.
std::string random_bytes(std::uint32_t seed, std::size_t size) {
    std::mt19937 generator(seed);
    std::string out(size, '\0');
    for (char &c : out)
        c = static_cast<char>(generator() >> 24);
    return out;
}

std::vector<BadInput> bad_inputs() {
    const std::string long_255 = line_of_255();
    const Header straddling = header_ending_before_block_end(100);
    const Header before_z = header_ending_before_block_end(3);
    return {
        // Data lines: at most 255 characters, however they fall across the reader's blocks.
        {"data line of 255", {"/XC:2"}, long_255 + "\n", "", 0, {raw_code(2.5)}},
        {"data line of 255 and CR LF", {"/XC:2"}, long_255 + "\r\n", "", 0, {raw_code(2.5)}},
        {"data line of 256", {"/XC:2"}, long_255 + "0\n", too_long_line, 1, {}},
        {"last line of 255 and a CR without LF", {}, long_255 + "\r", too_long_line, 1, {}},
        {"data line of 100,000", {}, std::string(100000, '7') + "\n", too_long_line, 1, {}},
        {"data line of 255 across the first block's end",
         {straddling.skip_option, "/XC:2"},
         straddling.text + long_255 + "\n",
         "",
         0,
         {raw_code(2.5)}},
        {"data line of 256 across the first block's end",
         {straddling.skip_option, "/XC:2"},
         straddling.text + long_255 + "0\n",
         too_long_line,
         1,
         {}},
        // Skipped header lines may be of any length, within a block or across several.
        {"skipped header line of 1 MB",
         {"/SL:1"},
         std::string(1000000, 'h') + "\n1.25\n",
         "",
         0,
         {raw_code(1.25)}},
        {"skipped header line of 3 MiB",
         {"/SL:2"},
         "t v\n" + std::string(3 * block, 'h') + "\n-1.25\n",
         "",
         0,
         {raw_code(-1.25)}},
        {"unskipped header line of 1 MB",
         {},
         std::string(1000000, 'h') + "\n1\n",
         too_long_line,
         1,
         {}},
        // The joined arguments: 255 characters at most, however many arguments make them.
        {"command line of 255",
         {"/XC:2", "/" + std::string(249, 'x')},
         "1 2\n",
         "",
         0,
         {raw_code(2)}},
        {"command line of 256",
         {"/XC:2", "/" + std::string(250, 'x')},
         "1 2\n",
         too_long_command,
         1,
         {}},
        {"128 arguments making 256",
         std::vector<std::string>(128, "/x"),
         "1\n",
         too_long_command,
         1,
         {}},
        {"command line of 100 KB",
         {"/XC:2" + std::string(100000, 'x')},
         "1 2\n",
         too_long_command,
         1,
         {}},
        // NUL bytes end a line's text, as they end a C string.
        {"NUL after the number", {}, std::string("1.5\0junk\n", 9), "", 0, {raw_code(1.5)}},
        {"NUL before the column", {"/XC:2"}, std::string("1\0 2\n", 5), read_failure, 1, {}},
        {"a line of one NUL", {}, std::string("1\n\0\n", 4), read_failure, 1, {}},
        {"NUL bytes in a skipped header",
         {"/SL:1"},
         std::string("\0\0\0\n2\n", 6),
         "",
         0,
         {raw_code(2)}},
        // A CR without a LF after it is part of the line: it neither ends it nor separates.
        {"lone CRs inside a line", {}, "1\r2\r3\n", "", 0, {raw_code(1)}},
        {"lines ended by CR alone are one line", {}, "1\r2\r3\r", "", 0, {raw_code(1), zero}},
        {"a CR before CR LF is a column", {}, "\r\r\n", "", 0, {zero}},
        {"CR LF alone is an empty line", {}, "\r\n", read_failure, 1, {}},
        // Ctrl-Z ends the input of a file or a pipe, wherever it is.
        {"Ctrl-Z mid-file",
         {},
         "1\n2\n\x1a"
         "3\n",
         "",
         0,
         {raw_code(1), raw_code(2), zero}},
        {"Ctrl-Z mid-line",
         {},
         "1\n2.5\x1a"
         "7\n",
         "",
         0,
         {raw_code(1), raw_code(2.5), zero}},
        {"Ctrl-Z mid-pipe",
         {},
         "1\n\x1a"
         "2\n",
         "",
         0,
         {raw_code(1), zero},
         Stdin::pipe},
        {"Ctrl-Z in a skipped header", {"/SL:1"}, "t\x1a\n1\n", "", 0, {zero}},
        {"Ctrl-Z just after the first block",
         {before_z.skip_option},
         before_z.text + "-4\n\x1a"
                         "4\n",
         "",
         0,
         {raw_code(-4), zero}},
        // Random binary. With every line skipped nothing is read, however the bytes fall. As
        // data: seed 8's first LF comes after 377 bytes and no Ctrl-Z; seed 1's input ends at
        // a Ctrl-Z at byte 88, before any LF, and its one line's text ends at a NUL at byte 4,
        // with no number before it.
        {"random binary, all skipped",
         {"/SL:2000000000"},
         random_bytes(1, block + 12345),
         "",
         0,
         {zero}},
        {"random binary as data, seed 8", {}, random_bytes(8, 65536), too_long_line, 1, {}},
        {"random binary as data, seed 1", {}, random_bytes(1, 65536), "", 0, {zero, zero}},
        // Columns: a line too long for a million of them; 128 fit in 255 characters.
        {"a million columns with /XC:1000000",
         {"/XC:1000000"},
         repeated("1 ", 1000000) + "\n",
         too_long_line,
         1,
         {}},
        {"column 1000000 of a line of 255",
         {"/XC:1000000"},
         repeated("1 ", 127) + "9\n",
         read_failure,
         1,
         {}},
        {"column 128 of a line of 255",
         {"/XC:128"},
         repeated("1 ", 127) + "9\n",
         "",
         0,
         {raw_code(9)}},
        // Numbers past the ranges: infinity in float clamps to the end codes, tiny ones are 0.
        {"past the double range", {}, "1e400\n-1e400\n1e-400\n", "", 0, {top, bottom, zero}},
        {"past the float range only", {}, "1e39\n-1e39\n1e-50\n", "", 0, {top, bottom, zero}},
        {"250 digits", {}, std::string(250, '9') + "\n", "", 0, {top}},
        {"inf, nan and hex read as 0", {}, "inf\nnan\n0x10\n", "", 0, {zero, zero, zero}},
        {"a rate below the float range", {"/TS:1e-300"}, "1\n", "Rate out of range !\n", 1, {}},
        // Integers wrap modulo 2^32: 2^31 is negative, 2^32 is 0, 2^32 + 2 is 2.
        {"/SL:2147483648 skips nothing",
         {"/SL:2147483648"},
         "9\n1\n",
         "",
         0,
         {raw_code(9), raw_code(1)}},
        {"/SL:4294967296 skips nothing",
         {"/SL:4294967296"},
         "9\n1\n",
         "",
         0,
         {raw_code(9), raw_code(1)}},
        {"/SL:4294967297 skips one", {"/SL:4294967297"}, "9\n1\n", "", 0, {raw_code(1)}},
        {"/XC:2147483648 is column 1", {"/XC:2147483648"}, "1 2\n", "", 0, {raw_code(1)}},
        {"/XC:4294967296 is column 1", {"/XC:4294967296"}, "1 2\n", "", 0, {raw_code(1)}},
        {"/XC:4294967298 is column 2", {"/XC:4294967298"}, "1 2\n", "", 0, {raw_code(2)}},
        // Nothing to read: the output rests at 0 V.
        {"empty input", {}, "", "", 0, {zero, zero}},
        {"standard input closed", {}, "1\n", "", 0, {zero, zero}, Stdin::closed},
        // Standard output that takes nothing: the run still ends as it should on the board.
        {"standard output to /dev/full",
         {},
         "1\n2\n",
         "",
         0,
         {raw_code(1), raw_code(2)},
         Stdin::file,
         "/dev/full"},
    };
}

class BadInputs : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, EndWithTheirMessageAndStatusAndTheOutputAtZero) {
    const BadInput &c = GetParam();
    std::string trace_path = scratch_path("trace.csv");
    ToolCall call = tool_call(c.args, c.input);
    call.stdin_kind = c.stdin_kind;
    call.stdout_path = c.stdout_path;
    int samples = c.played.empty() ? 1 : static_cast<int>(c.played.size());
    call.env = {{"BOARDSIM_CLOCK", "step"},
                {"BOARDSIM_STOP_AFTER", std::to_string(samples)},
                {"BOARDSIM_TRACE", trace_path}};
    ToolRun run = run_tool(call);
    Trace trace = read_trace(trace_path);
    std::remove(trace_path.c_str());

    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    if (c.played.empty()) {
        EXPECT_FALSE(trace.found) << "the board is never used";
        EXPECT_EQ(run.out, "");
        return;
    }
    ASSERT_TRUE(trace.found);
    std::vector<int> played;
    for (const TraceRow &row : trace.rows)
        if (row.index >= 0) played.push_back(row.raw);
    EXPECT_EQ(played, c.played);
    ASSERT_GE(trace.rows.size(), 2u);
    EXPECT_EQ(trace.rows.front().raw, zero) << "the output starts at 0 V";
    EXPECT_EQ(trace.rows.back().index, -1) << "the last write comes after the scan";
    EXPECT_EQ(trace.rows.back().raw, zero) << "the output ends at 0 V";
    ASSERT_EQ(trace.summaries.size(), 1u) << "one scan, stopped";
    EXPECT_EQ(trace.summary_after.front(), trace.rows.size() - 1)
        << "the scan stops before the last write";
}

std::string row_name(const testing::TestParamInfo<BadInput> &info) {
    std::string name;
    for (const char *p = info.param.name; *p != '\0'; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputs, testing::ValuesIn(bad_inputs()), row_name);

} // namespace

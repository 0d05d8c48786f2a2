// Running out of memory: the value table under an address-space limit, and the scan buffer
// refused by a malloc shim. Either way the tool ends with its message and status 1, and it
// never leaves the output driven.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The tool runs in a few MB; 9 million values need a table of 36 MB, more than the limit even
// when it is sized exactly from the file.
constexpr long long address_limit = 32LL << 20;
constexpr std::size_t large_table_lines = 9000000;

struct StepRun {
    ToolRun run;
    Trace trace;
};

StepRun run_on_step_clock(ToolCall call) {
    std::string trace_path = scratch_path("trace.csv");
    call.env.push_back({"BOARDSIM_CLOCK", "step"});
    call.env.push_back({"BOARDSIM_STOP_AFTER", "2"});
    call.env.push_back({"BOARDSIM_TRACE", trace_path});
    StepRun result{run_tool(call), read_trace(trace_path)};
    std::remove(trace_path.c_str());
    return result;
}

struct TableCase {
    const char *name;
    std::string input;
    Stdin stdin_kind;
    const char *err;
    int status;
};

// The limit on the tool's memory: its address space; the sanitized tool reserves terabytes of
// it, so there its allocator refuses blocks above a size instead.
void limit_memory(ToolCall &call) {
    if (!AOPLAY_SANITIZED) {
        call.address_space_limit = address_limit;
        return;
    }
    const char *options = std::getenv("ASAN_OPTIONS");
    call.env.push_back(
        {"ASAN_OPTIONS", std::string(options != nullptr ? options : "") +
                             ":allocator_may_return_null=1" +
                             ":max_allocation_size_mb=" + std::to_string(address_limit >> 20)});
}

// Standard error less the sanitizer's own note of each refused block; anything else it says
// stays, and fails the comparison.
std::string without_refusal_notes(const std::string &err) {
    std::string out;
    std::size_t at = 0;
    while (at < err.size()) {
        std::size_t end = err.find('\n', at);
        end = end == std::string::npos ? err.size() : end + 1;
        std::string line = err.substr(at, end - at);
        if (!(AOPLAY_SANITIZED && line.rfind("==", 0) == 0 &&
              line.find("WARNING: AddressSanitizer failed to allocate") != std::string::npos))
            out += line;
        at = end;
    }
    return out;
}

TEST(MemoryExhaustion, ATableTooLargeForMemoryEndsWithNotEnoughMemory) {
    std::string large;
    large.reserve(2 * large_table_lines);
    for (std::size_t i = 0; i < large_table_lines; ++i)
        large += "1\n";
    const TableCase cases[] = {
        {"short table under the same limit", "1\n2\n", Stdin::file, "", 0},
        {"large table from a file", large, Stdin::file, "Not enough memory !\n", 1},
        {"large table from a pipe", large, Stdin::pipe, "Not enough memory !\n", 1},
    };
    for (const TableCase &c : cases) {
        ToolCall call = tool_call({}, c.input);
        call.stdin_kind = c.stdin_kind;
        limit_memory(call);
        auto [run, trace] = run_on_step_clock(call);
        EXPECT_EQ(without_refusal_notes(run.err), c.err) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.end_signal, 0) << c.name << ": never a crash";
        EXPECT_EQ(trace.found, c.status == 0) << c.name << ": the board is used only to play";
    }
}

TEST(MemoryExhaustion, ARefusedScanBufferSaysOutOfMemoryWithTheOutputAtZero) {
#ifndef FAIL_ALLOC_LIBRARY
    GTEST_SKIP() << "the sanitized tool cannot run beside a malloc of our own";
#else
    ToolCall call = tool_call({}, "1\n2\n");
    call.env = {{"LD_PRELOAD", FAIL_ALLOC_LIBRARY}, {"AOPLAY_FAIL_MALLOC_SIZE", "40000"}};
    auto [run, trace] = run_on_step_clock(call);
    EXPECT_EQ(run.out, "\nout of memory\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.end_signal, 0) << "never a crash";
    ASSERT_TRUE(trace.found);
    ASSERT_EQ(trace.rows.size(), 1u) << "only the output set to 0 V before the buffer is asked for";
    EXPECT_EQ(trace.rows.front().index, -1);
    EXPECT_EQ(trace.rows.front().raw, 32768);
    EXPECT_TRUE(trace.summaries.empty()) << "no scan started";
#endif
}

} // namespace

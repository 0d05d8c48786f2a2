// Clocked output on the simulated board through the built tool (AOPLAY_OUTPUT=clocked): every
// output sample in the trace at its index and time, the texts as a polled run has them, and an
// output left unfed running dry. The Windows build has no clocked output.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int zero_code = 32768;
const std::string table3 = "index volts\n0 1.5\n1 -2.25\n2 7\n"; // then 0 V up to index 9999

int code_at(long index) {
    const double volts[] = {1.5, -2.25, 7};
    return index < 3 ? raw_code(volts[index]) : zero_code;
}

class Clocked : public testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("AOPLAY_WINE") != nullptr) GTEST_SKIP() << "no clocked output on Windows";
    }
    void TearDown() override { std::remove(trace_path_.c_str()); }

    ToolRun play(const char *output, std::vector<std::string> args, long samples,
                 const char *clock = "step") {
        ToolCall call = tool_call(std::move(args), table3);
        call.env = {{"AOPLAY_OUTPUT", output},
                    {"BOARDSIM_CLOCK", clock},
                    {"AOPLAY_TRACE", trace_path_},
                    {"BOARDSIM_STOP_AFTER", std::to_string(samples)}};
        return run_tool(call);
    }
    Trace trace() const { return read_trace(trace_path_); }

    std::string trace_path_ = scratch_path("trace.csv");
};

// The rows between the resting writes: sample n with count n + 1, index n mod 10000, the code
// at that index, `period` seconds after the one before.
void expect_every_sample(const Trace &t, long samples, double period) {
    ASSERT_TRUE(t.found);
    ASSERT_EQ(t.rows.size(), static_cast<std::size_t>(samples) + 2);
    EXPECT_EQ(t.rows.front().index, -1);
    EXPECT_EQ(t.rows.front().raw, zero_code);
    EXPECT_EQ(t.rows.back().index, -1);
    EXPECT_EQ(t.rows.back().raw, zero_code);
    const double first = t.rows[1].seconds;
    for (long n = 0; n < samples; ++n) {
        const TraceRow &row = t.rows[static_cast<std::size_t>(n) + 1];
        ASSERT_EQ(row.count, n + 1);
        ASSERT_EQ(row.index, n % 10000);
        ASSERT_EQ(row.raw, code_at(row.index)) << "sample " << n;
        ASSERT_NEAR(row.seconds - first, static_cast<double>(n) * period, 1.5e-9) << "sample " << n;
    }
}

TEST_F(Clocked, TheStepClockPlaysEverySampleAtItsIndexAndTimePastTheTableAndItsWrap) {
    ToolRun run = play("clocked", {"/SL:1", "/XC:2", "/TS:1000"}, 10005);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    Trace t = trace();
    expect_every_sample(t, 10005, 0.001);
    EXPECT_DOUBLE_EQ(t.rows[1].seconds, 0.001) << "sample 0 plays when input sample 0 is taken";
    ASSERT_EQ(t.summaries.size(), 1u);
    EXPECT_EQ(t.summaries.front(),
              "# samples=10005 outputs=10005 missed=0 polls=10006 output=clocked");

    // What the user sees is the same whichever way the output plays.
    std::string clocked_out = run.out;
    run = play("polled", {"/SL:1", "/XC:2", "/TS:1000"}, 10005);
    EXPECT_EQ(run.out, clocked_out);
}

TEST_F(Clocked, OneMegasampleASecondOnTheRealClockPlaysEverySample) {
    ToolRun run = play("clocked", {"/SL:1", "/XC:2", "/TS:1000000"}, 300000, "real");
    EXPECT_EQ(run.status, 0) << run.err;
    Trace t = trace();
    expect_every_sample(t, 300000, 1e-6);
    ASSERT_EQ(t.summaries.size(), 1u);
    EXPECT_TRUE(t.summaries.front().starts_with("# samples=300000 outputs=300000 missed=0 "));
    EXPECT_TRUE(t.summaries.front().ends_with(" output=clocked"));
}

TEST_F(Clocked, OnlyClockedAsksForIt) {
    for (const char *output : {"", "auto", "polled"}) {
        SCOPED_TRACE(output);
        ToolRun run = play(output, {"/SL:1", "/XC:2", "/TS:1000"}, 5);
        EXPECT_EQ(run.status, 0) << run.err;
        Trace t = trace();
        ASSERT_EQ(t.summaries.size(), 1u);
        EXPECT_EQ(t.summaries.front(), "# samples=5 outputs=5 missed=0 polls=6");
    }
}

TEST_F(Clocked, AnUnknownWayOfOutputEndsTheRunBeforeAnythingIsDriven) {
    ToolRun run = play("sideways", {"/SL:1", "/XC:2", "/TS:1000"}, 5);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "board: AOPLAY_OUTPUT=\"sideways\" names no way of output; use auto "
                       "(clocked where the device can play a table on its own clock, else polled; "
                       "also when unset or empty), clocked or polled\n");
    EXPECT_FALSE(trace().found) << "the board was not even started";
}

// Stopped for longer than the output's buffer of 1,048,576 samples lasts at 1 MS/s.
TEST_F(Clocked, AnOutputLeftUnfedRunsDryAndEndsTheRunAtZero) {
    if (std::getenv("AOPLAY_NO_SIGNALS") != nullptr) GTEST_SKIP() << "no POSIX signals here";
    const std::string table = scratch_path("table.txt");
    write_file(table, table3);
    const std::string err = scratch_path("err.txt");
    // A watchdog ends a run that did not run dry; the stop comes once the trace shows the
    // output playing.
    const std::string status = shell(
        "AOPLAY_OUTPUT=clocked AOPLAY_TRACE=" + trace_path_ + " " + std::getenv("AOPLAY_COMMAND") +
        " /SL:1 /XC:2 /TS:1000000 <" + table + " >/dev/null 2>" + err +
        " & tool=$!; (sleep 60; kill -TERM $tool) >/dev/null 2>&1 & dog=$!; for i in $(seq 600); do"
        " [ -s " +
        trace_path_ +
        " ] && break; sleep 0.05; done; kill -STOP $tool; sleep 2;"
        " kill -CONT $tool; wait $tool; echo $?; kill $dog");
    EXPECT_EQ(status, "1\n");
    EXPECT_TRUE(read_file(err).starts_with(
        "boardsim: cbGetStatus: error 18 (fatal): the output ran short: its buffer emptied "
        "before more of the table came (an underrun): the clocked output played all "))
        << read_file(err);
    EXPECT_TRUE(read_file(err).ends_with("boardsim: stopping the program after error 18\n"));
    Trace t = trace();
    ASSERT_EQ(t.summaries.size(), 1u);
    long samples = 0, outputs = 0, missed = 0;
    ASSERT_EQ(std::sscanf(t.summaries.front().c_str(), "# samples=%ld outputs=%ld missed=%ld",
                          &samples, &outputs, &missed),
              3);
    EXPECT_GT(missed, 0);
    EXPECT_EQ(samples, outputs + missed);
    EXPECT_EQ(t.rows.back().index, -1);
    EXPECT_EQ(t.rows.back().raw, zero_code) << "the error stop rests the output at 0 V";
}

} // namespace

// The playback run through the built tool on the simulated board: the exact text with standard
// output redirected, and the board trace of what was played.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Value i of a test table, distinct at every index so a wrong index shows.
double table_value(int i) {
    return std::round(9000.0 * std::sin(i * 0.01)) / 1000.0;
}

std::string table(int lines) {
    std::string text = "index volts\n";
    char line[64];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "%d %.3f\n", i, table_value(i));
        text += line;
    }
    return text;
}

std::string status_fields(int index, double value) {
    char text[128];
    std::snprintf(text, sizeof text, "Output Number: %3d           Value: %10.4f  ", index,
                  static_cast<double>(static_cast<float>(value)));
    return text;
}

const std::string banner = "\nOutputting data...\n\nPress any key to quit.\n\n";
const std::string closing = "\nData collection terminated.\n";

class Playback : public testing::Test {
  protected:
    void TearDown() override { std::remove(trace_path_.c_str()); }

    ToolRun play(std::vector<std::string> args, const std::string &input, int samples,
                 const char *clock = "step") {
        ToolCall call = tool_call(std::move(args), input);
        call.env = {{"BOARDSIM_CLOCK", clock}, {"BOARDSIM_TRACE", trace_path_}};
        if (samples > 0) call.env.push_back({"BOARDSIM_STOP_AFTER", std::to_string(samples)});
        return run_tool(call);
    }
    ToolRun play_until_term(std::vector<std::string> args, const std::string &input, int after_ms,
                            int signal_number) {
        ToolCall call = tool_call(std::move(args), input);
        call.env = {{"BOARDSIM_TRACE", trace_path_}};
        call.term_after_ms = after_ms;
        call.term_signal = signal_number;
        return run_tool(call);
    }
    Trace trace() const { return read_trace(trace_path_); }

    std::string trace_path_ = scratch_path("trace.csv");
};

// Zero before the scan, zero after it, the scan summary in between.
void expect_rests_at_zero(const Trace &t) {
    ASSERT_TRUE(t.found);
    ASSERT_GE(t.rows.size(), 2u);
    EXPECT_EQ(t.rows.front().index, -1);
    EXPECT_EQ(t.rows.front().raw, 32768);
    EXPECT_EQ(t.rows.back().index, -1) << "the last write comes after the scan stopped";
    EXPECT_EQ(t.rows.back().raw, 32768);
    ASSERT_EQ(t.summaries.size(), 1u);
    EXPECT_EQ(t.summary_after.front(), t.rows.size() - 1) << "the scan stops before the last write";
}

TEST_F(Playback, RedirectedOutputHoldsTheBannerStatusFieldsAndClosing) {
    ToolRun run = play({"/SL:1", "/XC:2", "/TS:100"}, table(300), 250);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, banner + status_fields(0, table_value(0)) +
                           status_fields(100, table_value(100)) +
                           status_fields(200, table_value(200)) + closing);
}

TEST_F(Playback, EveryIndexPlaysTheTableValueAtThatIndex) {
    play({"/SL:1", "/XC:2", "/TS:1000"}, table(500), 400);
    Trace t = trace();
    expect_rests_at_zero(t);
    ASSERT_EQ(t.rows.size(), 402u);
    for (int i = 0; i < 400; ++i) {
        const TraceRow &row = t.rows[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(row.index, i);
        EXPECT_NEAR(row.raw, raw_code(table_value(i)), 1) << "index " << i;
        EXPECT_NEAR(row.volts, table_value(i), 1.0 / 3276.8) << "index " << i;
    }
    EXPECT_EQ(t.summaries.front(), "# samples=400 outputs=400 missed=0 polls=401");
}

TEST_F(Playback, IndexesPastAShortTablePlayTheRestingLevel) {
    play({"/SL:1", "/XC:2"}, table(3), 6);
    Trace t = trace();
    expect_rests_at_zero(t);
    std::vector<int> raws;
    for (const auto &row : t.rows)
        if (row.index >= 0) raws.push_back(row.raw);
    EXPECT_EQ(raws, (std::vector<int>{raw_code(table_value(0)), raw_code(table_value(1)),
                                      raw_code(table_value(2)), 32768, 32768, 32768}));
}

TEST_F(Playback, StatusTicksAtMultiplesOfTheRatesWholePart) {
    ToolRun run = play({"/SL:1", "/XC:2", "/TS:2.5"}, table(10), 7);
    EXPECT_EQ(run.out, banner + status_fields(0, table_value(0)) +
                           status_fields(2, table_value(2)) + status_fields(4, table_value(4)) +
                           status_fields(6, table_value(6)) + closing);
}

TEST_F(Playback, ALongTableWrapsAfterIndex9999) {
    ToolRun run = play({"/SL:1", "/XC:2", "/TS:5000"}, table(12000), 10003);
    Trace t = trace();
    expect_rests_at_zero(t);
    ASSERT_EQ(t.rows.size(), 10005u);
    EXPECT_EQ(t.rows[10000].index, 9999);
    for (int k = 0; k < 3; ++k) {
        const TraceRow &row = t.rows[10001 + static_cast<std::size_t>(k)];
        EXPECT_EQ(row.index, k);
        EXPECT_EQ(row.raw, raw_code(table_value(k))) << "only the first 10000 values play";
    }
    EXPECT_EQ(run.out, banner + status_fields(0, table_value(0)) +
                           status_fields(5000, table_value(5000)) +
                           status_fields(0, table_value(0)) + closing);
}

TEST_F(Playback, AnInterruptEndsTheRunAsAKeyDoes) {
    if (std::getenv("AOPLAY_NO_SIGNALS") != nullptr) GTEST_SKIP() << "no POSIX signals here";
    for (int signal_number : {15, 2, 1}) {
        // The signal is to come while values play; a loaded machine may take longer than the
        // first wait to get there, so the wait grows until a run has played before its end.
        bool played = false;
        for (int after_ms = 400; !played && after_ms <= 12800; after_ms *= 4) {
            ToolRun run =
                play_until_term({"/SL:1", "/XC:2", "/TS:100"}, table(300), after_ms, signal_number);
            EXPECT_EQ(run.status, 128 + signal_number) << run.err;
            played = run.out.find("Output Number:   0") != std::string::npos;
            if (!played) continue; // too early: the interrupt tests see to that case
            EXPECT_EQ(run.out.substr(0, banner.size()), banner);
            EXPECT_TRUE(run.out.ends_with(closing)) << run.out;
            expect_rests_at_zero(trace());
        }
        EXPECT_TRUE(played) << "no run played before the signal came";
    }
}

} // namespace

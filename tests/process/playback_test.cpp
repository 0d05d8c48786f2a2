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
    ToolRun play_call(ToolCall call, const char *clock, int samples) {
        call.env = {{"BOARDSIM_CLOCK", clock},
                    {"BOARDSIM_TRACE", trace_path_},
                    {"BOARDSIM_STOP_AFTER", std::to_string(samples)}};
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

// Samples the scan took, from its summary line.
long scan_samples(const Trace &t) {
    long samples = -1;
    if (!t.summaries.empty()) std::sscanf(t.summaries.front().c_str(), "# samples=%ld", &samples);
    return samples;
}

// The Windows build has only the stream's error flag, set once a buffered write has failed:
// there a reader's going shows at the first flush after it.
bool on_wine() {
    return std::getenv("AOPLAY_WINE") != nullptr;
}

struct OutputGone {
    const char *name;
    const char *clock;
    std::vector<std::string> args;
    int stop_after; // where the board would end the run by itself
    std::size_t reader_bytes = SIZE_MAX;
    int reader_ms = -1;
    const char *stdout_path = "";
    long at_most = -1; // samples it may take before it ends, where that is known (not on wine)
    bool only_asking = false; // nothing is written after the reader goes: only asking finds it
};

// Standard output that can take no more ends the run as SIGTERM does, at the latest at the next
// status tick: with status 141 (128 + SIGPIPE), the closing steps done, the output at 0 V.
TEST_F(Playback, StandardOutputThatCanTakeNoMoreEndsTheRunWithStatus141) {
    const OutputGone cases[] = {
        // Gone before the first sample: the check at index 0, a tick, ends the run there.
        {"reader gone from the start", "step", {"/SL:1", "/XC:2", "/TS:100"}, 200000, 0, -1, "", 1},
        // As `aoplay | head -c 100`: the reader goes after the first buffer's worth.
        {"reader gone after 100 bytes", "step", {"/SL:1", "/XC:2", "/TS:100"}, 200000, 100},
        // Gone while nothing has been written yet, the output still in the tool's buffer.
        {"reader gone after 300 ms, real clock",
         "real",
         {"/SL:1", "/XC:2", "/TS:1000"},
         30000,
         SIZE_MAX,
         300,
         "",
         -1,
         true},
        // A full disk: the run ends once a buffer's worth of status lines could not be written.
        {"a full disk", "step", {"/SL:1", "/XC:2"}, 100000, SIZE_MAX, -1, "/dev/full"},
    };
    for (const auto &c : cases) {
        if (c.only_asking && on_wine()) continue;
        ToolCall call = tool_call(c.args, table(300));
        call.stdout_pipe = c.stdout_path[0] == '\0';
        call.reader_bytes = c.reader_bytes;
        call.reader_ms = c.reader_ms;
        call.stdout_path = c.stdout_path;
        ToolRun run = play_call(call, c.clock, c.stop_after);
        EXPECT_EQ(run.status, 141) << c.name << ": " << run.err;
        EXPECT_EQ(run.end_signal, 0) << c.name << ": the tool ends itself";
        EXPECT_EQ(run.err, "") << c.name;
        if (c.reader_bytes > 0 && c.reader_bytes != SIZE_MAX) {
            const std::string start = banner + status_fields(0, table_value(0)) +
                                      status_fields(100, table_value(100)) +
                                      status_fields(200, table_value(200));
            // Read up to the status lines (on wine, of the text before its CRs were dropped).
            EXPECT_GT(run.out.size(), banner.size()) << c.name;
            EXPECT_EQ(run.out, start.substr(0, run.out.size())) << c.name;
        }
        Trace t = trace();
        expect_rests_at_zero(t);
        const long samples = scan_samples(t);
        EXPECT_LT(samples, c.stop_after) << c.name << ": the board ended it, not the tool";
        if (c.at_most > 0 && !on_wine()) {
            EXPECT_LE(samples, c.at_most) << c.name;
        }
        std::printf("%s: ended after %ld samples\n", c.name, samples);
    }
}

} // namespace

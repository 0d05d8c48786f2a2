// Result codes, how they are reported, and when they end the program.
#include "board_test.h"
#include "table.h"

#include <cmath>
#include <functional>
#include <map>
#include <set>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using boardtest::BoardTest;
using boardtest::poll;
using boardtest::read_lines;
using boardtest::start_scan;
using namespace board;

std::vector<std::uint16_t> scan_buffer(16);

int scan_with(int board, int low, int high, std::int32_t count, std::int32_t rate, int range,
              void *buffer, int options) {
    return cbAInScan(board, low, high, count, &rate, range, buffer, options);
}
int scan_with_options(int options) {
    return scan_with(0, 0, 0, 16, 1000, 1, scan_buffer.data(), options);
}
int revision(float value) {
    return cbDeclareRevision(&value);
}

struct Fault {
    const char *what;
    int code;
    std::function<int()> call;
};

class BoardErrors : public BoardTest {};

TEST_F(BoardErrors, EachKindOfFaultHasItsOwnCode) {
    std::uint16_t raw = 0;
    std::int16_t status = 0;
    std::int32_t count = 0, index = 0;
    void *buf = scan_buffer.data();
    const float table[] = {1.0f, 2.0f};
    int clocked = 0;
    const Fault faults[] = {
        {"board", bad_board, [&] { return cbFromEngUnits(1, 0, 0.0f, &raw); }},
        {"board", bad_board, [] { return cbAOut(-1, 0, 0, 0); }},
        {"board", bad_board, [&] { return scan_with(2, 0, 0, 16, 1000, 1, buf, 0x2B); }},
        {"board", bad_board, [&] { return cbGetStatus(1, &status, &count, &index); }},
        {"board", bad_board, [] { return cbStopBackground(3); }},
        {"channel", bad_channel, [] { return cbAOut(0, 1, 0, 0); }},
        {"channel", bad_channel, [&] { return scan_with(0, 1, 1, 16, 1000, 1, buf, 0x2B); }},
        {"channel", bad_channel, [&] { return scan_with(0, 0, 1, 16, 1000, 1, buf, 0x2B); }},
        {"range", bad_range, [&] { return cbFromEngUnits(0, 2, 0.0f, &raw); }},
        {"range", bad_range, [] { return cbAOut(0, 0, 1, 0); }},
        {"range", bad_range, [&] { return scan_with(0, 0, 0, 16, 1000, 0, buf, 0x2B); }},
        {"count", bad_count, [&] { return scan_with(0, 0, 0, 0, 1000, 1, buf, 0x2B); }},
        {"count", bad_count, [&] { return scan_with(0, 0, 0, -5, 1000, 1, buf, 0x2B); }},
        {"rate", bad_rate, [&] { return scan_with(0, 0, 0, 16, 0, 1, buf, 0x2B); }},
        {"rate", bad_rate, [&] { return scan_with(0, 0, 0, 16, -1000, 1, buf, 0x2B); }},
        {"buffer", no_buffer, [] { return scan_with(0, 0, 0, 16, 1000, 1, nullptr, 0x2B); }},
        {"options", bad_options, [] { return scan_with_options(0x2A); }}, // not background
        {"options", bad_options, [] { return scan_with_options(0x2F); }}, // unknown 0x04
        {"options", bad_options, [] { return scan_with_options(0x6B); }}, // unknown 0x40
        {"options", bad_options, [] { return scan_with_options(-1); }},
        {"running", scan_running,
         [] {
             scan_with_options(0x2B);
             return scan_with_options(0x2B);
         }},
        {"null", null_pointer, [] { return cbDeclareRevision(nullptr); }},
        {"null", null_pointer, [] { return cbFromEngUnits(0, 0, 1.0f, nullptr); }},
        {"null", null_pointer, [&] { return cbAInScan(0, 0, 0, 16, nullptr, 1, buf, 0x2B); }},
        {"null", null_pointer, [&] { return cbGetStatus(0, nullptr, &count, &index); }},
        {"null", null_pointer, [&] { return cbGetStatus(0, &status, &count, nullptr); }},
        {"revision", bad_revision, [] { return revision(4.99f); }},
        {"revision", bad_revision, [] { return revision(5.13f); }},
        {"revision", bad_revision, [] { return revision(std::nanf("")); }},
        {"value", bad_value, [&] { return cbFromEngUnits(0, 0, std::nanf(""), &raw); }},
        {"handling", bad_error_handling, [] { return cbErrHandling(4, 0); }},
        {"handling", bad_error_handling, [] { return cbErrHandling(0, 3); }},
        {"handling", bad_error_handling, [] { return cbErrHandling(-1, 0); }},
        {"board", bad_board, [&] { return aoSetOutputTable(1, table, 2, &clocked); }},
        {"null", null_pointer, [&] { return aoSetOutputTable(0, table, 2, nullptr); }},
        {"null", null_pointer, [&] { return aoSetOutputTable(0, nullptr, 2, &clocked); }},
        {"count", bad_count, [&] { return aoSetOutputTable(0, table, -1, &clocked); }},
        {"running", scan_running,
         [&] {
             scan_with_options(0x2B);
             return aoSetOutputTable(0, table, 2, &clocked);
         }},
    };
    std::map<std::string, int> code_of;
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.what);
        boardsim::reset_for_tests();
        cbErrHandling(0, 0);
        const int code = f.call();
        EXPECT_EQ(code, f.code);
        code_of.emplace(f.what, code);
        if (f.code != scan_running) {
            EXPECT_EQ(poll().status, 0) << "a refused call started a scan";
        }
    }
    std::set<int> codes;
    for (const auto &[what, code] : code_of)
        codes.insert(code);
    EXPECT_EQ(codes.size(), code_of.size()) << "two kinds of fault share a code";
    EXPECT_EQ(codes.count(0), 0u);
}

TEST_F(BoardErrors, GoodCallsReturnNoError) {
    std::int32_t rate = 1000;
    EXPECT_EQ(revision(5.12f), 0);
    EXPECT_EQ(revision(5.0f), 0);
    EXPECT_EQ(cbErrHandling(3, 1), 0);
    EXPECT_EQ(cbAInScan(0, 0, 0, 16, &rate, 1, scan_buffer.data(), 0x2B), 0);
    EXPECT_EQ(cbStopBackground(0), 0);
    EXPECT_EQ(cbStopBackground(0), 0); // stopping nothing is fine
}

TEST_F(BoardErrors, RateIsCappedAndWrittenBack) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {1, 1}, {5000, 5000}, {1000000, 1000000}, {1000001, 1000000}, {INT32_MAX, 1000000}};
    for (const auto &[asked, used] : cases) {
        boardsim::reset_for_tests();
        std::int32_t rate = asked;
        ASSERT_EQ(cbAInScan(0, 0, 0, 16, &rate, 1, scan_buffer.data(), 0x2B), 0);
        EXPECT_EQ(rate, used);
    }
}

// Reporting is a set: 1 warnings, 2 fatal errors. Until cbErrHandling is called, all are shown.
TEST_F(BoardErrors, ReportingLevelSelectsTheMessages) {
    struct Level {
        int reporting; // -1: cbErrHandling not called
        bool warnings, fatal;
    };
    const Level levels[] = {
        {-1, true, true}, {0, false, false}, {1, true, false}, {2, false, true}, {3, true, true}};
    for (const Level &level : levels) {
        SCOPED_TRACE(level.reporting);
        boardsim::reset_for_tests();
        if (level.reporting >= 0) cbErrHandling(level.reporting, 0);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(revision(7.0f), bad_revision);
        EXPECT_EQ(cbAOut(5, 0, 0, 0), bad_board); // going on after a fatal error too
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.find("cbDeclareRevision: error 10 (warning)") != said.npos, level.warnings)
            << said;
        EXPECT_EQ(said.find("cbAOut: error 1 (fatal)") != said.npos, level.fatal) << said;
    }
}

// Handling 0 goes on, 1 stops on every error, 2 on fatal ones only; a bad handling code leaves
// the earlier choice in force.
TEST_F(BoardErrors, HandlingSelectsWhichErrorsEndTheProgram) {
    struct Mode {
        int first, second; // cbErrHandling handling codes, in order
        bool warning_stops, fatal_stops;
    };
    const Mode modes[] = {{0, 0, false, false},
                          {1, 1, true, true},
                          {2, 2, false, true},
                          {2, 7, false, true},
                          {1, -1, true, true}};
    for (const Mode &m : modes) {
        SCOPED_TRACE(::testing::Message() << m.first << " then " << m.second);
        auto warn = [&] {
            cbErrHandling(0, m.first);
            cbErrHandling(0, m.second);
            return revision(1.0f);
        };
        auto fatal = [&] {
            cbErrHandling(0, m.first);
            cbErrHandling(0, m.second);
            return cbAOut(0, 9, 0, 0);
        };
        if (m.warning_stops)
            EXPECT_EXIT(warn(), ::testing::ExitedWithCode(1), "stopping the program");
        else
            EXPECT_EQ(warn(), bad_revision);
        boardsim::reset_for_tests();
        if (m.fatal_stops)
            EXPECT_EXIT(fatal(), ::testing::ExitedWithCode(1), "stopping the program");
        else
            EXPECT_EQ(fatal(), bad_channel);
        boardsim::reset_for_tests();
    }
}

// Stopped by a board error in mid-scan, as the tool sets it up: the scan is stopped and
// summed up, the output goes back to 0 V, and the trace is complete.
TEST_F(BoardErrors, StoppingOnAnErrorLeavesTheOutputAtZero) {
    const std::string path = trace_path();
    set("BOARDSIM_TRACE", path.c_str());
    set("BOARDSIM_CLOCK", "step");
    EXPECT_EXIT(
        {
            cbErrHandling(3, 1);
            start_scan(scan_buffer, 1000);
            poll();
            cbAOut(0, 0, 0, 65535);
            poll();
            start_scan(scan_buffer, 1000);
        },
        ::testing::ExitedWithCode(1), "cbAInScan: error 7 \\(fatal\\)");
    EXPECT_EQ(read_lines(path), (std::vector<std::string>{"seconds,count,index,raw,volts",
                                                          "0.001000000,1,0,65535,9.999695",
                                                          "# samples=2 outputs=1 missed=1 polls=2",
                                                          "0.002000000,2,-1,32768,0.000000"}));
}

} // namespace

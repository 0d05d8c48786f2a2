// The trace file: rows, the summary with missed samples, and a complete file at exit.
#include "board_test.h"
#include "core/format.h"
#include "sim/convert.h"

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using boardtest::BoardTest;
using boardtest::poll;
using boardtest::read_lines;
using boardtest::start_scan;
using Lines = std::vector<std::string>;

class BoardTrace : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        path = trace_path();
        set("BOARDSIM_TRACE", path.c_str());
        set("BOARDSIM_CLOCK", "step");
    }
    Lines finished_trace() {
        boardsim::reset_for_tests();
        return read_lines(path);
    }
    std::string path;
    std::vector<std::uint16_t> buffer = std::vector<std::uint16_t>(10);
};

// Step clock at 1000/s: sample k comes at (k + 1) ms. Sample 2 and 4 get no output (missed);
// sample 1 gets two, which cover it once.
TEST_F(BoardTrace, RowsAndSummaryOfAScan) {
    cbAOut(0, 0, 0, 32768);
    ASSERT_EQ(start_scan(buffer, 1000), 0);
    poll();
    cbAOut(0, 0, 0, 65535);
    poll();
    cbAOut(0, 0, 0, 0);
    cbAOut(0, 0, 0, 32767);
    poll();
    poll();
    cbAOut(0, 0, 0, 36045);
    poll();
    cbStopBackground(0);
    cbAOut(0, 0, 0, 32769);
    EXPECT_EQ(finished_trace(),
              (Lines{"seconds,count,index,raw,volts", "0.000000000,0,-1,32768,0.000000",
                     "0.001000000,1,0,65535,9.999695", "0.002000000,2,1,0,-10.000000",
                     "0.002000000,2,1,32767,-0.000305", "0.004000000,4,3,36045,1.000061",
                     "# samples=5 outputs=4 missed=2 polls=5", "0.005000000,5,-1,32769,0.000305"}));
}

TEST_F(BoardTrace, ScanEndingByItselfIsSummedUpOnce) {
    set("BOARDSIM_STOP_AFTER", "2");
    ASSERT_EQ(start_scan(buffer, 500), 0);
    for (int call = 0; call < 3; ++call) {
        if (poll().status == 1) cbAOut(0, 0, 0, 40000);
    }
    cbStopBackground(0);
    EXPECT_EQ(finished_trace(),
              (Lines{"seconds,count,index,raw,volts", "0.002000000,1,0,40000,2.207031",
                     "0.004000000,2,1,40000,2.207031", "# samples=2 outputs=2 missed=0 polls=3"}));
}

// More rows than the board buffers, then exit() with the scan still running: every row is in
// the file, and the last line says the scan never stopped.
TEST_F(BoardTrace, ExitLeavesACompleteFileThatSaysTheScanRan) {
    const int rows = 40000;
    EXPECT_EXIT(
        {
            start_scan(buffer, 1000000);
            for (int i = 0; i < rows; ++i) {
                poll();
                cbAOut(0, 0, 0, 32768);
            }
            poll();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const Lines lines = read_lines(path);
    ASSERT_EQ(lines.size(), rows + 2u);
    EXPECT_EQ(lines[rows], "0.040000000,40000,9,32768,0.000000");
    EXPECT_EQ(lines.back(),
              "# samples=40001 outputs=40000 missed=1 polls=40001 (scan still running at exit)");
}

TEST_F(BoardTrace, UnwritableFileMeansNoTrace) {
    set("BOARDSIM_TRACE", "/nonexistent-dir/trace.csv");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(cbAOut(0, 0, 0, 32768), 0);
    EXPECT_EQ(start_scan(buffer, 1000), 0);
    EXPECT_EQ(poll().index, 0);
    EXPECT_EQ(cbStopBackground(0), 0);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cannot write the trace to /nonexistent-dir/trace.csv"), said.npos) << said;
}

// The simulated board's volts column: its code's microvolts, printed.
char *put_volts(char *out, std::uint16_t code) {
    return board::put_microvolts(out, boardsim::code_microvolts(code));
}

TEST(BoardTraceFormat, NumbersPrintExactly) {
    auto text = [](auto put, auto value) {
        char out[64];
        return std::string(out, put(out, value));
    };
    const std::pair<std::int64_t, const char *> integers[] = {{0, "0"},
                                                              {9, "9"},
                                                              {10, "10"},
                                                              {99, "99"},
                                                              {100, "100"},
                                                              {-1, "-1"},
                                                              {-100, "-100"},
                                                              {INT64_MAX, "9223372036854775807"},
                                                              {INT64_MIN, "-9223372036854775808"}};
    for (const auto &[value, printed] : integers)
        EXPECT_EQ(text(board::put_signed, value), printed);
    const std::pair<std::int64_t, const char *> seconds[] = {{0, "0.000000000"},
                                                             {1, "0.000000001"},
                                                             {999999999, "0.999999999"},
                                                             {1000000000, "1.000000000"},
                                                             {12345678901234, "12345.678901234"}};
    for (const auto &[ns, printed] : seconds)
        EXPECT_EQ(text(board::put_seconds, ns), printed);
    const std::pair<std::uint16_t, const char *> volts[] = {
        {0, "-10.000000"},   {1, "-9.999695"},    {16384, "-5.000000"}, {32767, "-0.000305"},
        {32768, "0.000000"}, {32769, "0.000305"}, {36045, "1.000061"},  {65535, "9.999695"}};
    for (const auto &[code, printed] : volts)
        EXPECT_EQ(text(put_volts, code), printed);
}

} // namespace

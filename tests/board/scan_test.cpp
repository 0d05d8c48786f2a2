// The scan: index sequence, its end, the loopback samples in the buffer, and its timing.
#include "board_test.h"
#include "sim/scan.h"
#include "table.h"

#include <chrono>
#include <thread>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using boardtest::BoardTest;
using boardtest::poll;
using boardtest::start_scan;
using boardtest::Status;

constexpr std::uint16_t untouched = 0xABCD;

class BoardStepScan : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        set("BOARDSIM_CLOCK", "step");
    }
};

TEST_F(BoardStepScan, IndexRunsThroughTheBufferThenWraps) {
    std::vector<std::uint16_t> buffer(10000);
    ASSERT_EQ(start_scan(buffer, 10000), 0);
    for (std::int32_t call = 1; call <= 10002; ++call) {
        const Status s = poll();
        const std::int32_t index = (call - 1) % 10000;
        if (s.status != 1 || s.count != call || s.index != index) {
            ADD_FAILURE() << "call " << call << ": status " << s.status << " count " << s.count
                          << " index " << s.index << ", expected index " << index;
            break;
        }
    }
}

struct EndCase {
    const char *stop_after; // null: not set
    int options;
    std::size_t length;
    std::vector<std::int32_t> indexes; // while running, one per call
};

// Every call up to the last sample reports it running; the call after reports the end.
TEST_F(BoardStepScan, ScanEndsAfterStopAfterOrAFullBuffer) {
    const EndCase cases[] = {
        {"5", 0x2B, 3, {0, 1, 2, 0, 1}},
        {"3", 0x29, 10, {0, 1, 2}},
        {nullptr, 0x29, 4, {0, 1, 2, 3}},
        {"9", 0x29, 4, {0, 1, 2, 3}},
        {"0", 0x2B, 4, {}},
    };
    for (const EndCase &c : cases) {
        SCOPED_TRACE(::testing::Message() << "stop after " << (c.stop_after ? c.stop_after : "-")
                                          << ", options " << c.options);
        boardsim::reset_for_tests();
        if (c.stop_after != nullptr) set("BOARDSIM_STOP_AFTER", c.stop_after);
        std::vector<std::uint16_t> buffer(c.length, untouched);
        ASSERT_EQ(start_scan(buffer, 1000, c.options), 0);
        std::vector<std::int32_t> seen;
        for (std::size_t i = 0; i < c.indexes.size(); ++i) {
            const Status s = poll();
            EXPECT_EQ(s.status, 1);
            seen.push_back(s.index);
        }
        EXPECT_EQ(seen, c.indexes);
        const auto taken = static_cast<std::int32_t>(c.indexes.size());
        const std::int32_t last = taken == 0 ? -1 : c.indexes.back();
        for (int after = 0; after < 2; ++after) {
            const Status s = poll();
            EXPECT_EQ(s.status, 0);
            EXPECT_EQ(s.count, taken);
            EXPECT_EQ(s.index, last);
        }
        unsetenv("BOARDSIM_STOP_AFTER");
    }
}

// Each sample reads what the output was driven with before it: 2 * raw - 32768, clamped.
TEST_F(BoardStepScan, BufferHoldsTheOutputLoopedBack) {
    struct Loop {
        std::uint16_t output, input;
    };
    const Loop cases[] = {{0, 0},         {16384, 0},     {24576, 16384}, {32768, 32768},
                          {40960, 49152}, {49151, 65534}, {49152, 65535}, {65535, 65535}};
    std::vector<std::uint16_t> buffer(16, untouched);
    ASSERT_EQ(start_scan(buffer, 1000), 0);
    EXPECT_EQ(poll().index, 0);
    EXPECT_EQ(buffer[0], 32768); // the output starts at 0 V
    for (const Loop &c : cases) {
        SCOPED_TRACE(c.output);
        cbAOut(0, 0, 0, c.output);
        const Status s = poll();
        EXPECT_EQ(buffer[static_cast<std::size_t>(s.index)], c.input);
    }
    for (std::size_t i = std::size(cases) + 1; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], untouched) << "written ahead of the scan at " << i;
}

// A clocked output looped back: input sample k reads the code played with it, the table's at
// index k mod the buffer's length, 0 V past a short table, on through the wrap.
TEST_F(BoardStepScan, BufferHoldsTheClockedOutputLoopedBack) {
    set("AOPLAY_OUTPUT", "clocked");
    const float table[] = {1.0f, -2.0f};
    int clocked = 0;
    ASSERT_EQ(aoSetOutputTable(0, table, 2, &clocked), 0);
    ASSERT_EQ(clocked, 1);
    std::vector<std::uint16_t> buffer(4, untouched);
    ASSERT_EQ(start_scan(buffer, 1000), 0);
    const std::uint16_t one_volt = 39322, minus_two = 19660, zero = 32768; // read at +/-5 V
    const std::vector<std::vector<std::uint16_t>> after = {
        {one_volt, untouched, untouched, untouched}, {one_volt, minus_two, untouched, untouched},
        {one_volt, minus_two, zero, untouched},      {one_volt, minus_two, zero, zero},
        {one_volt, minus_two, zero, zero}, // sample 4 in slot 0 again: the table's index 0
    };
    for (std::size_t k = 0; k < after.size(); ++k) {
        SCOPED_TRACE(k);
        if (k == 4) buffer[0] = untouched;
        poll();
        EXPECT_EQ(buffer, after[k]);
    }
}

TEST_F(BoardStepScan, OptionsChooseWhatTheBufferGets) {
    struct OptionCase {
        int options;
        std::uint16_t stored;
    };
    const OptionCase cases[] = {{0x2B, 65535}, {0x0B, 32768}, {0x23, untouched}, {0x29, 65535}};
    for (const OptionCase &c : cases) {
        SCOPED_TRACE(c.options);
        boardsim::reset_for_tests();
        std::vector<std::uint16_t> buffer(4, untouched);
        cbAOut(0, 0, 0, 65535);
        ASSERT_EQ(start_scan(buffer, 1000, c.options), 0);
        poll();
        EXPECT_EQ(buffer[0], c.stored);
    }
}

class BoardRealScan : public BoardTest {};

using steady = std::chrono::steady_clock;

double seconds_between(steady::time_point from, steady::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The count must lie between what the rate gives for the shortest and the longest time the
// scan can have run; no timing is asserted beyond that.
TEST_F(BoardRealScan, IndexAdvancesAtTheRate) {
    const double rate = 2000;
    std::vector<std::uint16_t> buffer(100000);
    const auto before_start = steady::now();
    ASSERT_EQ(start_scan(buffer, static_cast<std::int32_t>(rate)), 0);
    const auto after_start = steady::now();
    Status s;
    std::int32_t last_index = -1;
    auto before_poll = after_start, after_poll = after_start;
    do {
        before_poll = steady::now();
        s = poll();
        after_poll = steady::now();
        ASSERT_EQ(s.status, 1);
        ASSERT_GE(s.index, last_index);
        last_index = s.index;
    } while (seconds_between(after_start, before_poll) < 0.1);
    const double fewest = seconds_between(after_start, before_poll) * rate - 1;
    const double most = seconds_between(before_start, after_poll) * rate + 1;
    EXPECT_GE(s.count, fewest);
    EXPECT_LE(s.count, most);
    EXPECT_EQ(s.index, s.count - 1);
}

TEST_F(BoardRealScan, NothingIsStoredAfterStop) {
    std::vector<std::uint16_t> buffer(1000, untouched);
    ASSERT_EQ(start_scan(buffer, 200), 0);
    while (poll().count < 1)
        std::this_thread::yield();
    cbStopBackground(0);
    const Status stopped = poll();
    EXPECT_EQ(stopped.status, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const Status later = poll();
    EXPECT_EQ(later.status, 0);
    EXPECT_EQ(later.count, stopped.count);
    const auto taken = static_cast<std::size_t>(stopped.count);
    ASSERT_LT(taken, buffer.size());
    for (std::size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], i < taken ? 32768 : untouched) << "at " << i;
}

// The scan's arithmetic on its own, with clock ticks chosen by the test.
boardsim::ScanSetup setup(std::int64_t rate, std::int64_t per_second, std::int64_t length = 8,
                          void *buffer = nullptr) {
    return {buffer, length, rate, boardsim::no_limit, per_second, 12345, nullptr};
}

std::int64_t due_time(std::int64_t k, std::int64_t rate, std::int64_t per_second) {
    return 12345 + ((k + 1) * per_second + rate - 1) / rate; // sample k's tick, rounded up
}

// Sample k comes at start + (k + 1) / rate exactly, whether polled at every sample or not.
TEST(BoardScanTiming, SamplesComeExactlyOnTime) {
    const std::int64_t per_seconds[] = {1000000000, 10000000};
    const std::int64_t rates[] = {1, 3, 7, 1000, 999983, 1000000};
    for (std::int64_t per_second : per_seconds)
        for (std::int64_t rate : rates) {
            SCOPED_TRACE(::testing::Message() << rate << "/s at " << per_second << " ticks/s");
            boardsim::Scan scan{};
            boardsim::scan_start(scan, setup(rate, per_second));
            for (std::int64_t k = 0; k < 3000; ++k) {
                ASSERT_EQ(scan.due, due_time(k, rate, per_second)) << "sample " << k;
                boardsim::scan_advance(scan, scan.due, 0);
                ASSERT_EQ(scan.acquired, k + 1);
            }
            const std::int64_t far = 1234567;
            boardsim::Scan jump{};
            boardsim::scan_start(jump, setup(rate, per_second));
            boardsim::scan_advance(jump, due_time(far, rate, per_second) - 1, 0);
            EXPECT_EQ(jump.acquired, far);
            EXPECT_EQ(jump.due, due_time(far, rate, per_second));
            EXPECT_EQ(jump.index, (far - 1) % 8);
        }
}

TEST(BoardScanTiming, CountSaturatesAndALongGapWritesOneBufferOnly) {
    std::vector<std::uint16_t> buffer(10, untouched);
    boardsim::Scan scan{};
    boardsim::scan_start(scan, setup(1000000, 1000000000, 8, buffer.data()));
    boardsim::scan_advance(scan, 12345 + std::int64_t{3000} * 1000000000, 7);
    EXPECT_EQ(scan.acquired, 3000000000);
    EXPECT_EQ(scan.shown_count, INT32_MAX);
    EXPECT_EQ(scan.shown_index, 7);
    EXPECT_EQ(buffer, (std::vector<std::uint16_t>{7, 7, 7, 7, 7, 7, 7, 7, untouched, untouched}));
    boardsim::scan_advance(scan, scan.due, 9);
    EXPECT_EQ(scan.shown_count, INT32_MAX);
    EXPECT_EQ(scan.shown_index, 0);
    EXPECT_EQ(buffer[0], 9);
}

} // namespace

// The board's own controls from the environment: bad values fall back to the defaults, and
// the environment is read once.
#include "board_test.h"

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using boardtest::BoardTest;
using boardtest::poll;
using boardtest::start_scan;

class BoardControls : public BoardTest {
  protected:
    // Makes the board read its controls; returns what it said about them.
    static std::string first_use() {
        ::testing::internal::CaptureStderr();
        cbErrHandling(0, 0);
        return ::testing::internal::GetCapturedStderr();
    }
    std::vector<std::uint16_t> buffer = std::vector<std::uint16_t>(100);
};

// At 1 sample a second the real clock shows no sample yet; the step clock shows one per call.
TEST_F(BoardControls, UnknownClockMeansTheRealOne) {
    const std::pair<const char *, bool> cases[] = {
        {"real", false}, {"", false}, {"fast", true}, {"STEP", true}, {"step ", true}};
    for (const auto &[value, complains] : cases) {
        SCOPED_TRACE(value);
        boardsim::reset_for_tests();
        set("BOARDSIM_CLOCK", value);
        const std::string said = first_use();
        EXPECT_EQ(said.find("BOARDSIM_CLOCK") != said.npos, complains) << said;
        ASSERT_EQ(start_scan(buffer, 1), 0);
        EXPECT_EQ(poll().index, -1);
    }
}

TEST_F(BoardControls, BadStopAfterMeansScansRunUntilStopped) {
    set("BOARDSIM_CLOCK", "step");
    for (const char *value : {"abc", "-3", "12x", " 5", "2.5", "99999999999999999999"}) {
        SCOPED_TRACE(value);
        boardsim::reset_for_tests();
        set("BOARDSIM_STOP_AFTER", value);
        const std::string said = first_use();
        EXPECT_NE(said.find("BOARDSIM_STOP_AFTER"), said.npos) << said;
        ASSERT_EQ(start_scan(buffer, 1000), 0);
        for (int call = 0; call < 150; ++call)
            ASSERT_EQ(poll().status, 1) << "call " << call;
    }
}

TEST_F(BoardControls, EnvironmentIsReadOnceAtFirstUse) {
    set("BOARDSIM_CLOCK", "step");
    set("BOARDSIM_STOP_AFTER", "2");
    EXPECT_EQ(first_use(), "");
    set("BOARDSIM_CLOCK", "real");
    set("BOARDSIM_STOP_AFTER", "100");
    ASSERT_EQ(start_scan(buffer, 1), 0);
    EXPECT_EQ(poll().index, 0);
    EXPECT_EQ(poll().index, 1);
    EXPECT_EQ(poll().status, 0);
}

} // namespace

// What the simulated board's tests share: a board as if never used, and small helpers.
#ifndef BOARDSIM_BOARD_TEST_H
#define BOARDSIM_BOARD_TEST_H

#include "board.h"
#include "sim/sim_internal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace boardtest {

constexpr int tool_options = 0x2B; // background, continuous, store, loopback

struct Status {
    std::int16_t status = -2;
    std::int32_t count = -2;
    std::int32_t index = -2;
};

inline Status poll() {
    Status s;
    cbGetStatus(0, &s.status, &s.count, &s.index);
    return s;
}

inline int start_scan(std::vector<std::uint16_t> &buffer, std::int32_t rate,
                      int options = tool_options) {
    return cbAInScan(0, 0, 0, static_cast<std::int32_t>(buffer.size()), &rate, 1, buffer.data(),
                     options);
}

inline std::vector<std::string> read_lines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The board keeps process-wide state and reads its controls once: every test starts from a
// board never used, with no control set. Death tests re-run the test in a fresh process, so a
// child never inherits a half-written trace.
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        for (const char *name :
             {"BOARDSIM_CLOCK", "BOARDSIM_STOP_AFTER", "BOARDSIM_TRACE", "AOPLAY_OUTPUT"})
            unsetenv(name);
        boardsim::reset_for_tests();
    }
    void TearDown() override { boardsim::reset_for_tests(); }

    static void set(const char *name, const char *value) { setenv(name, value, 1); }

    // A trace file of this test's own.
    static std::string trace_path() {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string path = ::testing::TempDir() + "boardsim_" + info->test_suite_name() + "_" +
                           info->name() + ".csv";
        std::remove(path.c_str());
        return path;
    }
};

} // namespace boardtest

#endif

// Volts to codes: rounding, clamping, and no undefined behaviour on NaN or huge values.
#include "board_test.h"

#include <cfloat>
#include <cmath>
#include <limits>

[[maybe_unused]] static const char version_stamp[] = "3.01.01b";

namespace {

using boardtest::BoardTest;

struct CodeCase {
    float volts;
    std::uint16_t code;
};

class BoardConvert : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        cbErrHandling(0, 0);
    }
};

void expect_codes(int range, std::initializer_list<CodeCase> cases) {
    for (const CodeCase &c : cases) {
        SCOPED_TRACE(::testing::Message() << "range " << range << ", " << c.volts << " V");
        std::uint16_t raw = 1234;
        EXPECT_EQ(cbFromEngUnits(0, range, c.volts, &raw), 0);
        EXPECT_EQ(raw, c.code);
    }
}

TEST_F(BoardConvert, OutputCodesRoundToNearestAndClamp) {
    const float inf = std::numeric_limits<float>::infinity();
    expect_codes(0, {{-10.0f, 0},
                     {-5.0f, 16384},
                     {0.0f, 32768},
                     {1.0f, 36045},
                     {9.9995f, 65534},
                     {9.9999f, 65535},
                     {10.0f, 65535},
                     {12.0f, 65535},
                     {-12.0f, 0},
                     {-9.9998f, 1},
                     {FLT_MIN, 32768},
                     {1e30f, 65535},
                     {-1e30f, 0},
                     {FLT_MAX, 65535},
                     {-FLT_MAX, 0},
                     {inf, 65535},
                     {-inf, 0}});
}

TEST_F(BoardConvert, InputRangeIsFiveVolts) {
    expect_codes(1, {{-5.0f, 0}, {-2.5f, 16384}, {0.0f, 32768}, {4.9999f, 65535}, {7.0f, 65535}});
}

TEST_F(BoardConvert, NotANumberGivesZeroVoltsAndAWarning) {
    std::uint16_t raw = 1234;
    EXPECT_EQ(cbFromEngUnits(0, 0, std::nanf(""), &raw), board::bad_value);
    EXPECT_EQ(raw, 32768);
}

} // namespace

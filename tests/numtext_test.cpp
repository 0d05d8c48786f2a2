// Number text reads alike on every platform: no hexadecimal, infinity or NaN forms, d and D
// exponents, 32-bit wrapping integers, correctly rounded reals.
#include "aoplay.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

struct IntCase {
    const char *text;
    int value;
};

TEST(TextToInt, ReadsLeadingDecimalAndWrapsAt32Bits) {
    const IntCase cases[] = {
        {"42", 42},
        {"  -17", -17},
        {"\t\n\v\f\r+8", 8},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"0x10", 0},
        {"3,5", 3},
        {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1},
        {"-2147483648", -2147483647 - 1},
        {"-2147483649", 2147483647},
        {"4294967296", 0},
        {"4294967297", 1},
        {"99999999999999999999", 1661992959},
    };
    for (const auto &c : cases)
        EXPECT_EQ(text_to_int(c.text), c.value) << '"' << c.text << '"';
}

struct RealCase {
    const char *text;
    double value;
    int used; // characters taken, -1 when none
};

TEST(TextToReal, ReadsLeadingNumberOnly) {
    const double inf = std::numeric_limits<double>::infinity();
    const RealCase cases[] = {
        {"1.5", 1.5, 3},
        {"  +3.5e+2x", 350.0, 9},
        {"-0.75", -0.75, 5},
        {".5", 0.5, 2},
        {"5.", 5.0, 2},
        {"1e-3", 0.001, 4},
        {"1d2", 100.0, 3},
        {"1D-2", 0.01, 4},
        {"2E3", 2000.0, 3},
        {"1e", 1.0, 1}, // an exponent letter without digits is not taken
        {"1e+", 1.0, 1},
        {"3,5", 3.0, 1},
        {"0x10", 0.0, 1}, // no hexadecimal form: the 0 is read, the x stops it
        {"inf", 0.0, -1},
        {"nan", 0.0, -1},
        {"-inf", 0.0, -1},
        {"", 0.0, -1},
        {".", 0.0, -1},
        {"-.e5", 0.0, -1},
        {"\r\v\f 7", 7.0, 5},
        {"1e400", inf, 5},
        {"-1e400", -inf, 6},
        {"0.0001e310", 1e306, 10},
        {"1e-400", 0.0, 6},
        {"-1e-400", -0.0, 7},
        {"4.9e-324", 4.9406564584124654e-324, 8}, // the smallest subnormal
        {"1e99999999999999999999999", inf, 25},
        {"0e99999", 0.0, 7},
        {"0.1", 0.1, 3},
        {"9007199254740993", 9007199254740992.0, 16}, // halfway: rounds to even
        {"2.2250738585072011e-308", 2.225073858507201e-308, 23},
    };
    for (const auto &c : cases) {
        const char *end = nullptr;
        double value = text_to_real(c.text, &end);
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << '"' << c.text << '"';
        EXPECT_EQ(end - c.text, c.used < 0 ? 0 : c.used) << '"' << c.text << '"';
    }
}

TEST(TextToReal, AgreesWithTheCLibraryOnDecimalText) {
    // glibc's strtod rounds correctly in the C locale; on plain decimal text the two agree.
    std::mt19937_64 random(12345);
    auto digits = [&](int n) {
        std::string text;
        for (int i = 0; i < n; ++i)
            text += static_cast<char>('0' + random() % 10);
        return text;
    };
    for (int i = 0; i < 200000; ++i) {
        std::string text = (random() % 2 ? "-" : "") + digits(1 + int(random() % 12));
        if (random() % 4) text += "." + digits(int(random() % 20));
        if (random() % 3 == 0) text += "e" + std::to_string(int(random() % 700) - 350);
        double expected = std::strtod(text.c_str(), nullptr);
        EXPECT_EQ(text_to_real(text.c_str()), expected) << text;
    }
}

TEST(TextToReal, StopsAtTheLimit) {
    const char text[] = "12345";
    EXPECT_EQ(text_to_real(text, text + 3, nullptr), 123.0);
    const char spaced[] = "\r\t5"; // the blank-skipping must not run past the limit
    EXPECT_EQ(text_to_real(spaced, spaced + 1, nullptr), 0.0);
}

TEST(TextToFloat, ReadsAColumnAsTheNarrowedRealDoes) {
    // The short decimals read the quick way, and all that must leave it: no digit, more than
    // 19 digits, more than 2^53, an exponent letter, white space first.
    const char *forms[] = {"5",
                           "-5",
                           "+5",
                           "-0",
                           "0.5",
                           ".5",
                           "5.",
                           "-.5",
                           ".",
                           "-",
                           "+",
                           "",
                           "4.999999",
                           "-4.999999",
                           "0.1",
                           "16777217",
                           "1234567890123456789",
                           "12345678901234567890",
                           "9007199254740992",
                           "9007199254740993",
                           "0.000000000000000000001",
                           "1e5",
                           "1E5",
                           "1d5",
                           "1D5",
                           "2.5e-3",
                           "1e",
                           "1.5f",
                           "1.2.3",
                           "12abc",
                           "3.4028235e38",
                           "1e39",
                           "-1e39",
                           "\v5",
                           "\f-2.5",
                           "\r7"};
    for (const char *form : forms) {
        for (char ending : {' ', '\t', '\n', '\r', '\0'}) {
            std::string text = std::string(form) + ending;
            const char *limit = text.data() + text.size() - 1;
            float expected = narrow_to_float(text_to_real(text.data(), limit, nullptr));
            float value = text_to_float(text.data(), limit);
            EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0)
                << '"' << form << "\" ending " << int(ending) << ": " << value << " for "
                << expected;
        }
    }
}

TEST(NarrowToFloat, RoundsAndOverflowsExplicitly) {
    const float inf = std::numeric_limits<float>::infinity();
    const double half_step = 0x1p103; // half a float step at the top of the range
    struct {
        double in;
        float out;
    } cases[] = {
        {0.1, 0.1f},
        {-2.5, -2.5f},
        {static_cast<double>(FLT_MAX), FLT_MAX},
        {static_cast<double>(FLT_MAX) + half_step / 2, FLT_MAX},
        {static_cast<double>(FLT_MAX) + half_step, inf},
        {-static_cast<double>(FLT_MAX) - half_step, -inf},
        {1e300, inf},
        {-1e300, -inf},
        {std::numeric_limits<double>::infinity(), inf},
        {1e-50, 0.0f},
        {1e-45, 1e-45f}, // a float subnormal
    };
    for (const auto &c : cases)
        EXPECT_EQ(narrow_to_float(c.in), c.out) << c.in;
}

} // namespace

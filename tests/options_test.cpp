// The options as the driver hands them over: arguments joined, then parsed.
#include "aoplay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Settings {
    int skip;
    float rate;
    int column;
};

constexpr Settings defaults{0, 1.0f, 1};

void parse(std::vector<std::string> args) {
    skip_lines = defaults.skip;
    rate = defaults.rate;
    data_column = defaults.column;
    std::vector<char *> argv{const_cast<char *>("aoplay")};
    for (auto &a : args)
        argv.push_back(a.data());
    join_arguments(static_cast<int>(argv.size()), argv.data());
    parse_options();
}

struct OptionCase {
    std::vector<std::string> args;
    Settings expected;
};

TEST(ParseOptions, SetsTheRunSettings) {
    const OptionCase cases[] = {
        {{}, defaults},
        {{"/"}, defaults},
        {{"///"}, defaults},
        {{"/sl:3"}, {3, 1.0f, 1}},
        {{"/Sl:3"}, {3, 1.0f, 1}},
        {{"/SL:3"}, {3, 1.0f, 1}},
        {{"/SL:-4"}, {-4, 1.0f, 1}},
        {{"/SL:x"}, defaults},
        {{"/TS:0"}, defaults},
        {{"/TS:-2"}, defaults},
        {{"/TS:abc"}, defaults},
        {{"/TS:2.5"}, {0, 2.5f, 1}},
        {{"/ts:1d2"}, {0, 100.0f, 1}},
        {{"/TS:1e400"}, {0, std::numeric_limits<float>::infinity(), 1}},
        {{"/TS:1e-400"}, defaults}, // underflows to 0, which is not above 0
        {{"/XC:0"}, defaults},
        {{"/XC:-1"}, defaults},
        {{"/XC:x"}, defaults},
        {{"/xc:4"}, {0, 1.0f, 4}},
        {{"/XC:2/XC:5"}, {0, 1.0f, 5}},
        {{"/XC:4294967298"}, {0, 1.0f, 2}}, // wraps at 32 bits
        {{"/SL:2147483648"}, {-2147483647 - 1, 1.0f, 1}},
        // Joining: these all read as /SL:2/XC:3.
        {{"/SL:2", "/XC:3"}, {2, 1.0f, 3}},
        {{"/SL:2/XC:3"}, {2, 1.0f, 3}},
        {{"/SL:2/", "XC:3"}, {2, 1.0f, 3}},
        {{"/TS:", "50"}, {0, 50.0f, 1}},
        // Not a new option: glued to the one before it.
        {{"/XC:2", "SL:3"}, {0, 1.0f, 2}},
        // Text before the first slash is an option of its own.
        {{"SL:3"}, {3, 1.0f, 1}},
        // No colon, unknown keywords and stray text are ignored.
        {{"/SL3/XC5/TS/H/?/QQ:1"}, defaults},
        {{"/s l:3"}, defaults},
    };
    for (const auto &c : cases) {
        parse(c.args);
        std::string shown;
        for (const auto &a : c.args)
            shown += a + " ";
        EXPECT_EQ(skip_lines, c.expected.skip) << shown;
        EXPECT_EQ(rate, c.expected.rate) << shown;
        EXPECT_EQ(data_column, c.expected.column) << shown;
    }
}

TEST(ParseOptionsDeathTest, HelpPrintsTheOptionListAndEndsWithZero) {
    const char *list = "^Valid options are:\n      /SL:n\n      /XC:n\n      /TS:ft\n      /HE\n$";
    for (const char *arg :
         {"/HE", "/he", "/HELP", "/Hex", "/XC:he", "/SL:he", "/XC:3/HE", "/HE/XC:3", "//he//"})
        EXPECT_EXIT(parse({arg}), testing::ExitedWithCode(0), list) << arg;
}

void show_settings_at_exit() {
    std::fprintf(stderr, "[skip=%d column=%d]", skip_lines, data_column);
}

TEST(ParseOptionsDeathTest, SettingsBeforeTheHelpAreAppliedThoseAfterAreNot) {
    struct {
        const char *arg;
        const char *settings;
    } cases[] = {
        {"/XC:7/XC:he", "\\[skip=0 column=1\\]"}, // the value reads as 0, then HE matches
        {"/SL:5/SL:he", "\\[skip=0 column=1\\]"},
        {"/XC:3/HE", "\\[skip=0 column=3\\]"},
        {"/HE/XC:3", "\\[skip=0 column=1\\]"},
    };
    for (const auto &c : cases)
        EXPECT_EXIT(
            {
                std::atexit(show_settings_at_exit);
                parse({c.arg});
            },
            testing::ExitedWithCode(0), std::string("/HE\n") + c.settings + "$")
            << c.arg;
}

TEST(JoinArgumentsDeathTest, TooLongIsRefusedNotCut) {
    std::string fits(255, '9'); // digits: folding leaves them alone
    std::string too_long(256, 'a');
    parse({fits});
    EXPECT_EQ(std::string(arg_text), fits);
    EXPECT_EXIT(parse({too_long}), testing::ExitedWithCode(1), "^Command line too long !\n$");
    EXPECT_EXIT(parse({std::string(200, 'a'), std::string(56, 'b')}), testing::ExitedWithCode(1),
                "^Command line too long !\n$");
}

} // namespace

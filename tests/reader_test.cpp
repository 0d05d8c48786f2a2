// The column reader over small inputs on standard input, from a file as users redirect it.
#include "aoplay.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Values = std::vector<float>;

class ReaderTest : public testing::Test {
  protected:
    void SetUp() override { saved_stdin_ = dup(0); }
    void TearDown() override {
        dup2(saved_stdin_, 0);
        close(saved_stdin_);
        std::free(values);
        values = nullptr;
    }

    // Puts text on standard input as a file and reads it with the given settings.
    void feed(const std::string &text, int skip = 0, int column = 1) {
        std::FILE *file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
        std::rewind(file);
        dup2(fileno(file), 0);
        std::fclose(file);
        skip_lines = skip;
        data_column = column;
    }

    Values read() {
        std::free(values);
        read_waveform();
        return Values(values, values + value_count);
    }

    int saved_stdin_ = -1;
};

struct GoodCase {
    const char *name;
    std::string input;
    int skip;
    int column;
    Values expected;
};

TEST_F(ReaderTest, ReadsTheChosenColumn) {
    const std::string long_header(10000, 'h');
    const GoodCase cases[] = {
        {"empty input", "", 0, 1, {}},
        {"one value", "1.5\n", 0, 1, {1.5f}},
        {"no line feed at the end", "1\n2", 0, 1, {1, 2}},
        {"short header lines", "time volts\nx\n0 1\n1 2\n", 2, 2, {1, 2}},
        {"header counted down past the end", "a\nb\n", 5, 1, {}},
        {"column 3", "1 2.5 -0.75 9\n", 0, 3, {-0.75f}},
        {"runs of blanks and tabs", "1 \t  2\t\t3\n", 0, 3, {3}},
        {"leading blanks", "   4.0 5.0\n", 0, 1, {4}},
        {"exponents", "1e-3\n2d1\n", 0, 1, {0.001f, 20}},
        {"not a number reads as 0", "abc\n3,5\n", 0, 1, {0, 3}},
        {"CR LF like LF", "1\r\n2\r\n3\n", 0, 1, {1, 2, 3}},
        {"a lone CR stays in the line", "1\r2 7\n", 0, 2, {7}},
        {"a CR-only line is a column", "\r\r\n", 0, 1, {0}},
        {"CR before the end", "5\r", 0, 1, {5}},
        {"Ctrl-Z ends a file",
         "1\n2\n\x1a"
         "3\n",
         0,
         1,
         {1, 2}},
        {"Ctrl-Z mid-line", "1\n2\x1a\n3\n", 0, 1, {1, 2}},
        {"NUL ends the line's text", std::string("1 2\0 3 4\n5 6\n", 13), 0, 2, {2, 6}},
        {"negative skip skips nothing", "8\n", -3, 1, {8}},
        {"overflow",
         "1e400\n-1e39\n1e-50\n",
         0,
         1,
         {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 0}},
        {"255 characters", std::string(254, ' ') + "9\n", 0, 1, {9}},
        {"255 characters and CR LF", std::string(254, ' ') + "9\r\n", 0, 1, {9}},
        {"a long header line is one line", long_header + "\n" + long_header + "\n7\n", 2, 1, {7}},
        {"a long last header line", long_header, 1, 1, {}},
    };
    for (const auto &c : cases) {
        feed(c.input, c.skip, c.column);
        EXPECT_EQ(read(), c.expected) << c.name;
    }
}

TEST_F(ReaderTest, EmptyInputLeavesOneZeroEntry) {
    feed("");
    EXPECT_EQ(read(), Values{});
    EXPECT_EQ(values[0], 0.0f);
}

TEST_F(ReaderTest, SkipLinesIsCountedDown) {
    feed("a\nb\n", 5);
    EXPECT_EQ(read(), Values{});
    EXPECT_EQ(skip_lines, 3);
    feed(std::string(5000, 'h') + "\n1\n", 1);
    EXPECT_EQ(read(), Values{1});
    EXPECT_EQ(skip_lines, 0);
}

TEST_F(ReaderTest, LinesAcrossBlockBoundaries) {
    // Lines of every length straddle the reader's block boundaries somewhere in 3 MB.
    std::string input;
    Values expected;
    for (int i = 0; input.size() < 3'000'000; ++i) {
        std::string line =
            std::to_string(i % 1000) + std::string(static_cast<std::size_t>(i % 250), ' ') + "x";
        input += line + (i % 3 == 0 ? "\r\n" : "\n");
        expected.push_back(static_cast<float>(i % 1000));
    }
    feed(input);
    EXPECT_EQ(read(), expected);
}

TEST_F(ReaderTest, ReadsAFileFromWhereItsOffsetStands) {
    // As when a shell has read the header before starting the tool on the same file.
    feed("time volts\n1 2\n3 4\n", 0, 2);
    ASSERT_EQ(lseek(0, 11, SEEK_SET), 11);
    EXPECT_EQ(read(), (Values{2, 4}));
}

TEST_F(ReaderTest, FillsEveryValueAFileCanHold) {
    // The most values a file of a given size can hold: one-character lines, the last one
    // with or without its LF, from the start of the file or after a header already read.
    // Small files and one whose table the reader sets aside at once.
    for (std::size_t lines : {1u, 2u, 3u, 1000u, 300000u, 2500000u}) {
        std::string table;
        for (std::size_t i = 0; i < lines; ++i)
            table += static_cast<char>('0' + i % 10) + std::string("\n");
        Values expected;
        for (std::size_t i = 0; i < lines; ++i)
            expected.push_back(static_cast<float>(i % 10));
        for (const std::string &input : {table, table.substr(0, table.size() - 1)}) {
            feed(input);
            EXPECT_EQ(read(), expected) << lines << " lines, " << input.size() << " bytes";
            feed("h\n" + input);
            ASSERT_EQ(lseek(0, 2, SEEK_SET), 2);
            EXPECT_EQ(read(), expected) << lines << " lines after a header already read";
        }
    }
}

struct BadCase {
    const char *name;
    std::string input;
    int skip;
    int column;
    const char *message;
};

using ReaderDeathTest = ReaderTest;

TEST_F(ReaderDeathTest, MissingColumnOrLongLineEndsTheProcess) {
    const BadCase cases[] = {
        {"blank line in the data", "1\n\n2\n", 0, 1, "^Data read failure !\n$"},
        {"blanks only", "1\n  \t \n", 0, 1, "^Data read failure !\n$"},
        {"tab-separated short line", "1\t2.5\n", 0, 3, "^Data read failure !\n$"},
        {"column after a NUL", std::string("1\0 2\n", 5), 0, 2, "^Data read failure !\n$"},
        {"256 characters", std::string(255, ' ') + "9\n", 0, 1, "^Input line too long !\n$"},
        {"100000 characters", std::string(100000, '1') + "\n", 0, 1, "^Input line too long !\n$"},
        {"long line after the header", "h\n" + std::string(300, '1'), 1, 1,
         "^Input line too long !\n$"},
    };
    for (const auto &c : cases) {
        feed(c.input, c.skip, c.column);
        EXPECT_EXIT(read(), testing::ExitedWithCode(1), c.message) << c.name;
    }
}

} // namespace

#include "aoplay.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct KeywordCase {
    const char *token;
    const char *keyword;
    int n;
    bool equal;
    const char *after; // the token after folding
};

TEST(MatchKeyword, FoldsOnlyTheComparedRegionUpToTheStop) {
    const KeywordCase cases[] = {
        {"sl:3", "SL:", 3, true, "SL:3"},
        {"Sl:abc", "SL:", 3, true, "SL:abc"}, // the value text is not folded
        {"he", "HE", 2, true, "HE"},
        {"help", "HE", 2, true, "HElp"},
        {"h", "HE", 2, false, "H"},        // the NUL is compared against 'E'
        {"s l:", "SL:", 3, false, "S l:"}, // folding stops at the blank
        {"xc:2", "TS", 2, false, "XC:2"},  // folded even when it does not match
        {"", "HE", 2, false, ""},
    };
    for (const auto &c : cases) {
        std::string token = c.token;
        int result = match_keyword(token.data(), c.keyword, c.n, ' ');
        EXPECT_EQ(result == 0, c.equal) << c.token;
        EXPECT_EQ(token, c.after) << c.token;
    }
    char lower[] = "a";
    EXPECT_LT(match_keyword(lower, "B", 1, ' '), 0); // the sign orders the texts
}

TEST(Allocation, CallocZeroesAndReallocKeeps) {
    auto *block = static_cast<float *>(calloc_or_exit(1));
    EXPECT_EQ(block[0], 0.0f);
    block[0] = 1.5f;
    block = static_cast<float *>(realloc_or_exit(block, 1000));
    EXPECT_EQ(block[0], 1.5f);
    std::free(block);
}

TEST(AllocationDeathTest, ExhaustionIsFatal) {
    EXPECT_EXIT(calloc_or_exit(SIZE_MAX / 8), testing::ExitedWithCode(1), "Not enough memory !\n$");
    EXPECT_EXIT(realloc_or_exit(nullptr, SIZE_MAX / 2), testing::ExitedWithCode(1),
                "Not enough memory !\n$");
}

TEST(FatalErrorDeathTest, WritesTheMessageAndEndsWithStatusOne) {
    EXPECT_EXIT(fatal_error("Data read failure !\n"), testing::ExitedWithCode(1),
                "^Data read failure !\n$");
}

} // namespace

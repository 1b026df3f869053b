#include "platform/text.h"

#include <gtest/gtest.h>

TEST(AppendText, FillsToTheLastByteAndRefusesBeyond) {
    char buffer[8] = "abc";
    EXPECT_TRUE(appendText(buffer, sizeof buffer, "defg"));  // 7 bytes and the NUL
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_FALSE(appendText(buffer, sizeof buffer, "h"));
    EXPECT_STREQ(buffer, "abcdefg");  // unchanged when it does not fit
}

TEST(AppendText, UnterminatedBufferIsNeverOverrun) {
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(appendText(buffer, sizeof buffer, ""));
}

TEST(CopyText, TooLongLeavesEmpty) {
    char buffer[4] = "ab";
    copyText(buffer, sizeof buffer, "abcd");
    EXPECT_STREQ(buffer, "");
    copyText(buffer, sizeof buffer, "abc");
    EXPECT_STREQ(buffer, "abc");
}

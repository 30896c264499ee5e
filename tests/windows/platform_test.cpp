// The Windows platform layer under Wine: word reading from a file and the recoding of texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/text.h"

namespace {

TEST(WordReading, FollowsTheScanfWordRules) {
    std::ofstream("words.txt", std::ios::binary) << " \r\n\t next time\r\nabcdefghij xyz\r\n";
    ASSERT_NE(std::freopen("words.txt", "r", stdin), nullptr);
    char word[256] = "junk";
    EXPECT_TRUE(plat::read_word(word, sizeof word));
    EXPECT_STREQ(word, "next");
    EXPECT_TRUE(plat::read_word(word, sizeof word));
    EXPECT_STREQ(word, "time");

    // A word longer than the buffer is cut, and its rest is read and dropped.
    char small[5];
    EXPECT_TRUE(plat::read_word(small, sizeof small));
    EXPECT_STREQ(small, "abcd");
    EXPECT_TRUE(plat::read_word(word, sizeof word));
    EXPECT_STREQ(word, "xyz");

    // The line end behind the last word stays buffered, in text mode without its CR.
    EXPECT_EQ(plat::read_char(), '\n');
    EXPECT_FALSE(plat::read_word(word, sizeof word));
    EXPECT_STREQ(word, "");
    EXPECT_EQ(plat::read_char(), -1);
    std::fclose(stdin);
}

// On a console the texts follow its output code page; "コマンドが無効です。" here.
TEST(TextRecoding, GivesEachConsoleItsOwnBytes) {
    const char utf8[] = "\xe3\x82\xb3\xe3\x83\x9e\xe3\x83\xb3\xe3\x83\x89\xe3\x81\x8c\xe7\x84\xa1"
                        "\xe5\x8a\xb9\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82";
    EXPECT_EQ(plat::text_in_code_page(utf8, plat::shift_jis),
              "\x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x96\xb3\x8c\xf8\x82\xc5\x82\xb7\x81\x42");
    EXPECT_EQ(plat::text_in_code_page(utf8, CP_UTF8), utf8);
    // A console without Japanese shows replacement marks, one per character, never UTF-8 bytes.
    EXPECT_EQ(plat::text_in_code_page(utf8, 1252), std::string(10, '?'));
    EXPECT_EQ(plat::text_in_code_page("caf\xc3\xa9 ~$ 12", 1252), "caf\xe9 ~$ 12");
}

} // namespace

// The Windows platform layer under Wine: word reading, the folder search and the recoding of texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <io.h>
#include <iterator>
#include <set>
#include <string>

#include <windows.h>

#include "platform/platform.h"
#include "platform/windows/text.h"

namespace {

// "コマンドが無効です。" and "全曲一覧を表示します", in UTF-8 and in Shift-JIS.
const char invalid_utf8[] = "\xe3\x82\xb3\xe3\x83\x9e\xe3\x83\xb3\xe3\x83\x89\xe3\x81\x8c\xe7\x84"
                            "\xa1\xe5\x8a\xb9\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82";
const char invalid_sjis[] = "\x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x96\xb3\x8c\xf8\x82\xc5"
                            "\x82\xb7\x81\x42";
const char listing_utf8[] = "\xe5\x85\xa8\xe6\x9b\xb2\xe4\xb8\x80\xe8\xa6\xa7\xe3\x82\x92\xe8\xa1"
                            "\xa8\xe7\xa4\xba\xe3\x81\x97\xe3\x81\xbe\xe3\x81\x99";
const char listing_sjis[] = "\x91\x53\x8b\xc8\x88\xea\x97\x97\x82\xf0\x95\x5c\x8e\xa6\x82\xb5"
                            "\x82\xdc\x82\xb7";

// A fresh folder under the Wine prefix's temporary folder, made current for the test.
class in_scratch_folder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("kestrova-platform-" + std::to_string(GetCurrentProcessId()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
    }
    // Without throwing: a failed check may have left a file in the folder open.
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path(folder_.parent_path(), ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    static void touch(const char *name, const std::string &content = "") {
        std::ofstream(name, std::ios::binary) << content;
    }
    std::filesystem::path folder_;
};

using WordReading = in_scratch_folder;

TEST_F(WordReading, FollowsTheScanfWordRules) {
    touch("input.txt", " \r\n\t next time\r\nabcdefghij xyz\r\n");
    ASSERT_NE(std::freopen("input.txt", "r", stdin), nullptr);
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

using DirectorySearch = in_scratch_folder;

TEST_F(DirectorySearch, FindsWaveNamesInAnyLetterCase) {
    for (const char *name : {"one.wav", "TWO.WAV", "three.Wav", "notes.txt", "song.mp3"}) {
        touch(name);
    }
    std::filesystem::create_directory("folder.wav");

    plat::find_data found;
    std::set<std::string> names;
    plat::find_handle search = plat::find_first("*.wav", &found);
    ASSERT_NE(search, nullptr);
    do {
        names.insert(found.cFileName);
    } while (plat::find_next(search, &found));
    plat::find_close(search);
    EXPECT_EQ(names, (std::set<std::string>{"one.wav", "TWO.WAV", "three.Wav", "folder.wav"}));

    EXPECT_EQ(plat::find_first("*.ogg", &found), nullptr);
}

TEST(TextRecoding, GivesEachConsoleItsOwnBytes) {
    EXPECT_EQ(plat::text_in_code_page(invalid_utf8, 932), invalid_sjis);
    EXPECT_EQ(plat::text_in_code_page(invalid_utf8, CP_UTF8), invalid_utf8);
    // A console without Japanese shows replacement marks, one per character, never UTF-8 bytes.
    EXPECT_EQ(plat::text_in_code_page(invalid_utf8, 1252), std::string(10, '?'));
    EXPECT_EQ(plat::text_in_code_page(invalid_utf8, 437), std::string(10, '?'));
    EXPECT_EQ(plat::text_in_code_page("KestrovaSonvane ~$ 12", 1252), "KestrovaSonvane ~$ 12");
}

// What write_text writes when standard output is redirected to a file.
std::string redirected_text(const char *utf8) {
    std::fflush(stdout);
    int saved = _dup(_fileno(stdout));
    int file = _open("out.bin", _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(file, _fileno(stdout));
    _close(file);
    plat::write_text(utf8);
    _dup2(saved, _fileno(stdout));
    _close(saved);
    std::ifstream in("out.bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// These two run in processes of their own, under a Japanese and under a Western locale.
using RedirectedText = in_scratch_folder;

TEST_F(RedirectedText, IsShiftJisUnderAJapaneseAnsiCodePage) {
    ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8";
    EXPECT_EQ(redirected_text(listing_utf8), listing_sjis);
}

TEST_F(RedirectedText, IsRecodedUnderAWesternAnsiCodePage) {
    ASSERT_EQ(GetACP(), 1252u) << "run with LC_ALL=C";
    EXPECT_EQ(redirected_text(listing_utf8), std::string(10, '?'));
    // The OEM code page 437 would give 0x82 here.
    EXPECT_EQ(redirected_text("caf\xc3\xa9"), "caf\xe9");
}

} // namespace

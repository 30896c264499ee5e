// What a real terminal shows: typed words echoed and edited, keys that are not words, pipes, texts.
#include <gtest/gtest.h>

#include "player_run.h"
#include "support.h"

using namespace support;

namespace {

class Terminal : public ::testing::Test {
  protected:
    // Starts the player on three long tracks and returns the listing as "ls" prints it.
    std::string start(player_run &run) {
        if (!run.expect("~$ ")) {
            return "no prompt";
        }
        names = listing(run.output());
        std::string listed = "\n";
        for (std::size_t i = 0; i < names.size(); ++i) {
            listed += std::to_string(i) + " | " + names[i] + "\n";
        }
        return listed;
    }
    temp_folder folder;
    std::vector<std::string> names;
    void SetUp() override {
        for (const char *name : {"a", "b", "c"}) {
            write_wav(folder / (std::string(name) + ".wav"), 60);
        }
    }
};

struct burst {
    const char *what;
    std::string keys; // ends in a line that says "ls", however it got there
    std::string echo; // what the terminal must show of it, when checked
};

// Each burst arrives in one write, as a paste does; the listing must follow every one.
TEST_F(Terminal, EditingAndStrayKeysLeaveTheNextWordIntact) {
    player_run run(folder.path(), {input::terminal, false, false, {"LC_ALL=C.UTF-8"}, {}});
    const std::string listed = start(run);
    const burst bursts[] = {
        {"plain", "ls\n", "ls\n"},
        {"erase", "lx\x7fs\n", "lx\b \bs\n"},
        {"backspace", "lx\bs\n", "lx\b \bs\n"},
        {"kill line", "garbage\x15ls\n", ""},
        {"word erase", "one two\x17\x17ls\n", ""},
        {"multibyte letter rubbed out whole", "l\xc3\xa9\x7fs\n", "l\xc3\xa9\b \bs\n"},
        {"arrow keys", "\x1b[A\x1b[B\x1bOAls\n", "ls\n"},
        // An escape sequence cut short must not swallow the Enter after it, nor the next word.
        {"unfinished CSI", "qq\x1b[\nls\n", ""},
        {"lone ESC", "qq\x1b\nls\n", ""},
        {"CSI with parameters", "\x1b[1;5D\x1b[200~pasted\x1b[201~\nls\n", ""},
        {"NUL and C0 bytes", std::string("\0\x01\x02\x04\x05\x06\x07", 7) + "zz\nls\n", ""},
        {"invalid UTF-8, rubbed out", "\xff\xfe\xc3\x7f\x7f\x7fls\n", ""},
        {"overlong word", std::string(5000, 'w') + "\nls\n", ""},
        {"huge number", "99999999999999999999999999\n-7\nls\n", ""},
    };
    for (const burst &b : bursts) {
        ASSERT_TRUE(run.type(b.keys));
        if (!b.echo.empty()) {
            EXPECT_TRUE(run.expect_next(b.echo)) << b.what << "\n" << run.unmatched();
        }
        EXPECT_TRUE(run.expect(listed + prompt(names[0]))) << b.what << "\n" << run.unmatched();
    }
    EXPECT_EQ(run.output().find('\x1b'), std::string::npos) << "typed escapes were echoed";
}

// "stop" waits for one key, which is neither echoed nor kept: a key that sends a sequence of
// bytes is still one key, and the word after it is whole.
TEST_F(Terminal, StopWaitsForOneKey) {
    player_run run(folder.path());
    const std::string listed = start(run);
    run.type("stop\n");
    ASSERT_TRUE(run.expect_next("stop\n")) << run.unmatched();
    run.type("\x1b[Als\n");
    EXPECT_TRUE(run.expect_next("\n" + prompt(names[1]) + "ls\n" + listed + prompt(names[1])))
        << run.unmatched();
}

// From a pipe a word waits for its line, and the line end after "stop" belongs to that line:
// only the byte after it ends the wait.
TEST_F(Terminal, FromAPipeStopWaitsForTheByteAfterItsLine) {
    player_run run(folder.path(), {input::pipe, false, false, {}, {}});
    const std::string listed = start(run);
    run.type("stop\nxls\n");
    EXPECT_TRUE(run.expect_next("\n" + prompt(names[1]) + listed + prompt(names[1])))
        << run.unmatched();
}

// Once its input has ended the player plays on; "ls" must land inside the first track, which
// is held between one and two seconds.
TEST(Pipe, ThatClosesLeavesThePlayerPlaying) {
    temp_folder folder;
    write_wav(folder / "a.wav", 1);
    player_run run(folder.path(), {input::pipe, false, false, {}, {}});
    ASSERT_TRUE(run.expect(prompt("a")));
    run.type("ls\n");
    run.close_input();
    ASSERT_TRUE(run.expect_next("\n0 | a\n" + prompt("a"))) << run.unmatched();
    ASSERT_TRUE(run.expect(prompt("a")));
    ASSERT_TRUE(run.expect(prompt("a")));
    EXPECT_EQ(run.wait_exit(0), -1);
}

struct locale_case {
    const char *name;
    std::string refusal; // "コマンドが無効です。" as the locale writes it
};

class Text : public ::testing::TestWithParam<locale_case> {};

TEST_P(Text, UnknownHelpWordIsRefusedInTheLocalesCharset) {
    temp_folder folder;
    write_wav(folder / "song.wav", 60);
    player_run run(folder.path(),
                   {input::terminal, false, false, {std::string("LC_ALL=") + GetParam().name}, {}});
    ASSERT_TRUE(run.expect(prompt("song")));
    run.type("help zzz\n");
    // The refusal has no line end: the prompt follows on its line.
    EXPECT_TRUE(
        run.expect_next("help zzz\nplease type to cmd ~$" + GetParam().refusal + prompt("song")))
        << run.unmatched();
}

const std::string refusal_utf8 = "コマンドが無効です。";
const std::string refusal_sjis =
    "\x83\x52\x83\x7d\x83\x93\x83\x68\x82\xaa\x96\xb3\x8c\xf8\x82\xc5\x82\xb7\x81\x42";

INSTANTIATE_TEST_SUITE_P(Locales, Text,
                         ::testing::Values(locale_case{"C", refusal_utf8},
                                           locale_case{"ja_JP.UTF-8", refusal_utf8},
                                           locale_case{"ja_JP.SJIS", refusal_sjis}),
                         [](const auto &info) { return std::to_string(info.index); });

} // namespace

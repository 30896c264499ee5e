// The help screen: every row of its table, unknown words, and how it shares the typed line.
#include "console/console.h"
#include "harness.h"

using HelpTest = PlayerTest;

namespace {
const char before_text[] = "現在再生されている曲の前の曲を再生します\n"
                           "但し、再生開始後4秒を基準にそれ以前なら前の曲\n"
                           "それ以後はその曲を再生します。";
const char next_text[] = "現在再生されている曲の次の曲を再生します";
const char invalid[] = "コマンドが無効です。";

std::string help_for(const std::string &typed) {
    fake::reset();
    fake::type_at(t0, typed);
    show_help();
    return fake::output();
}
} // namespace

TEST_F(HelpTest, EveryRow) {
    const std::string ask = "please type to cmd ~$";
    struct row {
        const char *word;
        std::string text;
    };
    for (const row &r :
         {row{"before", before_text}, row{"next", next_text}, row{"b", before_text},
          row{"n", next_text},
          row{"alloop", "初期状態で最後の曲が終わると最初の曲に行ますが、それをoffに出来ます\n"
                        "もう一度入力すると戻ります"},
          row{"ls", "全曲一覧を表示します"},
          row{"time", "曲の長さと、既に再生された時間を表示します."},
          row{"stop", "再生を停止しますenterを入力すると最後に再生された曲の次から再生します."},
          row{"exit", "KestrovaSonvaneを終了します."},
          row{"shuffle", "ランダム再生です、もう一度実行すると戻ります。"},
          row{"help",
              "この機能です\nhelpを表示します\nコマンドには以下があります\n\nbefor\nnext\nb\n"
              "n\nalloop\nls\nexit\nshuffle\nhelp\nloop"},
          row{"loop", "一曲を繰り返し再生します。もう一度実行すると戻ります。"}}) {
        EXPECT_EQ(help_for(std::string(r.word) + "\n"), ask + r.text + "\n") << r.word;
        // The texts go out as the program's own, for the platform to encode.
        ASSERT_EQ(fake::texts().size(), 1u);
        EXPECT_EQ(fake::texts()[0], r.text);
    }
}

TEST_F(HelpTest, OnlyWholeNamesMatch) {
    for (const char *word : {"befor", "Help", "LS", "nope", "12", "back"}) {
        EXPECT_EQ(help_for(std::string(word) + "\n"),
                  std::string("please type to cmd ~$") + invalid)
            << word;
    }
}

TEST_F(HelpTest, EndOfInputReturnsAtOnce) {
    EXPECT_EQ(help_for(""), "please type to cmd ~$\n");
    EXPECT_EQ(fake::clock_ms(), t0);
}

TEST_F(HelpTest, WordOnTheSameLineAndTheMessageBeforeThePrompt) {
    fake::set_folder({"song.wav"});
    fake::type_at(t0 + 100, "help stop\n");
    fake::type_at(t0 + 1000, "help\n\n  zzz\n");
    fake::set_play_budget(1);
    fake::run_main();
    const std::string prompt = "KestrovaSonvane~ song~$ ";
    EXPECT_NE(fake::output().find(prompt + "please type to cmd ~$再生を停止しますenter"),
              std::string::npos);
    EXPECT_NE(fake::output().find(std::string("please type to cmd ~$") + invalid + prompt),
              std::string::npos);
}

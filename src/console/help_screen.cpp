// The help screen: asks for one command word and prints its description from a fixed table.
#include <cstring>

#include "console/console.h"
#include "platform/platform.h"

namespace {

// Rows 2 and 3 repeat the texts of rows 0 and 1 for the one-letter forms.
#define HELP_BEFORE                                                                                \
    "現在再生されている曲の前の曲を再生します\n"                               \
    "但し、再生開始後4秒を基準にそれ以前なら前の曲\n"                        \
    "それ以後はその曲を再生します。"
#define HELP_NEXT "現在再生されている曲の次の曲を再生します"

constexpr int help_rows = 13;

// The texts are kept in UTF-8; the platform writes them in the console's character set.
const char hlp[help_rows][8] = {"before", "next", "b",       "n",    "alloop", "ls",   "time",
                                "stop",   "exit", "shuffle", "help", "loop",   "pause"};
const char hlp_naka[help_rows][512] = {
    HELP_BEFORE,
    HELP_NEXT,
    HELP_BEFORE,
    HELP_NEXT,
    "初期状態で最後の曲が終わると最初の曲に行ますが、それをoffに出来ます\n"
    "もう一度入力すると戻ります",
    "全曲一覧を表示します",
    "曲の長さと、既に再生された時間を表示します.",
    "再生を停止しますenterを入力すると最後に再生された曲の次から再生します.",
    "KestrovaSonvaneを終了します.",
    "ランダム再生です、もう一度実行すると戻ります。",
    "この機能です\nhelpを表示します\nコマンドには以下があります\n\n"
    "befor\nnext\nb\nn\nalloop\nls\nexit\nshuffle\nhelp\nloop",
    "一曲を繰り返し再生します。もう一度実行すると戻ります。",
    "再生を一時停止します。何かキーを押すと同じ曲の続きから再生します。",
};

#undef HELP_BEFORE
#undef HELP_NEXT

const char invalid_command[] = "コマンドが無効です。";

} // namespace

void show_help() {
    say("please type to cmd ~$");
    char hlpcmd[256];
    if (!plat::read_word(hlpcmd, sizeof hlpcmd)) {
        // Input has ended: no word to look up; the player's prompt starts a fresh line.
        say("\n");
        return;
    }
    for (int i = 0; i < help_rows; ++i) {
        if (std::strcmp(hlpcmd, hlp[i]) == 0) {
            plat::write_text(hlp_naka[i]);
            say("\n");
            return;
        }
    }
    // No line end: the player's prompt continues on this line.
    plat::write_text(invalid_command);
}

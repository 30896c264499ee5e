// Hostile typing into the real player, in a pseudo-terminal.
// Bursts of escape sequences, control bytes, editing keys, invalid UTF-8 and overlong words, each
// followed by "ls", which must still work.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "player_run.h"

using namespace e2e;

namespace {

struct burst {
    const char *what;
    std::string keys;
};

TEST(HostileInput, EveryBurstLeavesTheReaderReadyForTheNextWord) {
    temp_folder folder;
    for (const char *name : {"a", "b", "c"})
        write_wav(folder / (std::string(name) + ".wav"), 30);
    player_run run(folder.path());
    ASSERT_TRUE(run.expect("~$ ")) << run.output();
    const std::vector<std::string> names = listing(run.output());
    ASSERT_EQ(names.size(), 3u);
    const std::string listed = "\n2 | " + names[2] + "\n" + prompt(names[0]);

    // Each burst ends in a line that says "ls". Keys that the terminal itself turns into
    // signals (Ctrl-C, Ctrl-Z, Ctrl-\\) are left out: they end or stop the player by design.
    const std::vector<burst> bursts = {
        // An escape sequence cut short must not swallow the Enter after it, nor the next word.
        {"unfinished CSI", "qq\x1b[\nls\n"},
        {"lone ESC", "qq\x1b\nls\n"},
        {"arrow keys", "\x1b[A\x1b[B\x1b[C\x1b[D\x1bOAls\n"},
        {"CSI with parameters", "\x1b[1;5D\x1b[200~pasted\x1b[201~\nls\n"},
        {"NUL and C0 bytes", std::string("\0\x01\x02\x04\x05\x06\x07", 7) + "zz\nls\n"},
        {"erase", "lx\x7fs\n"},
        {"backspace", "lx\bs\n"},
        {"kill line", "garbage\x15ls\n"},
        {"invalid UTF-8, rubbed out", "\xff\xfe\xc3\x7f\x7f\x7fls\n"},
        {"overlong word", std::string(5000, 'w') + "\nls\n"},
        {"huge number", "99999999999999999999999999\n-7\nls\n"},
    };
    for (const burst &b : bursts) {
        // Everything in one write, as a paste arrives.
        run.type(b.keys);
        EXPECT_TRUE(run.expect(listed, 3)) << b.what << "\n" << run.output().substr(run.cursor());
        ASSERT_TRUE(run.running()) << b.what;
    }
    EXPECT_EQ(run.output().find('\x1b'), std::string::npos) << "typed escapes were echoed";
    run.type("exit\n");
    const int status = run.wait_exit();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_TRUE(same_settings(run.terminal_settings(), run.initial_settings()));
}

} // namespace

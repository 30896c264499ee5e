// Every way out of the player gives the terminal back as it found it, and ends as the shell
// expects.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "player_run.h"
#include "support.h"

using namespace support;

namespace {

struct way_out {
    const char *name;
    int tracks;        // 50 makes a full list of empty tracks; otherwise two long ones
    const char *keys;  // typed at the first prompt
    int signal_number; // then sent, 0 for none
    int ends_by;       // the signal that ends the player, 0 when it exits
    int status;        // its exit status then
    run_options options = {};
};

// Under the sanitizers a crash must still reach their report, which then ends the process.
#if defined(KESTROVA_ASAN)
constexpr int segv_ends_by = 0;
#else
constexpr int segv_ends_by = SIGSEGV;
#endif

const way_out ways_out[] = {
    // The buffered line end after "49" is the key that the end of a full list waits for.
    {"FiftiethTrack", 50, "49\n", 0, 0, 0, {}},
    {"Fifty", 2, "50\n", 0, 0, 0},
    {"Exit", 2, "exit\n", 0, 0, 1},
    {"CtrlC", 2, "\x03", 0, SIGINT, 0},
    {"CtrlBackslash", 2, "\x1c", 0, SIGQUIT, 0},
    {"Sigterm", 2, "", SIGTERM, SIGTERM, 0},
    {"Sighup", 2, "", SIGHUP, SIGHUP, 0},
    {"Sigusr1", 2, "", SIGUSR1, SIGUSR1, 0},
    {"Sigabrt", 2, "", SIGABRT, SIGABRT, 0},
    {"Sigsegv", 2, "", SIGSEGV, segv_ends_by, 1},
    {"Realtime", 2, "", SIGRTMIN + 1, SIGRTMIN + 1, 0},
    // Output into a pipe whose reader has gone: the next write brings SIGPIPE...
    {"ClosedPipe", 2, "ls\n", 0, SIGPIPE, 0, {input::terminal, true, false, {}, {}}},
    // ...unless the parent left it ignored: the writes fail, and the player plays on unheard.
    {"ClosedPipeIgnored", 2, "ls\nexit\n", 0, 0, 1, {input::terminal, true, true, {}, {}}},
};

class WaysOut : public ::testing::TestWithParam<way_out> {};

TEST_P(WaysOut, GiveTheTerminalBack) {
    const way_out &way = GetParam();
    temp_folder folder;
    for (int i = 0; i < way.tracks; ++i) {
        write_wav(folder / ("t" + std::to_string(i) + ".wav"), way.tracks == 50 ? 0 : 60);
    }
    player_run run(folder.path(), way.options);
    if (way.options.output_pipe) {
        ASSERT_TRUE(run.read_piped_then_close("~$ "));
    } else {
        ASSERT_TRUE(run.expect("~$ ")) << run.output();
    }
    EXPECT_FALSE(run.restored()) << "the player's own mode while it plays";
    run.type(way.keys);
    if (way.signal_number != 0) {
        run.signal(way.signal_number);
    }
    const int status = run.wait_exit();
    if (way.ends_by != 0) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == way.ends_by) << status;
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == way.status) << status;
    }
    if (way.signal_number == SIGSEGV && segv_ends_by == 0) {
        EXPECT_NE(run.output().find("Sanitizer: SEGV"), std::string::npos) << run.output();
    }
    EXPECT_TRUE(run.restored());
}

INSTANTIATE_TEST_SUITE_P(Table, WaysOut, ::testing::ValuesIn(ways_out),
                         [](const auto &info) { return std::string(info.param.name); });

// Ctrl-Z under a shell with job control (dash: it leaves the terminal as the player left it).
// While stopped, the shell has its terminal back; after fg the player draws its prompt and the
// half-typed word again on a fresh line, and the word goes on where it was.
TEST(CtrlZ, GivesTheTerminalBackAndFgRedrawsTheLine) {
    temp_folder folder;
    write_wav(folder / "one.wav", 60);
    write_wav(folder / "two.wav", 60);
    player_run run(folder.path(),
                   {input::terminal,
                    false,
                    false,
                    {},
                    {"/bin/dash", "-c",
                     "set -m; before=$(stty -g); \"$KESTROVA\"; "
                     "[ \"$(stty -g)\" = \"$before\" ] && echo given back; fg; echo ended:$?"}});
    ASSERT_TRUE(run.expect("~$ ")) << run.output();
    const std::vector<std::string> names = listing(run.output());
    ASSERT_EQ(names.size(), 2u);
    run.type("ne");
    ASSERT_TRUE(run.expect("ne")) << run.output();
    run.type("\x1a");
    ASSERT_TRUE(run.expect("given back\n")) << run.unmatched();
    ASSERT_TRUE(run.expect("\n" + prompt(names[0]) + "ne")) << run.unmatched();
    run.type("xt\n");
    ASSERT_TRUE(run.expect_next("xt\n\n" + prompt(names[1]))) << run.unmatched();
    run.type("exit\n");
    ASSERT_TRUE(run.expect("ended:1")) << run.unmatched();
    EXPECT_TRUE(run.restored());
}

} // namespace

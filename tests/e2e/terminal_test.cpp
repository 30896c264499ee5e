// The terminal around the player: its mode while playing, restored on every way out; pipes, files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "player_run.h"

using namespace e2e;

namespace {

void expect_restored(const player_run &run) {
    EXPECT_TRUE(same_settings(run.terminal_settings(), run.initial_settings()));
    EXPECT_EQ(run.terminal_flags(), run.initial_flags());
}

bool raw_mode(const player_run &run) {
    return (run.terminal_settings().c_lflag & (ICANON | ECHO)) == 0;
}

// CPU time the process has used so far, in clock ticks.
long cpu_ticks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

// Whether "stty -g" output describes these settings: four flag words, then the control characters.
bool same_as_stty(const std::string &saved, const termios &settings) {
    std::vector<unsigned long> fields;
    std::istringstream words(saved);
    for (std::string word; std::getline(words, word, ':');) {
        fields.push_back(std::stoul(word, nullptr, 16));
    }
    if (fields.size() != 4 + NCCS) {
        return false;
    }
    bool same = fields[0] == settings.c_iflag && fields[1] == settings.c_oflag &&
                fields[2] == settings.c_cflag && fields[3] == settings.c_lflag;
    for (int i = 0; i < NCCS; ++i) {
        same = same && fields[4 + static_cast<std::size_t>(i)] == settings.c_cc[i];
    }
    return same;
}

class Terminal : public ::testing::Test {
  protected:
    void SetUp() override {
        write_wav(folder / "one.wav", 40);
        write_wav(folder / "two.wav", 40);
    }
    temp_folder folder;
};

TEST_F(Terminal, RawWhilePlayingAndRestoredAfterTheNormalEnd) {
    player_run run(folder.path());
    ASSERT_TRUE(run.expect("~$ "));
    // A fresh terminal is cooked; the player's own mode is not.
    EXPECT_NE(run.initial_settings().c_lflag & ICANON, 0u);
    EXPECT_TRUE(raw_mode(run));
    run.type("50\n");
    int status = run.wait_exit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expect_restored(run);
}

TEST_F(Terminal, RestoredAfterExit) {
    player_run run(folder.path());
    ASSERT_TRUE(run.expect("~$ "));
    run.type("exit\n");
    int status = run.wait_exit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    expect_restored(run);
}

class TerminalSignal : public Terminal, public ::testing::WithParamInterface<int> {};

TEST_P(TerminalSignal, RestoredAndEndedByTheSignal) {
    player_run run(folder.path());
    ASSERT_TRUE(run.expect("~$ "));
    ASSERT_TRUE(raw_mode(run));
    if (GetParam() == SIGINT) {
        run.type("\x03"); // Ctrl-C, turned into SIGINT by the terminal itself
    } else {
        run.signal(GetParam());
    }
    int status = run.wait_exit();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), GetParam());
    expect_restored(run);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminalSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

// Ctrl-Z under a shell with job control: the shell must find its terminal as it left it, and
// after fg the player is raw again and answers.
TEST_F(Terminal, CtrlZGivesTheTerminalBackAndFgTakesItAgain) {
    player_run run(folder.path(), input::terminal, {},
                   {"/bin/bash", "-c",
                    "set -m; \"$KESTROVA\"; echo \"stopped:$(stty -g)\"; fg >/dev/null; "
                    "echo \"ended:$?\""});
    ASSERT_TRUE(run.expect("~$ "));
    ASSERT_TRUE(raw_mode(run));
    run.type("\x1a"); // Ctrl-Z
    ASSERT_TRUE(run.expect("stopped:")) << run.output();
    ASSERT_TRUE(run.expect("\n"));
    std::string stopped = run.output().substr(run.output().rfind("stopped:") + 8);
    stopped = stopped.substr(0, stopped.find('\n'));
    EXPECT_TRUE(same_as_stty(stopped, run.initial_settings())) << stopped;
    // fg puts the player back in front; it sets its mode again and takes commands.
    for (int i = 0; i < 50 && !raw_mode(run); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(raw_mode(run));
    run.type("ls\n");
    ASSERT_TRUE(run.expect("ls\n\n0 | ")) << run.output();
    run.type("exit\n");
    ASSERT_TRUE(run.expect("ended:1")) << run.output();
    expect_restored(run);
}

TEST(NotATerminal, FromDevNullPlaysOnWithoutSpinningAndLeavesTheTerminalAlone) {
    temp_folder folder;
    write_wav(folder / "a.wav", 0);
    write_wav(folder / "b.wav", 0);
    player_run run(folder.path(), input::dev_null);
    ASSERT_TRUE(run.expect("~$ "));
    const std::vector<std::string> names = listing(run.output());
    ASSERT_EQ(names.size(), 2u);
    ASSERT_TRUE(run.expect(prompt(names[1]), 3));
    const long before = cpu_ticks(run.pid());
    ASSERT_TRUE(run.expect(prompt(names[0]), 3));
    ASSERT_TRUE(run.expect(prompt(names[1]), 3));
    const long used = cpu_ticks(run.pid()) - before;
    // Two seconds of play; a polling loop that spins at the end of input would use them all.
    EXPECT_LE(used, 10) << "clock ticks of CPU in about 2 s";
    EXPECT_TRUE(same_settings(run.terminal_settings(), run.initial_settings()));
    run.signal(SIGTERM);
    int status = run.wait_exit();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    expect_restored(run);
}

TEST(NotATerminal, FromAPipeWordsWaitForTheirLineAndStopForTheByteAfterIt) {
    temp_folder folder;
    write_wav(folder / "a.wav", 40);
    write_wav(folder / "b.wav", 40);
    player_run run(folder.path(), input::pipe);
    ASSERT_TRUE(run.expect("~$ "));
    const std::vector<std::string> names = listing(run.output());
    ASSERT_EQ(names.size(), 2u);
    const std::string list_text = "0 | " + names[0] + "\n1 | " + names[1] + "\n";

    run.type("ls\n");
    ASSERT_NEXT(run, "\n" + list_text + prompt(names[0]));
    // The line end after "stop" belongs to its line: only a further byte ends the wait.
    run.type("stop\n");
    EXPECT_EQ(run.rest_after(0.7), "");
    run.type("x");
    ASSERT_NEXT(run, "\n" + prompt(names[1]));
    EXPECT_TRUE(same_settings(run.terminal_settings(), run.initial_settings()));
    run.type("50\n");
    int status = run.wait_exit(2);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    expect_restored(run);
}

TEST(NotATerminal, APipeThatClosesLeavesThePlayerPlaying) {
    temp_folder folder;
    // Held between one and two seconds, so "ls" always lands inside the first track.
    write_wav(folder / "a.wav", 1);
    player_run run(folder.path(), input::pipe);
    ASSERT_TRUE(run.expect(prompt("a")));
    run.type("ls\n");
    run.close_pipe();
    ASSERT_NEXT(run, "\n0 | a\n" + prompt("a"));
    ASSERT_TRUE(run.expect(prompt("a"), 3));
    ASSERT_TRUE(run.expect(prompt("a"), 3));
    EXPECT_TRUE(run.running());
}

} // namespace

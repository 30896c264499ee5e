// Typed commands at a real terminal: listing, prompt, echo, line editing and every command word.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include "player_run.h"

using namespace e2e;

namespace {

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        // Long enough that no track ends by itself while the commands are typed.
        for (const char *name : {"alpha", "beta", "gamma"}) {
            write_wav(folder / (std::string(name) + ".wav"), 40);
        }
    }

    // Waits for the listing and the first prompt, and returns the names in listed order.
    std::vector<std::string> start(player_run &run) {
        EXPECT_TRUE(run.expect("~$ ")) << run.output();
        names = listing(run.output());
        std::string shown;
        for (std::size_t i = 0; i < names.size(); ++i) {
            shown += std::to_string(i) + " | " + names[i] + "\n";
        }
        list_text = shown;
        EXPECT_EQ(run.output(), shown + "\n" + prompt(names.at(0)));
        return names;
    }

    temp_folder folder;
    std::vector<std::string> names;
    std::string list_text;
};

TEST_F(Commands, ListingNamesEveryTrackOnceWithoutItsExtension) {
    player_run run(folder.path());
    start(run);
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"alpha", "beta", "gamma"}));
}

TEST_F(Commands, EachWordActsAndIsEchoedAsTyped) {
    player_run run(folder.path(), input::terminal, {"LC_ALL=C"});
    start(run);

    run.type("next\n");
    ASSERT_NEXT(run, "next\n\n" + prompt(names[1]));
    run.type("before\n");
    ASSERT_NEXT(run, "before\n\n" + prompt(names[0]));
    run.type("2\n");
    ASSERT_NEXT(run, "2\n\n" + prompt(names[2]));
    run.type("ls\n");
    ASSERT_NEXT(run, "ls\n\n" + list_text + prompt(names[2]));

    run.type("time\n");
    ASSERT_NEXT(run, "time\n");
    ASSERT_TRUE(run.expect(prompt(names[2])));
    std::string shown = run.output().substr(run.output().rfind("time\n") + 5);
    int minutes = -1;
    int seconds = -1;
    char bar[32] = {};
    ASSERT_EQ(std::sscanf(shown.c_str(), "\n%d min %d sec / 0 min 40 sec\n%31[>.]\n", &minutes,
                          &seconds, bar),
              3)
        << shown;
    EXPECT_EQ(minutes, 0);
    EXPECT_LT(seconds, 10);
    // Early in a long track: a cell for each started thirtieth of it.
    const std::size_t reached = static_cast<std::size_t>(seconds * 30 / 40 + 1);
    EXPECT_EQ(std::string(bar), std::string(reached, '>') + std::string(30 - reached, '.'))
        << shown;

    // A word on the same line is taken at once; on a line of its own it is waited for.
    run.type("help ls\n");
    ASSERT_NEXT(run, "help ls\nplease type to cmd ~$全曲一覧を表示します\n" + prompt(names[2]));
    run.type("help\n");
    ASSERT_NEXT(run, "help\nplease type to cmd ~$");
    EXPECT_EQ(run.rest_after(0.5), "");
    run.type("n\n");
    ASSERT_NEXT(run, "n\n現在再生されている曲の次の曲を再生します\n" + prompt(names[2]));

    run.type("loop\n");
    ASSERT_NEXT(run, "loop\n" + prompt(names[2]));
    run.type("next\n");
    ASSERT_NEXT(run, "next\n\n" + prompt(names[2]));
    run.type("loop\n");
    ASSERT_NEXT(run, "loop\n" + prompt(names[2]));
    run.type("next\n");
    ASSERT_NEXT(run, "next\n\n" + prompt(names[0]));

    // A number plays its entry even while shuffled; shuffle typed again restores play in turn.
    run.type("shuffle\n");
    ASSERT_NEXT(run, "shuffle\n" + prompt(names[0]));
    run.type("1\n");
    ASSERT_NEXT(run, "1\n\n" + prompt(names[1]));
    run.type("shuffle\n");
    ASSERT_NEXT(run, "shuffle\n" + prompt(names[1]));
    run.type("next\n");
    ASSERT_NEXT(run, "next\n\n" + prompt(names[2]));

    run.type("exit\n");
    ASSERT_NEXT(run, "exit\n");
    int status = run.wait_exit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(run.rest_after(0.1), "");
}

TEST_F(Commands, LineEditingErasesAndKillsBeforeTheWordIsTaken) {
    player_run run(folder.path(), input::terminal, {"LC_ALL=C.UTF-8"});
    start(run);
    run.type("lx\x7fs\n");
    ASSERT_NEXT(run, "lx\b \bs\n\n" + list_text + prompt(names[0]));
    run.type("zz\x15ls\n");
    ASSERT_NEXT(run, "zz\b \b\b \bls\n\n" + list_text + prompt(names[0]));
    run.type("zz\x17ls\n");
    ASSERT_NEXT(run, "zz\b \b\b \bls\n\n" + list_text + prompt(names[0]));
    // An arrow key is no part of a word.
    run.type("l\x1b[Ds\n");
    ASSERT_NEXT(run, "ls\n\n" + list_text + prompt(names[0]));
    // A multibyte letter is rubbed out whole: nothing of it is left to spoil the word.
    run.type("l\xc3\xa9\x7fs\n");
    ASSERT_NEXT(run, "l\xc3\xa9\b \bs\n\n" + list_text + prompt(names[0]));
    // Words that mean nothing do nothing, not even a new prompt.
    run.type("Next\n");
    ASSERT_NEXT(run, "Next\n");
    EXPECT_EQ(run.rest_after(0.5), "");
}

TEST_F(Commands, StopWaitsForOneKeyThatIsNeitherEchoedNorKept) {
    player_run run(folder.path());
    start(run);
    run.type("stop\n");
    ASSERT_NEXT(run, "stop\n");
    EXPECT_EQ(run.rest_after(0.7), "");
    run.type("x");
    ASSERT_NEXT(run, "\n" + prompt(names[1]));
    run.type("ls\n");
    ASSERT_NEXT(run, "ls\n\n" + list_text + prompt(names[1]));
    // A key that sends a sequence of bytes is still one key.
    run.type("stop\n");
    ASSERT_NEXT(run, "stop\n");
    run.type("\x1b[A");
    ASSERT_NEXT(run, "\n" + prompt(names[2]));
    run.type("ls\n");
    ASSERT_NEXT(run, "ls\n\n" + list_text + prompt(names[2]));
}

TEST_F(Commands, AlloopEndsThePlayerAfterTheLastTrack) {
    player_run run(folder.path());
    start(run);
    run.type("2\n");
    ASSERT_NEXT(run, "2\n\n" + prompt(names[2]));
    run.type("alloop\n");
    ASSERT_NEXT(run, "alloop\n" + prompt(names[2]));
    run.type("next\n");
    ASSERT_NEXT(run, "next\n");
    int status = run.wait_exit(3);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(run.rest_after(0.1), "");
}

TEST_F(Commands, FiftyEndsAtOnceOnTheLineEndItLeft) {
    player_run run(folder.path());
    start(run);
    run.type("50\n");
    ASSERT_NEXT(run, "50\n");
    int status = run.wait_exit(2);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(EmptyFolder, SaysSoAndEndsWithStatusOneAfterALine) {
    temp_folder folder;
    player_run run(folder.path());
    ASSERT_NEXT(run, "There are no mp3s.\n");
    EXPECT_EQ(run.rest_after(0.5), "");
    EXPECT_TRUE(run.running());
    run.type("\n");
    int status = run.wait_exit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

TEST(EmptyFolder, WithNoInputLeftEndsAtOnce) {
    temp_folder folder;
    player_run run(folder.path(), input::dev_null);
    int status = run.wait_exit(2);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(run.output(), "There are no mp3s.\n");
}

} // namespace

// The soak: random command words typed into the real player at random moments. It must not hang,
// the sanitizers must find nothing, "exit" must end it with 1 and the terminal must come back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "player_run.h"
#include "support.h"

using namespace support;

namespace {

TEST(Soak, RandomCommandsAtRandomMoments) {
    const char *count = std::getenv("KESTROVA_SOAK_COMMANDS");
    const int commands = count != nullptr ? std::atoi(count) : 100;
    const char *seed_text = std::getenv("KESTROVA_SOAK_SEED");
    const unsigned seed =
        seed_text != nullptr ? static_cast<unsigned>(std::atol(seed_text)) : std::random_device{}();
    std::mt19937 random(seed);
    temp_folder folder;
    // Tracks short enough that many end by themselves while the words arrive.
    for (int i = 0; i < 4; ++i) {
        write_wav(folder / ("t" + std::to_string(i) + ".wav"), i % 2 == 0 ? 0 : 2);
    }
    player_run run(folder.path());
    ASSERT_TRUE(run.expect("~$ ")) << run.output();
    // Every word but the ones that end the player; "help" and "stop" take the next word or key.
    const std::vector<std::string> words = {"next", "before", "0",    "3",       "7",    "49",
                                            "ls",   "time",   "loop", "shuffle", "stop", "help",
                                            "n",    "b",      "-1",   "nonsense"};
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::uniform_int_distribution<int> pause_us(0, 400000);
    for (int i = 0; i < commands; ++i) {
        ASSERT_TRUE(run.type(words[pick(random)] + "\n")) << "seed " << seed;
        // The moments are part of the input: words land anywhere in a track or between two.
        usleep(static_cast<useconds_t>(pause_us(random)));
    }
    // "help" may still want its word and "stop" its key before "exit" is read as a command.
    run.type("x\nexit\n");
    const int status = run.wait_exit(60);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
        << "status " << status << ", seed " << seed << "\n"
        << run.output();
    EXPECT_EQ(run.output().find("Sanitizer"), std::string::npos) << run.output();
    EXPECT_TRUE(run.restored()) << "seed " << seed;
    std::printf("soak: %d commands, seed %u\n", commands, seed);
}

} // namespace

// The playback loop over a failing sound device: kestrova_faulty in a pseudo-terminal.
// A device that cannot be opened, or that disappears mid-track, never stops the loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "player_run.h"

using namespace e2e;

namespace {

// Seconds of CPU the process has used so far, user and system.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i < 14; ++i)
        fields >> field;
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Plays a folder of two 2 s tracks under the fault and returns how long the first was held,
// checking that nothing but the prompts reached the screen.
double first_track_held(const std::string &fault, double *cpu_share = nullptr) {
    temp_folder folder;
    write_wav(folder / "a.wav", 2);
    write_wav(folder / "b.wav", 2);
    player_run run(folder.path(), input::dev_null, {"KESTROVA_FAULT=" + fault});
    EXPECT_TRUE(run.expect("~$ ")) << run.output();
    const std::vector<std::string> names = listing(run.output());
    EXPECT_EQ(names.size(), 2u);
    if (names.size() != 2)
        return 0;
    const clock::time_point shown = run.last_match();
    const double cpu = cpu_seconds(run.pid());
    EXPECT_TRUE(run.expect_next("\n" + prompt(names[1]), 6)) << run.output();
    const double held = seconds_between(shown, run.last_match());
    if (cpu_share)
        *cpu_share = (cpu_seconds(run.pid()) - cpu) / held;
    EXPECT_TRUE(run.expect_next("\n" + prompt(names[0]), 6)) << run.output();
    return held;
}

class DeviceCannotOpen : public ::testing::TestWithParam<const char *> {};

TEST_P(DeviceCannotOpen, TracksAreTimedSilentlyAndTheLoopGoesOn) {
    const double held = first_track_held(std::string("open:") + GetParam());
    EXPECT_GT(held, 1.8);
    EXPECT_LT(held, 3.5);
}

INSTANTIATE_TEST_SUITE_P(Errors, DeviceCannotOpen, ::testing::Values("EBUSY", "ENOENT"));

TEST(DeviceLost, MidTrackTheTrackIsStillTimedWithoutSpinningAndTheNextFollows) {
    double cpu_share = 1;
    // The tone is 16000 frames: the engine's third write falls well before its end.
    const double held = first_track_held("writei:ENODEV:3", &cpu_share);
    EXPECT_GT(held, 1.8);
    EXPECT_LT(held, 3.5);
    EXPECT_LT(cpu_share, 0.15) << "the player must idle while the lost device's track is timed";
}

} // namespace

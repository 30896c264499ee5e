// The folder as the player sees it: which names it takes, how it shows them, how long each is held.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "player_run.h"

using namespace e2e;

namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// A wave header that promises about four gigabytes of samples, followed by a few.
std::string header_claiming_gigabytes() {
    auto le32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    std::string fmt = le32(16) + std::string("\x01\x00\x01\x00", 4) + le32(8000) + le32(16000) +
                      std::string("\x02\x00\x10\x00", 4);
    return "RIFF" + le32(0xfffffff0u) + "WAVEfmt " + fmt + "data" + le32(0xffffffc0u) +
           std::string(64, '\0');
}

TEST(Folder, TakesWaveNamesOfAnyLetterCaseAndNothingElse) {
    temp_folder folder;
    const std::string longest(251, 'L'); // 255 bytes with ".wav"
    const std::vector<std::string> names = {"a.WAV", "b.Wav", "c.wav", "x.wav.bak",     "x.wavx",
                                            "wav",   "d.mp3", "e.wa",  longest + ".wav"};
    for (const std::string &name : names) {
        write_wav(folder / name, 0);
    }
    mkdir((folder / "sub.wav").c_str(), 0755);
    player_run run(folder.path(), input::dev_null);
    ASSERT_TRUE(run.expect("~$ "));
    EXPECT_EQ(sorted(listing(run.output())), sorted({"a", "b", "c", "sub", longest}));
}

TEST(Timing, EmptyTrackHeldAboutASecondAndTwoAndAHalfSecondsHeldTheirLength) {
    temp_folder folder;
    write_wav(folder / "zero.wav", 0);
    write_wav(folder / "half.wav", 2.5);
    player_run run(folder.path(), input::dev_null);
    ASSERT_TRUE(run.expect("~$ "));
    const std::vector<std::string> names = listing(run.output());
    ASSERT_EQ(names.size(), 2u);
    // The first prompt came with the listing; each track lasts until the next prompt.
    clock::time_point shown = run.last_match();
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_NEXT(run, "\n" + prompt(names[1 - i]));
        const double held = seconds_between(shown, run.last_match());
        shown = run.last_match();
        if (names[i] == "zero") {
            EXPECT_LE(held, 1.5) << "an empty track";
        } else {
            EXPECT_GT(held, 2.0) << "a 2.5 s track";
            EXPECT_LE(held, 3.5) << "a 2.5 s track";
        }
    }
}

// Files that cannot be played are announced, pass in about a second and print nothing.
TEST(BadFiles, EachPassesQuietlyWithinAboutASecond) {
    temp_folder folder;
    write_wav(folder / "model.wav", 1);
    std::string wav;
    {
        FILE *model = std::fopen((folder / "model.wav").c_str(), "rb");
        char bytes[64];
        wav.assign(bytes, std::fread(bytes, 1, sizeof bytes, model));
        std::fclose(model);
    }
    unlink((folder / "model.wav").c_str());
    write_bytes(folder / "empty.wav", "");
    write_bytes(folder / "cut.wav", wav.substr(0, 20));
    write_bytes(folder / "huge.wav", header_claiming_gigabytes());
    write_bytes(folder / "text.wav", "these are words, not samples\n");
    mkdir((folder / "folder.wav").c_str(), 0755);
    mkfifo((folder / "pipe.wav").c_str(), 0644);
    write_wav(folder / "gone.wav", 5);
    write_wav(folder / "good.wav", 0);

    player_run run(folder.path(), input::dev_null);
    ASSERT_TRUE(run.expect("~$ "));
    const std::vector<std::string> names = listing(run.output());
    ASSERT_EQ(sorted(names),
              sorted({"empty", "cut", "huge", "text", "folder", "pipe", "gone", "good"}));
    unlink((folder / "gone.wav").c_str());

    // Once round the list; "gone" again if it was first, since it may have opened before it went.
    const std::size_t rounds = names.size() + (names[0] == "gone" ? 1 : 0);
    clock::time_point shown = run.last_match();
    for (std::size_t i = 1; i <= rounds; ++i) {
        const std::string &held_name = names[(i - 1) % names.size()];
        ASSERT_NEXT(run, "\n" + prompt(names[i % names.size()]));
        const double held = seconds_between(shown, run.last_match());
        shown = run.last_match();
        if (i > 1 || held_name != "gone") {
            EXPECT_LE(held, 1.5) << held_name;
        }
    }
    EXPECT_TRUE(run.running());
}

// Control bytes in a name never reach the terminal; other bytes are shown as they are, and
// the file itself still plays.
TEST(Names, ControlBytesShownAsQuestionMarksOthersRaw) {
    temp_folder folder;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\x1b[2J\x1b[31mred", "?[2J?[31mred"},
        {"a\x7f"
         "b",
         "a?b"},
        {"line\nbreak", "line?break"},
        {"\xff\xfe\xc0", "\xff\xfe\xc0"},
        {"\x83\x5c\x83\x74\x83\x67", "\x83\x5c\x83\x74\x83\x67"}, // Shift-JIS, 0x5c inside
    };
    std::vector<std::string> expected;
    for (const auto &c : cases) {
        write_wav(folder / (c.first + ".wav"), 5);
        expected.push_back(c.second);
    }
    player_run run(folder.path());
    ASSERT_TRUE(run.expect("~$ "));
    const std::vector<std::string> names = listing(run.output());
    EXPECT_EQ(sorted(names), sorted(expected));
    // The length that "time" reports comes from the opened file.
    for (std::size_t i = 0; i < names.size(); ++i) {
        run.type(std::to_string(i) + "\n");
        ASSERT_TRUE(run.expect("\n" + prompt(names[i])));
        run.type("time\n");
        ASSERT_TRUE(run.expect(" / 0 min 5 sec\n")) << names[i];
    }
    EXPECT_EQ(run.output().find_first_of(std::string("\x1b\x7f", 2)), std::string::npos);
}

} // namespace

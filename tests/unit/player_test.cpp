// The whole player on the fake platform, one row per behaviour: the folder, what is typed and when,
// and what the run shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "fake/fake_platform.h"
#include "player/player.h"

namespace {

struct row {
    const char *what;
    std::vector<std::string> folder;
    std::string typed; // "@SECONDS BYTES" after the start: those bytes typed then
    // "WHAT@SECONDS" after the start: an entry opened ("r" for a random pick, drawn here as the
    // player draws it), "char" read, then "exitN", or "halt" when it went to open one more.
    std::string events;
    std::string out = {}; // a part of the output
    std::string mci = {}; // every MCI command, when given
    std::uint32_t length_ms = 3000;
    std::string err = {}; // all of standard error
    bool all = false;     // -a
};

void PrintTo(const row &r, std::ostream *os) {
    *os << r.what;
}

std::vector<std::string> names(int n) {
    std::vector<std::string> list;
    for (int i = 0; i < n; ++i)
        list.push_back(std::to_string(i) + ".wav");
    return list;
}

std::string prompt(const std::string &name, int times = 1) {
    std::string shown;
    while (times-- > 0)
        shown += "KestrovaSonvane~ " + name + "~$ ";
    return shown;
}

const std::string listing = "0 | 0\n1 | 1\n2 | 2\n3 | 3\n4 | 4\n";
const std::string first_track =
    "open 0 0x2200 waveaudio 0.wav\nplay 1 0x5 from 0 to 0x4d2\nstatus 1 0x100 item 1\n";

// Five tracks of 3 s each unless a row says otherwise; a track of 3 s is held 4 s.
const row rows[] = {
    {"an empty folder: only the message, a character read, status 1",
     {},
     "@1 \n",
     "char@1 exit1@1",
     "There are no mp3s.\n"},
    {"one name: listed, and played again and again without a pick",
     {"a.wav"},
     "@0.1 shuffle\n",
     "a@0 a@4 a@8 halt@12",
     "0 | a\n\n" + prompt("a")},
    {"60 names: 50 listed; 'before' on 0 plays 49, whose end ends the player even with 'loop'",
     names(60), "@0.1 before\n@1 loop\n", "0@0 49@0.2 char@4 exit0@4",
     "\n49| 49\n\n" + prompt("0")},
    {"names lose their last extension and show control bytes as '?'; the file keeps its name",
     {"\x1b[2Jx\x7f.wav", "a.b.wav", ".wav", "tab\there.wav", "\xe6\x9b\xb2.wav"},
     "",
     "\x1b[2Jx\x7f@0 halt@4",
     "0 | ?[2Jx?\n1 | a.b\n2 | \n3 | tab?here\n4 | \xe6\x9b\xb2\n\n" + prompt("?[2Jx?") + "\n" +
         prompt("a.b")},
    {"a name of 255 bytes plays; one of 256 does not fit an entry and is passed over",
     {std::string(252, 'x') + ".wav", std::string(251, 'y') + ".wav", "b.wav"},
     "",
     std::string(251, 'y') + "@0 b@4 halt@8",
     "0 | " + std::string(251, 'y') + "\n1 | b\n\n"},
    {"*.wav alone; the last extension picks the device; a refused or failing file is announced, "
     "named and held 1 s",
     {"x.mp3.WAV", ".wav", "Song.Wav", "bad.wav", "b.mp3"},
     "",
     "x.mp3.WAV@0 @4 bad@9 halt@10",
     "0 | x.mp3\n1 | \n2 | Song\n3 | bad\n\n" + prompt("x.mp3") + "\n" + prompt("") + "\n" +
         prompt("Song") + "\n" + prompt("bad"),
     "open 0 0x2200 waveaudio x.mp3.WAV\nplay 1 0x5 from 0 to 0x4d2\nstatus 1 0x100 item 1\n"
     "close 1 0\nopen 0 0x2200 waveaudio .wav\nplay 2 0x5 from 0 to 0x4d2\n"
     "status 2 0x100 item 1\nclose 2 0\nstatus 0 0x100 item 1\nclose 0 0\n"
     "open 0 0x2200 waveaudio bad.wav\nstatus 0 0x100 item 1\nclose 0 0\n",
     3000,
     "kestrova: cannot play \"Song.Wav\": without -a, only .wav and .WAV play\n"
     "kestrova: cannot play \"bad.wav\": MCI error 275\n"},
    {"-a: any case of extension, the name as it stands, MPEGVideo but for wave; failures named",
     {"a.b.Mp3", "notes.txt", "Song.Wav", "x.wave", "bad\x07.MP3"},
     "",
     "a.b.Mp3@0 Song.Wav@4 bad\x07.MP3@8 halt@9",
     "0 | a.b\n1 | Song\n2 | bad?\n\n",
     "open 0 0x2200 MPEGVideo a.b.Mp3\nplay 1 0x5 from 0 to 0x4d2\nstatus 1 0x100 item 1\n"
     "close 1 0\nopen 0 0x2200 waveaudio Song.Wav\nplay 2 0x5 from 0 to 0x4d2\n"
     "status 2 0x100 item 1\nclose 2 0\nopen 0 0x2200 MPEGVideo bad\x07.MP3\n"
     "status 0 0x100 item 1\nclose 0 0\n",
     3000,
     "kestrova: cannot play \"bad?.MP3\": MCI error 275\n",
     true},
    {"'stop' closes the device and waits for a fresh key, not its line end; then the next entry",
     names(5), "@0.1 stop\n@60 k", "0@0 halt@60", prompt("0") + "\n" + prompt("1"),
     first_track + "close 1 0\nclose 0 0\n"},
    {"'pause' holds the track through MCI until a fresh key; its clock leaves the pause out",
     names(5), "@0.1 pause\n@5.8 k@7 time\n", "0@0 1@10 halt@14",
     prompt("0", 2) + "\n0 min 1 sec / 0 min 3 sec\n",
     first_track + "pause 1 0\nresume 1 0\nclose 1 0\nopen 0 0x2200 waveaudio 1.wav\n"
                   "play 2 0x5 from 0 to 0x4d2\nstatus 2 0x100 item 1\nclose 2 0\n"},
    {"'exit', polled as the track starts, ends at once with 1 and leaves the device open", names(5),
     "@0 exit\n", "0@0 exit1@0", "", first_track},
    {"'next' and words beginning with n move on; the rest of a line waits for the next key",
     names(5), "@0.1 next\n@0.3 nope ls\n@0.5 x\n", "0@0 1@0.2 2@0.4 halt@4",
     "\n" + prompt("2") + "\n" + listing + prompt("2") + "\n" + prompt("3")},
    {"'before' and 'b' go back one entry, from entry 0 to the last", names(5),
     "@0.1 before\n@0.3 3\n@0.5 b\n", "0@0 4@0.2 3@0.4 2@0.6 halt@4"},
    {"a number plays that entry, then in turn; from the track count to 49 it gives entry 0",
     names(5), "@0.1 3.5\n@0.3 5\n@0.5 0\n@0.7 49\n", "0@0 3@0.2 0@0.4 0@0.6 0@0.8 1@4 halt@8"},
    {"'50' ends the player with 0 at once: its line end is the character read", names(5),
     "@0.1 50\n@5 x\n", "0@0 char@0.2 exit0@0.2"},
    {"other words, numbers above 50 and the end of input change and print nothing", names(5),
     "@0.1 N\n@0.3 Next\n@0.5 B\n@0.7 LS\n@0.9 times\n@1.1 exitx\n@1.3 -1\n@1.5 51\n@1.7 99\n"
     "@1.9 99999999999999999999\n@2.1   ",
     "0@0 1@4 halt@8", "\n" + prompt("0") + "\n" + prompt("1")},
    {"toggles typed twice leave the modes as they were, each showing the prompt again", names(5),
     "@0.1 shuffle\n@0.3 shuffle\n@0.5 loop\n@0.7 loop\n@0.9 alloop\n@1.1 alloop\n@1.3 4\n",
     "0@0 4@1.4 0@5 1@9 halt@13", "\n" + prompt("0", 7) + "\n" + prompt("4")},
    {"'loop' then 'next' plays the entry again; wrap-around off ends it at the end of the list",
     names(5), "@0.1 loop\n@0.3 next\n@0.5 alloop\n@0.7 7\n", "0@0 0@0.4 exit0@0.8",
     prompt("0", 2)},
    {"with repeat-one, 'before', numbers and the end of the list land one entry earlier", names(5),
     "@0.1 loop\n@0.3 before\n@0.5 3\n@0.7 0\n@0.9 7\n", "0@0 3@0.4 2@0.6 4@0.8 4@1 4@5 halt@9"},
    {"in shuffle, 'before' picks at random; a number plays its entry, then picks resume", names(5),
     "@0.1 shuffle\n@0.3 before\n@0.5 3\n", "0@0 r@0.4 3@0.6 r@4 halt@8"},
    {"in shuffle with repeat-one, no pick replaces the repeated entry", names(5),
     "@0.1 shuffle\n@0.3 loop\n@0.5 next\n", "0@0 0@0.6 0@4 halt@8"},
    {"in shuffle, the end of the list gives entry 0 without a pick", names(5),
     "@0.1 4\n@0.3 shuffle\n@0.5 next\n", "0@0 4@0.2 0@0.6 r@4 halt@8"},
    {"a slowly typed 'time' shows the time then, and the wait ends after the next sleep", names(5),
     "@1 ti@10 me\n", "0@0 1@10.2 halt@13",
     "\n0 min 10 sec / 0 min 2 sec\n" + std::string(30, '>') + "\n" + prompt("0") + "\n" +
         prompt("1"),
     "", 2000},
    {"'help' prints one command's text, or its message with the prompt on the same line", names(5),
     "@0.1 help ls\n@1 help\n\n  befor\n@2 help pause\n", "0@0 halt@4",
     prompt("0") + "please type to cmd ~$全曲一覧を表示します\n" + prompt("0") +
         "please type to cmd ~$コマンドが無効です。" + prompt("0") +
         "please type to cmd "
         "~$再生を一時停止します。何かキーを押すと同じ曲の続きから再生します。\n" +
         prompt("0") + "\n" + prompt("1")},
    {"a track of L s (2999 ms are 2) is held until the whole-second clock reads L + 1 past it",
     names(5), "@0.7 next\n", "0@0 1@0.8 2@3 3@6 halt@9", "", "", 2999},
};

class Player : public testing::TestWithParam<row> {};

TEST_P(Player, Runs) {
    const row &r = GetParam();
    fake::reset(r.folder, r.length_ms);
    for (std::size_t at = r.typed.find('@'), blank, next; at != std::string::npos; at = next) {
        blank = r.typed.find(' ', at);
        next = r.typed.find('@', blank);
        fake::type_at(std::llround(std::stod(r.typed.substr(at + 1, blank - at - 1)) * 1000),
                      r.typed.substr(blank + 1, next - blank - 1));
    }
    // The player seeds the generator with the start second.
    std::srand(static_cast<unsigned>(fake::start_ms / 1000));
    const int count = static_cast<int>(std::min<std::size_t>(r.folder.size(), 50));
    std::istringstream in(r.events);
    std::string expected, e;
    int opens = 0;
    while (in >> e) {
        if (e.rfind("r@", 0) == 0)
            e = std::to_string(std::rand() % count) + e.substr(1);
        bool opened =
            e.rfind("char@", 0) != 0 && e.rfind("exit", 0) != 0 && e.rfind("halt@", 0) != 0;
        opens += opened ? 1 : 0;
        expected += (expected.empty() ? "" : " ") + e;
    }
    fake::run_main(opens, r.all);
    EXPECT_EQ(fake::seen.events, expected);
    EXPECT_NE(fake::seen.output.find(r.out), std::string::npos) << fake::seen.output;
    EXPECT_EQ(r.mci.empty() ? r.mci : fake::seen.mci, r.mci);
    EXPECT_EQ(fake::seen.errors, r.err);
    EXPECT_TRUE(fake::left_as_found());
}

INSTANTIATE_TEST_SUITE_P(Rows, Player, testing::ValuesIn(rows));

// The command line: the status, what goes to standard output (its start) and to standard error,
// and the folder entered.
TEST(Arguments, AsGetoptUsersReadThem) {
    // The help opens with the very line that a misuse prints alone.
    const std::string usage = "Usage: kestrova [-a] [-h | -V] [--] [FOLDER]\n", help = usage,
                      version = "kestrova " KESTROVA_VERSION "\n";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err, entered;
        bool all = false;
    } rows[] = {
        {{"--help", "--bogus"}, 0, help, "", ""},
        {{"-h"}, 0, help, "", ""},
        {{"-V", "x"}, 0, version, "", ""},
        {{"--bogus", "--help"}, 2, "", usage, ""},
        {{"-q"}, 2, "", usage, ""},
        {{"a", "b"}, 2, "", usage, ""},
        {{"--", "-x"}, -1, "", "", "-x"},
        {{"--"}, -1, "", "", ""},
        {{"-a"}, -1, "", "", "", true},
        {{"x", "--all"}, -1, "", "", "x", true},
        {{"--", "-a"}, -1, "", "", "-a"},
        {{"/no/\x1b[2J"}, 2, "", "kestrova: /no/?[2J: No such file or directory\n", "/no/\x1b[2J"},
    };
    for (const auto &r : rows) {
        fake::reset();
        std::vector<char *> argv{const_cast<char *>("kestrova")};
        for (const std::string &arg : r.args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        const std::string &first = r.args[0];
        bool all = false;
        EXPECT_EQ(take_arguments(static_cast<int>(argv.size()) - 1, argv.data(), all), r.status)
            << first;
        EXPECT_EQ(all, r.all) << first;
        const std::string &out = fake::seen.output;
        EXPECT_EQ(r.out.empty() ? out : out.substr(0, r.out.size()), r.out) << first;
        EXPECT_EQ(fake::seen.errors, r.err) << first;
        EXPECT_EQ(fake::seen.entered, r.entered) << first;
    }
}

} // namespace

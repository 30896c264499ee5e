// kestrova.exe itself under Wine: an empty folder, and three short waves played on waveaudio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include <mmsystem.h>

namespace fs = std::filesystem;

namespace {

// Silence at 8 kHz, mono, 8 bits: ms milliseconds of it as a RIFF WAVE file.
void write_wave(const fs::path &path, std::uint32_t ms) {
    std::ofstream out(path, std::ios::binary);
    auto word = [&out](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.put(static_cast<char>(value >> (8 * i) & 0xff));
        }
    };
    std::uint32_t data = 8 * ms;
    out << "RIFF";
    word(36 + data, 4);
    out << "WAVEfmt ";
    word(16, 4);
    word(1, 2);    // PCM
    word(1, 2);    // channels
    word(8000, 4); // samples per second
    word(8000, 4); // bytes per second
    word(1, 2);    // block align
    word(8, 2);    // bits per sample
    out << "data";
    word(data, 4);
    out << std::string(data, '\x80');
}

struct run_result {
    std::string out;
    std::vector<DWORD> prompt_at; // milliseconds from the start until each prompt had arrived
    bool exited = false;
    DWORD status = 0;
};

// Runs kestrova.exe (copied into the folder the checks start in) in folder, with standard input
// at its end, until it exits, `prompts` prompts have appeared or a minute has passed.
run_result run_player(const fs::path &folder, std::size_t prompts) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in_read, in_write, out_read, out_write;
    CreatePipe(&in_read, &in_write, &inherit, 0);
    CreatePipe(&out_read, &out_write, &inherit, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    CloseHandle(in_write);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::string command = "\"" + fs::absolute("kestrova.exe").string() + "\"";
    DWORD start = GetTickCount();
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  folder.string().c_str(), &startup, &process);
    CloseHandle(in_read);
    CloseHandle(out_write);
    run_result r;
    if (!started) {
        ADD_FAILURE() << "cannot start " << command;
        CloseHandle(out_read);
        return r;
    }

    std::size_t scanned = 0;
    while (r.prompt_at.size() < prompts && GetTickCount() - start < 60000) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(out_read, nullptr, 0, nullptr, &waiting, nullptr)) {
            break; // the player has ended and everything it wrote is read
        }
        if (waiting == 0) {
            WaitForSingleObject(process.hProcess, 10);
            continue;
        }
        char chunk[4096];
        DWORD got = 0;
        ReadFile(out_read, chunk, std::min<DWORD>(waiting, sizeof chunk), &got, nullptr);
        r.out.append(chunk, got);
        for (std::size_t at; (at = r.out.find("~$ ", scanned)) != std::string::npos;) {
            r.prompt_at.push_back(GetTickCount() - start);
            scanned = at + 3;
        }
    }
    bool ran_out = r.prompt_at.size() < prompts;
    if (WaitForSingleObject(process.hProcess, ran_out ? 5000 : 0) == WAIT_OBJECT_0) {
        r.exited = true;
        GetExitCodeProcess(process.hProcess, &r.status);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(out_read);
    return r;
}

class PlayerExe : public ::testing::Test {
  protected:
    // Wine's first wave-out open in a fresh prefix can stall for about ten seconds in its audio
    // services, and the close that follows waits for it. One play here takes that stall, so
    // that it does not land in the timing of a track.
    static void SetUpTestSuite() {
        fs::path wave = fs::temp_directory_path() /
                        ("kestrova-warm-up-" + std::to_string(GetCurrentProcessId()) + ".wav");
        write_wave(wave, 100);
        std::string name = wave.string();
        MCI_OPEN_PARMSA open{};
        open.lpstrDeviceType = "waveaudio";
        open.lpstrElementName = name.c_str();
        if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                            reinterpret_cast<DWORD_PTR>(&open)) == 0) {
            MCI_PLAY_PARMS play{};
            mciSendCommandA(open.wDeviceID, MCI_PLAY, MCI_FROM, reinterpret_cast<DWORD_PTR>(&play));
            mciSendCommandA(open.wDeviceID, MCI_CLOSE, 0, 0);
        }
        std::error_code ignored;
        fs::remove(wave, ignored);
    }
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("kestrova-exe-" + std::to_string(GetCurrentProcessId()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    fs::path folder_;
};

TEST_F(PlayerExe, EmptyFolderEndsWithItsMessageAndStatusOne) {
    run_result r = run_player(folder_, 1);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1u);
    EXPECT_EQ(r.out, "There are no mp3s.\r\n");
}

// The names that Wine's waveaudio driver (mciwave) opened, from its trace, in order.
std::vector<std::string> waveaudio_opens(const std::string &trace) {
    const std::string mark = "WAVE_mciOpenFile MCI_OPEN_ELEMENT L\"";
    std::vector<std::string> names;
    for (std::size_t at = trace.find(mark); at != std::string::npos; at = trace.find(mark, at)) {
        at += mark.size();
        names.push_back(trace.substr(at, trace.find('"', at) - at));
    }
    return names;
}

TEST_F(PlayerExe, ThreeWavesPlayInTurnOnWaveaudio) {
    const char *trace_name = std::getenv("KESTROVA_MCI_TRACE");
    ASSERT_NE(trace_name, nullptr) << "run through ctest: it sends Wine's mciwave trace to a file";
    fs::path trace_path = fs::absolute(trace_name);
    const std::vector<std::pair<std::string, std::uint32_t>> waves = {
        {"first.wav", 300}, {"long.wav", 2500}, {"Third.WAV", 300}};
    for (const auto &[name, ms] : waves) {
        write_wave(folder_ / name, ms);
    }

    // Only what the trace gains during the run is the player's.
    std::uintmax_t trace_before = fs::file_size(trace_path);
    // A fifth prompt means that the fourth track has been opened.
    run_result r = run_player(folder_, 5);
    ASSERT_EQ(r.prompt_at.size(), 5u) << r.out;
    EXPECT_FALSE(r.exited);

    // The listing comes in the order of the folder search, which Wine does not fix.
    std::vector<std::string> files;
    std::string expected;
    std::istringstream lines(r.out);
    for (int i = 0; i < 3; ++i) {
        std::string line;
        std::getline(lines, line);
        std::string lead = std::to_string(i) + " | ";
        ASSERT_EQ(line.compare(0, lead.size(), lead), 0) << r.out;
        std::string stem = line.substr(lead.size(), line.size() - lead.size() - 1);
        auto wave = std::find_if(waves.begin(), waves.end(), [&stem](const auto &w) {
            return w.first.compare(0, w.first.rfind('.'), stem) == 0;
        });
        ASSERT_NE(wave, waves.end()) << line;
        files.push_back(wave->first);
        expected += lead + stem + "\r\n";
    }
    std::vector<std::string> sorted = files;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"Third.WAV", "first.wav", "long.wav"}));
    std::vector<std::string> played = {files[0], files[1], files[2], files[0]};
    for (const std::string &file : played) {
        expected += "\r\nKestrovaSonvane~ " + file.substr(0, file.rfind('.')) + "~$ ";
    }
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);

    // Length 2500 ms makes 2 s: the track is held until the clock is 3 whole seconds on. A length
    // taken in bytes (20,000) would hold it for 21 s; the bound leaves room for a busy machine.
    std::size_t longest = std::find(files.begin(), files.end(), "long.wav") - files.begin();
    DWORD held = r.prompt_at[longest + 1] - r.prompt_at[longest];
    EXPECT_GT(held, 2000u);
    EXPECT_LT(held, 10000u);

    std::ifstream trace_file(trace_path, std::ios::binary);
    trace_file.seekg(static_cast<std::streamoff>(trace_before));
    std::string trace{std::istreambuf_iterator<char>(trace_file), std::istreambuf_iterator<char>()};
    std::vector<std::string> opened = waveaudio_opens(trace);
    ASSERT_GE(opened.size(), 4u) << trace;
    opened.resize(4);
    EXPECT_EQ(opened, played);
    if (trace.find("Can't open low level audio device") != std::string::npos) {
        std::cout << "note: waveaudio opened and timed every file, but Wine has no wave-out "
                     "device here, so its play thread found no device to sound on\n";
    }
}

} // namespace

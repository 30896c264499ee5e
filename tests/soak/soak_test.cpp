// The soak: random commands at random moments to the real player, in a pseudo-terminal.
// The folder is full: good, cut-off and non-audio files. Every command's effect must show
// within 250 ms of its Enter; no crash, no sanitizer report, no leak; "exit" ends it with status 1
// and the terminal as it was. KESTROVA_SOAK_COMMANDS sets the count (100), KESTROVA_SOAK_SEED
// replays a run.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "player_run.h"

using namespace e2e;

namespace {

constexpr double effect_limit_s = 0.25;
constexpr int last_entry = 49;

std::string entry_name(int n) {
    char name[16];
    std::snprintf(name, sizeof name, "s%02dx", n);
    return name;
}

// The names in the order the folder gives them, which is the order the player lists them in.
std::vector<std::string> folder_order(const std::string &path) {
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    while (const dirent *entry = dir ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
            names.push_back(name.substr(0, name.size() - 4));
    }
    if (dir)
        closedir(dir);
    return names;
}

// Fifty files: most are short tones of assorted rates and channels, some are cut off inside
// their samples or their header, some are text. The last two listed are long tones, so that the
// driver always has time to steer away from the end of the list.
std::vector<std::string> fill_folder(const temp_folder &folder, std::mt19937 &random) {
    for (int i = 0; i < 50; ++i)
        write_bytes(folder / (entry_name(i) + ".wav"), "");
    const std::vector<std::string> order = folder_order(folder.path());
    const int rates[] = {8000, 11025, 22050, 44100};
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::string path = folder / (order[i] + ".wav");
        const unsigned kind = i >= 48 ? 0 : random() % 10;
        if (kind < 6) {
            const double seconds = i >= 48 ? 4 : 0.2 + (random() % 25) / 10.0;
            write_wav(path, seconds, rates[random() % 4], 1 + static_cast<int>(random() % 2));
        } else if (kind < 8) {
            write_wav(path, 2, 8000);
            std::ifstream in(path, std::ios::binary);
            std::string whole((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            write_bytes(path, whole.substr(0, kind == 6 ? whole.size() / 3 : 30));
        } else {
            write_bytes(path, kind == 8 ? "not a sound at all\n" : std::string(3000, '\xA5'));
        }
    }
    return order;
}

int commands_wanted() {
    const char *text = std::getenv("KESTROVA_SOAK_COMMANDS");
    return text && std::atoi(text) > 0 ? std::atoi(text) : 100;
}

unsigned seed_wanted() {
    const char *text = std::getenv("KESTROVA_SOAK_SEED");
    return text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : std::random_device{}();
}

// Where the sanitizers write their reports instead of the screen, and an exit status that no
// path of the player uses.
std::vector<std::string> sanitizer_env(const std::string &log) {
    const std::string common = "exitcode=86:log_path=" + log;
    return {"ASAN_OPTIONS=" + common + ":detect_leaks=1",
            "UBSAN_OPTIONS=" + common + ":halt_on_error=1", "TSAN_OPTIONS=" + common, "LC_ALL=C"};
}

std::string sanitizer_reports(const std::string &folder) {
    std::string reports;
    DIR *dir = opendir(folder.c_str());
    while (const dirent *entry = dir ? readdir(dir) : nullptr) {
        if (std::string(entry->d_name).rfind("sanitizer", 0) == 0) {
            std::ifstream in(folder + "/" + entry->d_name);
            reports +=
                std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
    }
    if (dir)
        closedir(dir);
    return reports;
}

class soak {
  public:
    explicit soak(unsigned seed) : random_(seed) {
        order_ = fill_folder(folder_, random_);
        start();
    }

    void run(int commands) {
        for (int i = 0; i < commands && !stuck_ && !::testing::Test::HasFatalFailure(); ++i) {
            pause_ms(random_() % 4 == 0 ? 0 : random_() % 500);
            if (!player_->running() && !restart_after_end())
                return;
            one_command();
        }
        finish();
    }

    void report() const {
        std::printf("soak: %d commands, %d timed, slowest effect %.0f ms, %d runs ended at the "
                    "list's end\n",
                    commands_, timed_, slowest_ * 1000, legit_ends_);
    }

  private:
    void start() {
        player_ = std::make_unique<player_run>(folder_.path(), input::terminal,
                                               sanitizer_env(folder_ / "sanitizer"));
        ASSERT_TRUE(player_->expect("~$ ", 20)) << player_->output();
        ASSERT_EQ(listing(player_->output()), order_);
        listed_.clear();
        for (std::size_t i = 0; i < order_.size(); ++i) {
            char number[8];
            std::snprintf(number, sizeof number, "%-2d| ", static_cast<int>(i));
            listed_ += number + order_[i] + "\n";
        }
    }

    // The entry whose prompt was shown last, or last before the output's offset before; -1 when
    // none is known. A prompt still arriving does not count yet.
    int current(std::size_t before = std::string::npos) const {
        const std::string &out = player_->output();
        for (std::size_t at = out.size(); at > 0;) {
            at = out.rfind("KestrovaSonvane~ ", at - 1);
            if (at == std::string::npos)
                return -1;
            if (at >= before || at + 24 > out.size() || out.compare(at + 21, 3, "~$ ") != 0)
                continue;
            const auto found = std::find(order_.begin(), order_.end(), out.substr(at + 17, 4));
            return found == order_.end() ? -1 : static_cast<int>(found - order_.begin());
        }
        return -1;
    }

    void pause_ms(unsigned ms) {
        // The output is read meanwhile, so the player never blocks on a full terminal.
        player_->expect("\x01never\x01", ms / 1000.0);
    }

    // After the last entry the player may end by itself, taking a line as its final read;
    // that is the one way it may end with 0 here. It starts again on the same folder.
    bool restart_after_end() {
        const int status = player_->wait_exit(10);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0 && current() == last_entry)
            << "the player ended with status " << status << "\n"
            << tail();
        check_terminal_and_reports();
        if (::testing::Test::HasFailure())
            return false;
        ++legit_ends_;
        repeat_ = false;
        start();
        return !::testing::Test::HasFatalFailure();
    }

    // Types a line and returns when its Enter went out.
    clock::time_point type(const std::string &line) {
        player_->type(line);
        return clock::now();
    }

    // Waits for the player to take the line, shown by its echo, and then for the effect; returns
    // what came between the two.
    std::string expect_effect(const std::string &line, const std::string &effect,
                              clock::time_point entered, const std::string &what) {
        if (!player_->expect(line, 3)) {
            if (!ended_at_list_end())
                stuck("\"" + what + "\" was never read");
            return {};
        }
        const std::size_t taken = player_->cursor();
        played_when_read_ = current(taken - line.size());
        if (effect.empty())
            return {};
        if (!player_->expect(effect, 3)) {
            if (!ended_at_list_end())
                stuck("no effect of \"" + what + "\"");
            return {};
        }
        const double took = seconds_between(entered, player_->last_match());
        ++timed_;
        slowest_ = std::max(slowest_, took);
        EXPECT_LE(took, effect_limit_s)
            << "\"" << what << "\" took effect after " << took * 1000 << " ms\n"
            << tail();
        return player_->output().substr(taken, player_->cursor() - effect.size() - taken);
    }

    // A player that stopped answering: what each of its threads is doing tells where it hangs.
    // The soak ends here, since every later command would only fail the same way.
    void stuck(const std::string &what) {
        std::string threads;
        const std::string task = "/proc/" + std::to_string(player_->pid()) + "/task";
        DIR *dir = opendir(task.c_str());
        while (const dirent *entry = dir ? readdir(dir) : nullptr) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string at = task + "/" + entry->d_name;
            auto first_line = [](const std::string &path) {
                std::ifstream in(path);
                std::string line;
                std::getline(in, line);
                return line;
            };
            const std::string stat = first_line(at + "/stat");
            threads += std::string("thread ") + entry->d_name + " (" + first_line(at + "/comm") +
                       "): state " + stat.substr(stat.rfind(')') + 2, 1) + ", syscall " +
                       first_line(at + "/syscall") + ", wchan " + first_line(at + "/wchan") + "\n";
        }
        if (dir)
            closedir(dir);
        // Where a debugger is installed, the stacks say more.
        const std::string stacks = folder_ / "stacks.txt";
        if (access("/usr/bin/gdb", X_OK) == 0) {
            const std::string command = "gdb -p " + std::to_string(player_->pid()) +
                                        " -batch -ex 'thread apply all bt' >" + stacks + " 2>&1";
            if (std::system(command.c_str()) == 0) {
                std::ifstream in(stacks);
                threads += std::string((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            }
        }
        ADD_FAILURE() << what << "\n" << threads << tail();
        stuck_ = true;
    }

    // Past the last entry the player ends; leak checking at exit may take it a few seconds.
    bool ended_at_list_end() { return current() == last_entry && player_->wait_exit(10) != -1; }

    std::string random_word(const char *letters, std::size_t min, std::size_t max) {
        const std::size_t length = min + random_() % (max - min + 1);
        std::string word;
        for (std::size_t i = 0; i < length; ++i)
            word += letters[random_() % std::strlen(letters)];
        return word;
    }

    void one_command() {
        ++commands_;
        const int now = current();
        const std::string any_prompt = "KestrovaSonvane~ ";
        // The last entry is left at once: after it the list would end.
        const unsigned pick = now == last_entry || now == last_entry - 1 ? 0 : random_() % 100;
        if (pick < 15) {
            // With "loop" on, the entry before the number's plays (and 49 before 0): the cycle
            // steps back one to repeat. Either way the number chosen keeps off the last entry.
            const int n = static_cast<int>(random_() % last_entry) + (repeat_ ? 1 : 0);
            const int plays = repeat_ ? (n == 0 ? last_entry : n - 1) : n;
            const std::string line = std::to_string(n) + "\n";
            expect_effect(line, prompt(order_[static_cast<std::size_t>(plays)]), type(line), line);
        } else if (pick < 30) {
            const std::string word = pick < 25 ? "next" : "n" + random_word("aeiou", 0, 5);
            expect_effect(word + "\n", any_prompt, type(word + "\n"), word);
        } else if (pick < 40) {
            const std::string word = pick < 36 ? "before" : "b" + random_word("aeiou", 0, 5);
            expect_effect(word + "\n", any_prompt, type(word + "\n"), word);
        } else if (pick < 48) {
            stop_and_key();
        } else if (pick < 60) {
            const char *words[] = {"loop", "shuffle", "alloop"};
            const std::string word = words[random_() % 3];
            repeat_ = repeat_ != (word == "loop");
            // The prompt of the entry that was playing comes straight after the echo.
            const std::string between =
                expect_effect(word + "\n", any_prompt, type(word + "\n"), word);
            if (player_->running() && player_->expect("~$ ", 1)) {
                EXPECT_EQ(between, "") << word;
                EXPECT_EQ(current(), played_when_read_) << word << "\n" << tail();
            }
        } else if (pick < 68) {
            const std::string between = expect_effect("ls\n", any_prompt, type("ls\n"), "ls");
            if (!between.empty()) {
                EXPECT_EQ(between, "\n" + listed_) << "ls";
            }
        } else if (pick < 76) {
            const std::string between = expect_effect("time\n", any_prompt, type("time\n"), "time");
            int em = 0, es = 0, lm = 0, ls = 0, used = 0;
            if (!between.empty()) {
                EXPECT_EQ(std::sscanf(between.c_str(), "\n%d min %d sec / %d min %d sec\n%n", &em,
                                      &es, &lm, &ls, &used),
                          4)
                    << between;
                EXPECT_EQ(between.size() - static_cast<std::size_t>(used), 31u) << between;
            }
        } else if (pick < 86) {
            help();
        } else {
            // Unknown words and numbers past the list change nothing and print nothing.
            const std::string word = random_() % 2 ? random_word("acdfghjkmpqrsuvwyz", 1, 12)
                                                   : std::to_string(51 + random_() % 100000000);
            expect_effect(word + "\n", "", type(word + "\n"), word);
        }
    }

    void stop_and_key() {
        const clock::time_point entered = type("stop\n");
        expect_effect("stop\n", "", entered, "stop");
        // Stopped, the player waits for a key and shows nothing meanwhile.
        const std::size_t seen = player_->output().size();
        pause_ms(100 + random_() % 400);
        if (!player_->running() && ended_at_list_end())
            return;
        EXPECT_EQ(player_->output().substr(seen), "") << "output while stopped";
        const std::string key(1, "kqz7 "[random_() % 5]);
        const clock::time_point pressed = type(key);
        expect_effect("", "\nKestrovaSonvane~ ", pressed, "a key after stop");
    }

    void help() {
        const char *words[] = {"ls", "time", "before", "n", "help", "stop", "nonsense", "loop"};
        const std::string word = words[random_() % 8];
        if (random_() % 3 == 0) {
            const std::string line = "help " + word + "\n";
            expect_effect(line, "KestrovaSonvane~ ", type(line), line);
            return;
        }
        expect_effect("help\n", "please type to cmd ~$", type("help\n"), "help");
        pause_ms(random_() % 300);
        expect_effect(word + "\n", "KestrovaSonvane~ ", type(word + "\n"), "help's " + word);
    }

    void finish() {
        if (stuck_)
            return;
        if (!player_->running() && !restart_after_end())
            return;
        if (current() == last_entry || current() == last_entry - 1) {
            // Typed as a command, so that exit below cannot land in the final read.
            const std::string line = repeat_ ? "1\n" : "0\n";
            expect_effect(line, prompt(order_[0]), type(line), line);
        }
        player_->type("exit\n");
        const int status = player_->wait_exit(10);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1)
            << "exit gave status " << status << "\n"
            << tail();
        check_terminal_and_reports();
    }

    void check_terminal_and_reports() {
        EXPECT_TRUE(same_settings(player_->terminal_settings(), player_->initial_settings()))
            << "terminal settings not restored";
        EXPECT_EQ(player_->terminal_flags(), player_->initial_flags());
        const std::string reports = sanitizer_reports(folder_.path());
        EXPECT_EQ(reports, "") << "sanitizer report";
    }

    std::string tail() const {
        const std::string &out = player_->output();
        return "...\n" + out.substr(out.size() > 1500 ? out.size() - 1500 : 0);
    }

    std::mt19937 random_;
    temp_folder folder_;
    std::vector<std::string> order_;
    std::unique_ptr<player_run> player_;
    std::string listed_;
    bool repeat_ = false;
    int played_when_read_ = -1;
    bool stuck_ = false;
    int commands_ = 0, timed_ = 0, legit_ends_ = 0;
    double slowest_ = 0;
};

TEST(Soak, RandomCommandsAtRandomMoments) {
    const unsigned seed = seed_wanted();
    const int commands = commands_wanted();
    std::printf("soak: seed %u (KESTROVA_SOAK_SEED replays it), %d commands\n", seed, commands);
    SCOPED_TRACE("KESTROVA_SOAK_SEED=" + std::to_string(seed));
    soak run(seed);
    if (::testing::Test::HasFatalFailure())
        return;
    run.run(commands);
    run.report();
}

} // namespace

// Runs the real player in a pseudo-terminal on a folder of generated sound files, and watches it.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <string>
#include <vector>

// The output must continue with exactly this text; on failure everything seen is shown.
#define ASSERT_NEXT(run, text)                                                                     \
    ASSERT_TRUE((run).expect_next(text)) << "expected next: " << (text) << "\noutput:\n"           \
                                         << (run).output()

namespace e2e {

using clock = std::chrono::steady_clock;

// A temporary folder, removed with everything in it.
class temp_folder {
  public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder &) = delete;
    temp_folder &operator=(const temp_folder &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A wave file of a quiet tone; frames = seconds * rate, 0 seconds gives an empty data chunk.
void write_wav(const std::string &path, double seconds, int rate = 8000, int channels = 1);
void write_bytes(const std::string &path, const std::string &bytes);

// Where the player's standard input comes from; its output always goes to a terminal.
enum class input { terminal, dev_null, pipe };

class player_run {
  public:
    // Starts build/kestrova in folder; env entries such as "LC_ALL=C" are added to ours.
    // A command, when given, runs instead, with the player's path in $KESTROVA.
    player_run(const std::string &folder, input from = input::terminal,
               const std::vector<std::string> &env = {},
               const std::vector<std::string> &command = {});
    ~player_run();
    player_run(const player_run &) = delete;
    player_run &operator=(const player_run &) = delete;

    // Sends bytes as typed keys (terminal) or down the pipe.
    void type(const std::string &keys);
    void close_pipe();

    // Waits until text appears in the output after what earlier calls matched; on success,
    // the output up to the end of text counts as matched and the moment is noted.
    bool expect(const std::string &text, double timeout_s = 10);
    // As expect, and the text must come right where the last match ended.
    bool expect_next(const std::string &text, double timeout_s = 10);
    // Everything after the last match, once the output has been quiet for quiet_s seconds.
    std::string rest_after(double quiet_s);
    clock::time_point last_match() const { return last_match_; }
    // Output with the terminal's CR of CR LF taken out.
    const std::string &output() const { return output_; }
    // What expect has matched so far, and where a search would continue.
    std::size_t cursor() const { return cursor_; }

    // The exit status as waitpid gives it; -1 when the player is still running after timeout_s.
    int wait_exit(double timeout_s = 10);
    bool running();
    void signal(int signal_number);
    pid_t pid() const { return pid_; }

    // The terminal's settings and the file status flags of the player's terminal side, now
    // and as they were before the player started.
    termios terminal_settings() const;
    int terminal_flags() const;
    const termios &initial_settings() const { return initial_settings_; }
    int initial_flags() const { return initial_flags_; }

  private:
    void pump(double timeout_s);

    pid_t pid_ = -1;
    int master_ = -1;
    int slave_ = -1; // kept open so the settings can be read after the player is gone
    int pipe_ = -1;
    int status_ = -1;
    termios initial_settings_{};
    int initial_flags_ = -1;
    std::string output_;
    std::size_t cursor_ = 0;
    clock::time_point last_match_{};
};

// The player's listing, "%-2d| name" lines, read from its output up to the first prompt.
std::vector<std::string> listing(const std::string &output);
// Whether two terminal settings agree in every mode flag, control character and speed.
bool same_settings(const termios &a, const termios &b);
std::string prompt(const std::string &name);
double seconds_between(clock::time_point from, clock::time_point to);

} // namespace e2e

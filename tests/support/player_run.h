// Runs the real player in a pseudo-terminal, types at it and watches what it writes.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

namespace support {

// Where the player's standard input comes from; its output goes to the terminal unless
// output_pipe is set.
enum class input { terminal, pipe };

struct run_options {
    input from = input::terminal;
    // Standard output goes to a pipe that the test reads with read_piped and may close.
    bool output_pipe = false;
    // The player starts with SIGPIPE ignored, as a tool that ignores it would leave it.
    bool ignore_sigpipe = false;
    // Entries such as "LC_ALL=C" added to ours; AUDIODEV=null unless given.
    std::vector<std::string> env;
    // Runs instead of the player, which is then found at $KESTROVA.
    std::vector<std::string> command;
};

class player_run {
  public:
    player_run(const std::string &folder, const run_options &options = {});
    ~player_run();
    player_run(const player_run &) = delete;
    player_run &operator=(const player_run &) = delete;

    // Sends bytes as typed keys (terminal) or down the input pipe.
    bool type(const std::string &keys);
    void close_input();
    // Reads what the output pipe holds until text has been seen; then closes the pipe.
    bool read_piped_then_close(const std::string &text, double timeout_s = 30);

    // Waits until text appears in the terminal output after what earlier calls matched; the
    // output up to its end then counts as matched. The limit only catches a hang.
    bool expect(const std::string &text, double timeout_s = 30);
    // As expect, and the text must come right where the last match ended.
    bool expect_next(const std::string &text, double timeout_s = 30);
    // Terminal output with the CR of CR LF taken out.
    const std::string &output() const { return output_; }
    std::string unmatched() const { return output_.substr(cursor_); }

    // The status as waitpid gives it; -1 while the process still runs after timeout_s.
    int wait_exit(double timeout_s = 30);
    void signal(int signal_number);

    // Whether the terminal's settings and file flags are as before the player started; read from
    // our side, so still readable after the player has gone.
    bool restored() const;

  private:
    void pump(int fd, std::string &into, double timeout_s);

    pid_t pid_ = -1;
    int master_ = -1;
    int slave_ = -1;
    int in_pipe_ = -1;
    int out_pipe_ = -1;
    int status_ = -1;
    termios initial_settings_{};
    int initial_flags_ = -1;
    std::string output_;
    std::size_t cursor_ = 0;
};

// The names in the player's listing, in listed order, read from its output up to the first prompt.
std::vector<std::string> listing(const std::string &output);
std::string prompt(const std::string &name);

} // namespace support

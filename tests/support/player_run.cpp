// Runs the real player in a pseudo-terminal, types at it and watches what it writes.
#include "player_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace support {

namespace {

using steady = std::chrono::steady_clock;

bool same_settings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

} // namespace

player_run::player_run(const std::string &folder, const run_options &options) {
    // A player that has gone must not take the test with it when we type into its pipe.
    ::signal(SIGPIPE, SIG_IGN);
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    tcgetattr(slave_, &initial_settings_);
    initial_flags_ = fcntl(slave_, F_GETFL);
    int in_ends[2] = {-1, -1};
    int out_ends[2] = {-1, -1};
    if ((options.from == input::pipe && pipe2(in_ends, O_CLOEXEC) != 0) ||
        (options.output_pipe && pipe2(out_ends, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }

    // env(1) sets the variables, so the child only calls what is safe after a fork.
    std::vector<std::string> words{"/usr/bin/env", "AUDIODEV=null", "KESTROVA=" KESTROVA_BINARY};
    words.insert(words.end(), options.env.begin(), options.env.end());
    if (options.command.empty()) {
        words.emplace_back(KESTROVA_BINARY);
    }
    words.insert(words.end(), options.command.begin(), options.command.end());
    std::vector<char *> argv;
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        ::signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
        dup2(options.from == input::pipe ? in_ends[0] : slave_, STDIN_FILENO);
        dup2(options.output_pipe ? out_ends[1] : slave_, STDOUT_FILENO);
        dup2(slave_, STDERR_FILENO);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    for (int unused : {in_ends[0], out_ends[1]}) {
        if (unused >= 0) {
            close(unused);
        }
    }
    in_pipe_ = in_ends[1];
    out_pipe_ = out_ends[0];
}

player_run::~player_run() {
    if (status_ == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, in_pipe_, out_pipe_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool player_run::type(const std::string &keys) {
    const int fd = in_pipe_ >= 0 ? in_pipe_ : master_;
    return write(fd, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

void player_run::close_input() {
    close(in_pipe_);
    in_pipe_ = -1;
}

void player_run::pump(int fd, std::string &into, double timeout_s) {
    pollfd out{fd, POLLIN, 0};
    if (poll(&out, 1, static_cast<int>(timeout_s * 1000)) <= 0) {
        return;
    }
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r' || fd != master_) {
            into += buffer[i];
        }
    }
}

bool player_run::read_piped_then_close(const std::string &text, double timeout_s) {
    std::string piped;
    const auto deadline = steady::now() + std::chrono::duration<double>(timeout_s);
    while (piped.find(text) == std::string::npos && steady::now() < deadline) {
        pump(out_pipe_, piped, 0.05);
    }
    close(out_pipe_);
    out_pipe_ = -1;
    return piped.find(text) != std::string::npos;
}

bool player_run::expect(const std::string &text, double timeout_s) {
    const auto deadline = steady::now() + std::chrono::duration<double>(timeout_s);
    for (;;) {
        const std::size_t at = output_.find(text, cursor_);
        if (at != std::string::npos) {
            cursor_ = at + text.size();
            return true;
        }
        if (steady::now() >= deadline) {
            return false;
        }
        pump(master_, output_, 0.05);
    }
}

bool player_run::expect_next(const std::string &text, double timeout_s) {
    const std::size_t from = cursor_;
    return expect(text, timeout_s) && cursor_ == from + text.size();
}

int player_run::wait_exit(double timeout_s) {
    const auto deadline = steady::now() + std::chrono::duration<double>(timeout_s);
    while (status_ == -1) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
        } else if (steady::now() >= deadline) {
            break;
        } else {
            pump(master_, output_, 0.02);
        }
    }
    // What the process wrote last may still be in the terminal.
    for (std::size_t before = output_.size() + 1; before != output_.size();) {
        before = output_.size();
        pump(master_, output_, 0.05);
    }
    return status_;
}

void player_run::signal(int signal_number) {
    kill(pid_, signal_number);
}

bool player_run::restored() const {
    termios now{};
    tcgetattr(slave_, &now);
    return same_settings(now, initial_settings_) && fcntl(slave_, F_GETFL) == initial_flags_;
}

std::vector<std::string> listing(const std::string &output) {
    std::vector<std::string> names;
    const std::string head = output.substr(0, output.find("KestrovaSonvane~ "));
    std::size_t at = 0;
    for (std::size_t end; (end = head.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = head.substr(at, end - at);
        char lead[8];
        std::snprintf(lead, sizeof lead, "%-2d| ", static_cast<int>(names.size()));
        if (line.compare(0, std::strlen(lead), lead) == 0) {
            names.push_back(line.substr(std::strlen(lead)));
        }
    }
    return names;
}

std::string prompt(const std::string &name) {
    return "KestrovaSonvane~ " + name + "~$ ";
}

} // namespace support

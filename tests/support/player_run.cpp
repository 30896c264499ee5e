// Runs the real player in a pseudo-terminal on a folder of generated sound files, and watches it.
#include "player_run.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char **environ;

namespace e2e {

temp_folder::temp_folder() {
    char pattern[] = "/tmp/kestrova-e2e-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

temp_folder::~temp_folder() {
    nftw(
        path_.c_str(),
        [](const char *path, const struct stat *, int, FTW *) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void write_wav(const std::string &path, double seconds, int rate, int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<short> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<short>(1000 * std::sin(static_cast<double>(i) * 0.3));
    }
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

void write_bytes(const std::string &path, const std::string &bytes) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

player_run::player_run(const std::string &folder, input from, const std::vector<std::string> &env,
                       const std::vector<std::string> &command) {
    // A player that has gone must not take the test with it when we type into its pipe.
    ::signal(SIGPIPE, SIG_IGN);
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    initial_settings_ = terminal_settings();
    initial_flags_ = terminal_flags();
    int pipe_ends[2] = {-1, -1};
    if (from == input::pipe && pipe2(pipe_ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }

    // Built before the fork: the child only calls what is safe there.
    std::vector<std::string> settings{"AUDIODEV=null", "KESTROVA=" KESTROVA_BINARY};
    settings.insert(settings.end(), env.begin(), env.end());
    std::vector<std::string> whole;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string &s : settings) {
            replaced |= entry.compare(0, s.find('=') + 1, s, 0, s.find('=') + 1) == 0;
        }
        if (!replaced) {
            whole.push_back(entry);
        }
    }
    whole.insert(whole.end(), settings.begin(), settings.end());
    std::vector<char *> envp;
    for (std::string &s : whole) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> words = command;
    if (words.empty()) {
        words.emplace_back(KESTROVA_BINARY);
    }
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
        ::signal(SIGPIPE, SIG_DFL);
        setsid();
        ioctl(slave_, TIOCSCTTY, 0);
        int in = slave_;
        if (from == input::dev_null) {
            in = open("/dev/null", O_RDONLY);
        } else if (from == input::pipe) {
            in = pipe_ends[0];
        }
        dup2(in, STDIN_FILENO);
        dup2(slave_, STDOUT_FILENO);
        dup2(slave_, STDERR_FILENO);
        if (chdir(folder.c_str()) != 0) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (from == input::pipe) {
        close(pipe_ends[0]);
        pipe_ = pipe_ends[1];
    }
}

player_run::~player_run() {
    if (status_ == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, pipe_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void player_run::type(const std::string &keys) {
    int fd = pipe_ >= 0 ? pipe_ : master_;
    if (write(fd, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
        ADD_FAILURE() << "could not send " << keys;
    }
}

void player_run::close_pipe() {
    close(pipe_);
    pipe_ = -1;
}

void player_run::pump(double timeout_s) {
    pollfd out{master_, POLLIN, 0};
    if (poll(&out, 1, static_cast<int>(timeout_s * 1000)) <= 0) {
        return;
    }
    char buffer[4096];
    ssize_t got = read(master_, buffer, sizeof buffer);
    for (ssize_t i = 0; i < got; ++i) {
        if (buffer[i] != '\r') {
            output_ += buffer[i];
        }
    }
}

bool player_run::expect(const std::string &text, double timeout_s) {
    const auto deadline = clock::now() + std::chrono::duration<double>(timeout_s);
    for (;;) {
        std::size_t at = output_.find(text, cursor_);
        if (at != std::string::npos) {
            cursor_ = at + text.size();
            last_match_ = clock::now();
            return true;
        }
        const double left = std::chrono::duration<double>(deadline - clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pump(left < 0.05 ? left : 0.05);
    }
}

bool player_run::expect_next(const std::string &text, double timeout_s) {
    const std::size_t from = cursor_;
    return expect(text, timeout_s) && cursor_ == from + text.size();
}

std::string player_run::rest_after(double quiet_s) {
    for (std::size_t before = output_.size() + 1; before != output_.size();) {
        before = output_.size();
        pump(quiet_s);
    }
    return output_.substr(cursor_);
}

int player_run::wait_exit(double timeout_s) {
    const auto deadline = clock::now() + std::chrono::duration<double>(timeout_s);
    while (status_ == -1 && clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
        } else {
            pump(0.02);
        }
    }
    pump(0.05);
    return status_;
}

bool player_run::running() {
    return wait_exit(0) == -1;
}

void player_run::signal(int signal_number) {
    kill(pid_, signal_number);
}

termios player_run::terminal_settings() const {
    termios settings{};
    tcgetattr(slave_, &settings);
    return settings;
}

int player_run::terminal_flags() const {
    return fcntl(slave_, F_GETFL);
}

std::vector<std::string> listing(const std::string &output) {
    std::vector<std::string> names;
    const std::string head = output.substr(0, output.find("KestrovaSonvane~ "));
    std::size_t at = 0;
    for (std::size_t end; (end = head.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = head.substr(at, end - at);
        char number[4];
        std::snprintf(number, sizeof number, "%-2d", static_cast<int>(names.size()));
        const std::string lead = std::string(number) + "| ";
        if (line.compare(0, lead.size(), lead) != 0) {
            break;
        }
        names.push_back(line.substr(lead.size()));
    }
    return names;
}

bool same_settings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

std::string prompt(const std::string &name) {
    return "KestrovaSonvane~ " + name + "~$ ";
}

double seconds_between(clock::time_point from, clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace e2e

// benchtool: the process meter behind bench/run; starts players, feeds their input, and reads
// their CPU, memory, wake-ups and output timing.
//
//   benchtool paced [--cwd D] [--settle S] [--window S] [--stop] -- CMD...
//                                        wake-ups and CPU per second over a window of play,
//                                        and the peak RSS at its end
//   benchtool startup [--cwd D] [--until TEXT] -- CMD...   ms from exec to TEXT (or to EOF)
//   benchtool next --cwd D --monitor SHELLCMD [--trials N] [--low L] [--high H] -- CMD...
//                                        ms from "next" + Enter to the next track's first sample
//   benchtool hush --monitor SHELLCMD --action pause|close [--trials N] [--high H] -- CMD...
//                                        ms from "pause" or "close" to the last frame heard
//   benchtool levelwav FILE SECONDS LEVEL   a 44.1 kHz stereo 16-bit WAV holding one constant
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "benchtool: %s\n", what);
    std::exit(2);
}

[[noreturn]] void fail_errno(const char *what) {
    std::fprintf(stderr, "benchtool: %s: %s\n", what, std::strerror(errno));
    std::exit(2);
}

double now_s() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void sleep_s(double s) {
    if (s <= 0)
        return;
    timespec t{static_cast<time_t>(s),
               static_cast<long>((s - static_cast<double>(static_cast<time_t>(s))) * 1e9)};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

void write_all(int fd, const std::string &text) {
    const char *p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail_errno("writing to the player");
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

struct options {
    std::string cwd;
    std::string until;
    std::string monitor;
    std::string action;
    double settle = 2.0;
    double window = 8.0;
    bool stop = false;
    int trials = 20;
    int low = 3000;
    int high = 12000;
    std::vector<char *> command;
};

options parse(int argc, char **argv, int first) {
    options o;
    int i = first;
    auto value = [&](const char *name) -> const char * {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "benchtool: %s wants a value\n", name);
            std::exit(2);
        }
        return argv[++i];
    };
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--cwd")
            o.cwd = value("--cwd");
        else if (a == "--until")
            o.until = value("--until");
        else if (a == "--monitor")
            o.monitor = value("--monitor");
        else if (a == "--action")
            o.action = value("--action");
        else if (a == "--settle")
            o.settle = std::atof(value("--settle"));
        else if (a == "--window")
            o.window = std::atof(value("--window"));
        else if (a == "--stop")
            o.stop = true;
        else if (a == "--trials")
            o.trials = std::atoi(value("--trials"));
        else if (a == "--low")
            o.low = std::atoi(value("--low"));
        else if (a == "--high")
            o.high = std::atoi(value("--high"));
        else {
            std::fprintf(stderr, "benchtool: unknown option %s\n", argv[i]);
            std::exit(2);
        }
    }
    for (; i < argc; ++i)
        o.command.push_back(argv[i]);
    if (o.command.empty())
        fail("no command given after --");
    o.command.push_back(nullptr);
    return o;
}

// A started player: its pid, the write end of its standard input (-1 once closed) and the read
// end of its standard output (-1 when that goes to /dev/null).
struct child {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
};

child spawn(const options &o, bool capture_out, bool quiet_err = false) {
    int in_pipe[2];
    int out_pipe[2] = {-1, -1};
    if (pipe2(in_pipe, O_CLOEXEC) != 0)
        fail_errno("pipe");
    if (capture_out && pipe2(out_pipe, O_CLOEXEC) != 0)
        fail_errno("pipe");
    const pid_t pid = fork();
    if (pid < 0)
        fail_errno("fork");
    if (pid == 0) {
        if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0)
            _exit(126);
        dup2(in_pipe[0], STDIN_FILENO);
        if (capture_out) {
            dup2(out_pipe[1], STDOUT_FILENO);
        } else {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
        }
        // A player ended by SIGTERM may complain of its interrupted write.
        if (quiet_err) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
        }
        execvp(o.command[0], o.command.data());
        _exit(127);
    }
    close(in_pipe[0]);
    child c;
    c.pid = pid;
    c.in = in_pipe[1];
    if (capture_out) {
        close(out_pipe[1]);
        c.out = out_pipe[0];
    }
    return c;
}

// Ends a player that is still running; a player that has already ended is only reaped.
int finish(child &c) {
    if (c.in >= 0) {
        close(c.in);
        c.in = -1;
    }
    if (c.out >= 0) {
        close(c.out);
        c.out = -1;
    }
    int status = 0;
    if (waitpid(c.pid, &status, WNOHANG) == 0) {
        kill(c.pid, SIGTERM);
        while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return status;
}

// ---- What /proc tells about a running process ------------------------------

// Voluntary and involuntary switches summed over the threads alive now.
struct switches {
    long long voluntary = 0;
    long long involuntary = 0;
    int threads = 0;
};

switches read_switches(pid_t pid) {
    switches s;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return s;
    while (const dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        FILE *f = std::fopen((dir + "/" + e->d_name + "/status").c_str(), "r");
        if (!f)
            continue;
        ++s.threads;
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            long long n = 0;
            if (std::sscanf(line, "voluntary_ctxt_switches: %lld", &n) == 1)
                s.voluntary += n;
            else if (std::sscanf(line, "nonvoluntary_ctxt_switches: %lld", &n) == 1)
                s.involuntary += n;
        }
        std::fclose(f);
    }
    closedir(d);
    return s;
}

// The process's CPU time in seconds, threads that have ended included; negative once it is gone.
double cpu_seconds(pid_t pid) {
    clockid_t clock;
    if (clock_getcpuclockid(pid, &clock) != 0)
        return -1;
    timespec t{};
    if (clock_gettime(clock, &t) != 0)
        return -1;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The CPU time of one of the process's threads, from its schedstat; -1 when it cannot be read.
double thread_cpu_seconds(pid_t pid, const std::string &tid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/task/" + tid + "/schedstat";
    FILE *f = std::fopen(path.c_str(), "r");
    unsigned long long ns = 0;
    const bool read = f && std::fscanf(f, "%llu", &ns) == 1;
    if (f)
        std::fclose(f);
    return read ? static_cast<double>(ns) * 1e-9 : -1;
}

double main_thread_cpu_seconds(pid_t pid) {
    return thread_cpu_seconds(pid, std::to_string(pid));
}

// Each thread's CPU time so far, by thread id.
std::map<std::string, double> threads_cpu_seconds(pid_t pid) {
    std::map<std::string, double> cpu;
    DIR *d = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    while (const dirent *e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.')
            cpu[e->d_name] = thread_cpu_seconds(pid, e->d_name);
    if (d)
        closedir(d);
    return cpu;
}

// The most CPU any one thread took between two readings: on a sound server, the client thread
// that its library runs in the player's process.
double busiest_thread_seconds(const std::map<std::string, double> &a,
                              const std::map<std::string, double> &b) {
    double most = 0;
    for (const auto &[tid, cpu] : b) {
        const auto before = a.find(tid);
        if (before != a.end() && before->second >= 0 && cpu >= 0)
            most = std::max(most, cpu - before->second);
    }
    return most;
}

// The process's peak resident set so far (VmHWM), in KiB; 0 when it cannot be read.
long peak_rss_kb(pid_t pid) {
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    long kb = 0;
    char line[256];
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmHWM: %ld", &kb) == 1)
            break;
    if (f)
        std::fclose(f);
    return kb;
}

bool alive(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

// ---- Subcommands -----------------------------------------------------------

// Plays for settle seconds, then counts wake-ups and CPU over window seconds. With --stop the
// player is sent "stop" first, and the window covers its wait for a key.
int cmd_paced(const options &o) {
    child c = spawn(o, false, true);
    sleep_s(o.settle);
    if (o.stop) {
        write_all(c.in, "stop\n");
        sleep_s(0.5);
    }
    if (!alive(c.pid)) {
        std::fprintf(stderr, "benchtool: %s ended before the window\n", o.command[0]);
        return 1;
    }
    const switches a = read_switches(c.pid);
    const double cpu_a = cpu_seconds(c.pid);
    const double main_a = main_thread_cpu_seconds(c.pid);
    const auto threads_a = threads_cpu_seconds(c.pid);
    const double t_a = now_s();
    sleep_s(o.window);
    const switches b = read_switches(c.pid);
    const double cpu_b = cpu_seconds(c.pid);
    const double main_b = main_thread_cpu_seconds(c.pid);
    const auto threads_b = threads_cpu_seconds(c.pid);
    const double t_b = now_s();
    const long rss_kb = peak_rss_kb(c.pid);
    const bool lived = alive(c.pid);
    if (o.stop)
        write_all(c.in, "x");
    finish(c);
    if (!lived || cpu_a < 0 || cpu_b < 0) {
        std::fprintf(stderr, "benchtool: %s ended inside the window\n", o.command[0]);
        return 1;
    }
    const double span = t_b - t_a;
    std::printf("vcsw_per_s=%.2f nivcsw_per_s=%.2f cpu_ms_per_s=%.3f main_cpu_ms_per_s=%.3f "
                "busiest_cpu_ms_per_s=%.3f threads=%d maxrss_kb=%ld\n",
                static_cast<double>(b.voluntary - a.voluntary) / span,
                static_cast<double>(b.involuntary - a.involuntary) / span,
                (cpu_b - cpu_a) * 1000 / span, (main_b - main_a) * 1000 / span,
                busiest_thread_seconds(threads_a, threads_b) * 1000 / span, b.threads, rss_kb);
    return 0;
}

// Milliseconds from just before fork to the first appearance of --until in the output, or to
// the end of the output when no text is given.
int cmd_startup(const options &o) {
    const double start = now_s();
    child c = spawn(o, true);
    std::string seen;
    bool found = false;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(c.out, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        seen.append(buf, static_cast<std::size_t>(n));
        if (!o.until.empty() && seen.find(o.until) != std::string::npos) {
            found = true;
            break;
        }
    }
    const double ms = (now_s() - start) * 1000;
    finish(c);
    if (!o.until.empty() && !found) {
        std::fprintf(stderr, "benchtool: \"%s\" never appeared\n", o.until.c_str());
        return 1;
    }
    std::printf("startup_ms=%.3f\n", ms);
    return 0;
}

// Reads the sink's monitor (raw s16le stereo, 44.1 kHz) and times each switch between two
// tracks of constant level: low plays first, "next" moves to the other, and back again.
// The sink's monitor, started from --monitor, read in blocks of s16 stereo at 44.1 kHz.
class monitor_reader {
  public:
    static constexpr double rate = 44100;

    explicit monitor_reader(const options &o) {
        options mon = o;
        mon.cwd.clear();
        std::string shell_cmd = o.monitor;
        char sh[] = "/bin/sh";
        char dash_c[] = "-c";
        mon.command = {sh, dash_c, shell_cmd.data(), nullptr};
        monitor_ = spawn(mon, true);
        fcntl(monitor_.out, F_SETFL, O_NONBLOCK);
    }
    ~monitor_reader() { finish(monitor_); }

    // Waits up to 10 ms for a block and hands each frame's left sample to each, with the moment
    // it was heard; t_read is when the block came. False once the monitor has ended.
    template <typename F> bool read_block(double &t_read, F each) {
        pollfd p{monitor_.out, POLLIN, 0};
        poll(&p, 1, 10);
        const ssize_t n = read(monitor_.out, buf_.data() + carry_, buf_.size() - carry_);
        t_read = now_s();
        if (n == 0) {
            std::fprintf(stderr, "benchtool: the monitor ended\n");
            return false;
        }
        const std::size_t have = carry_ + (n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::size_t frames = have / frame_bytes;
        for (std::size_t i = 0; i < frames; ++i) {
            const auto lo = static_cast<unsigned>(buf_[i * frame_bytes]);
            const auto hi = static_cast<unsigned>(buf_[i * frame_bytes + 1]);
            // The read returned when the last frame of this block had been rendered.
            each(static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | hi << 8)),
                 t_read - static_cast<double>(frames - 1 - i) / rate);
        }
        carry_ = have - frames * frame_bytes;
        std::memmove(buf_.data(), buf_.data() + frames * frame_bytes, carry_);
        return true;
    }

  private:
    static constexpr int frame_bytes = 4;
    child monitor_{};
    std::vector<unsigned char> buf_ = std::vector<unsigned char>(65536);
    std::size_t carry_ = 0;
};

int cmd_next(const options &o) {
    constexpr double rate = monitor_reader::rate;
    monitor_reader monitor(o);
    child player = spawn(o, false);

    auto level_of = [&](int sample) {
        if (std::abs(sample - o.low) < o.low / 4)
            return o.low;
        if (std::abs(sample - o.high) < o.high / 4)
            return o.high;
        return 0;
    };

    std::mt19937 pick(12345);
    std::uniform_real_distribution<double> phase(0.0, 0.4);
    enum { steady, delay, waiting } state = steady;
    // The folder's order decides which track comes first: the first level heard is taken.
    int target = 0;
    long run = 0;
    double deadline = 0;
    double sent = 0;
    double trial_start = now_s();
    int done = 0;
    int rc = 0;
    double t_read = 0;
    while (done < o.trials) {
        const bool read = monitor.read_block(t_read, [&](int sample, double at) {
            const int level = level_of(sample);
            if (state == waiting && level == target && done < o.trials) {
                std::printf("next_ms=%.1f\n", (at - sent) * 1000);
                std::fflush(stdout);
                ++done;
                state = steady;
                run = 0;
            }
            if (state == steady) {
                if (target == 0)
                    target = level;
                run = level != 0 && level == target ? run + 1 : 0;
                if (run >= static_cast<long>(rate * 0.3)) {
                    state = delay;
                    deadline = t_read + phase(pick);
                }
            }
        });
        if (!read) {
            rc = 1;
            break;
        }
        const double t = now_s();
        if (state == delay && t >= deadline) {
            sent = now_s();
            write_all(player.in, "next\n");
            target = target == o.low ? o.high : o.low;
            state = waiting;
            trial_start = sent;
        }
        if (state != delay && t - trial_start > 8.0) {
            std::fprintf(stderr, "benchtool: no switch to level %d within 8 s\n", target);
            rc = 1;
            break;
        }
        if (!alive(player.pid)) {
            std::fprintf(stderr, "benchtool: the player ended\n");
            rc = 1;
            break;
        }
    }
    if (player.in >= 0)
        write_all(player.in, "exit\n");
    sleep_s(0.3);
    finish(player);
    return rc;
}

// Times how long a track is still heard after a pause or a close. CMD is mci_play --commands on
// a track of one constant level (--high); the sink's monitor tells when it sounds. After 0.3 s
// to 0.7 s of sound, ACTION goes to its input; once the monitor has been silent for a second, the
// last frame heard at the level gives the figure. Then "resume" (after a pause) or "play" (after
// a close) starts the next trial.
int cmd_hush(const options &o) {
    constexpr double rate = monitor_reader::rate;
    monitor_reader monitor(o);
    child player = spawn(o, false);
    const bool pausing = o.action == "pause";
    if (!pausing && o.action != "close")
        fail("--action is pause or close");

    std::mt19937 pick(4321);
    std::uniform_real_distribution<double> phase(0.0, 0.4);
    enum { listening, delay, hushing } state = listening;
    write_all(player.in, "play\n");
    long run = 0;
    double deadline = 0, sent = 0, last_heard = 0, since = now_s();
    int done = 0, rc = 0;
    double t_read = 0;
    while (done < o.trials) {
        const bool read = monitor.read_block(t_read, [&](int sample, double at) {
            if (std::abs(sample - o.high) >= o.high / 4) {
                run = 0;
                return;
            }
            last_heard = at;
            if (state == listening && ++run >= static_cast<long>(rate * 0.3)) {
                state = delay;
                deadline = t_read + phase(pick);
            }
        });
        if (!read) {
            rc = 1;
            break;
        }
        const double t = now_s();
        if (state == delay && t >= deadline) {
            write_all(player.in, o.action + "\n");
            sent = now_s();
            state = hushing;
        } else if (state == hushing && t - last_heard > 1.0 && t - sent > 1.0) {
            std::printf("hush_ms=%.1f\n", (last_heard - sent) * 1000);
            std::fflush(stdout);
            ++done;
            write_all(player.in, pausing ? "resume\n" : "play\n");
            state = listening;
            run = 0;
            since = t;
        }
        if (state == listening && t - since > 8.0) {
            std::fprintf(stderr, "benchtool: no sound within 8 s of starting play\n");
            rc = 1;
            break;
        }
        if (state == hushing && t - sent > 8.0) {
            std::fprintf(stderr, "benchtool: still heard 8 s after %s\n", o.action.c_str());
            rc = 1;
            break;
        }
    }
    finish(player);
    return rc;
}

void put_le(std::vector<unsigned char> &out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

int cmd_levelwav(int argc, char **argv) {
    if (argc < 5)
        fail("levelwav wants FILE SECONDS LEVEL");
    const auto frames = static_cast<std::uint32_t>(std::atof(argv[3]) * 44100);
    const auto level = static_cast<std::int16_t>(std::atoi(argv[4]));
    const std::uint32_t data_bytes = frames * 4;
    std::vector<unsigned char> head;
    head.insert(head.end(), {'R', 'I', 'F', 'F'});
    put_le(head, 36 + data_bytes, 4);
    head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_le(head, 16, 4);
    put_le(head, 1, 2);
    put_le(head, 2, 2);
    put_le(head, 44100, 4);
    put_le(head, 44100 * 4, 4);
    put_le(head, 4, 2);
    put_le(head, 16, 2);
    head.insert(head.end(), {'d', 'a', 't', 'a'});
    put_le(head, data_bytes, 4);
    FILE *f = std::fopen(argv[2], "wb");
    if (!f)
        fail_errno(argv[2]);
    std::fwrite(head.data(), 1, head.size(), f);
    std::vector<unsigned char> second;
    for (int i = 0; i < 44100 * 2; ++i)
        put_le(second, static_cast<std::uint16_t>(level), 2);
    for (std::uint32_t left = frames; left > 0;) {
        const std::uint32_t n = left < 44100 ? left : 44100;
        std::fwrite(second.data(), 4, n, f);
        left -= n;
    }
    if (std::fclose(f) != 0)
        fail_errno(argv[2]);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        fail("usage: benchtool paced|startup|next|hush|levelwav ...");
    const std::string what = argv[1];
    if (what == "levelwav")
        return cmd_levelwav(argc, argv);
    const options o = parse(argc, argv, 2);
    if (what == "paced")
        return cmd_paced(o);
    if (what == "startup")
        return cmd_startup(o);
    if (what == "next")
        return cmd_next(o);
    if (what == "hush")
        return cmd_hush(o);
    fail("unknown subcommand");
}

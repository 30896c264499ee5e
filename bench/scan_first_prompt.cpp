// Times the player from its start to its first prompt, in a pseudo-terminal as a user runs it.
// bench/scan.sh builds and runs it. Usage: scan_first_prompt PLAYER FOLDER RUNS
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using clock_type = std::chrono::steady_clock;

// One run: milliseconds to the prompt, or a negative number when it never came.
double one_run(const char *player, const char *folder, std::size_t *listed) {
    int master = -1;
    const auto start = clock_type::now();
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (chdir(folder) != 0)
            _exit(126);
        setenv("AUDIODEV", "null", 1);
        execl(player, player, static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string out;
    double took = -1;
    while (clock_type::now() - start < std::chrono::seconds(20)) {
        pollfd in{master, POLLIN, 0};
        if (poll(&in, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        out.append(buffer, static_cast<std::size_t>(got));
        if (out.find("~$ ") != std::string::npos) {
            took = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
            break;
        }
    }
    *listed = static_cast<std::size_t>(std::count(out.begin(), out.end(), '|'));
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    close(master);
    return took;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PLAYER FOLDER RUNS\n", argv[0]);
        return 2;
    }
    std::vector<double> times;
    for (int i = 0; i < std::atoi(argv[3]); ++i) {
        std::size_t listed = 0;
        const double ms = one_run(argv[1], argv[2], &listed);
        if (ms < 0 || listed != 50) {
            std::fprintf(stderr, "run %d: no prompt after a listing of 50 (%zu listed)\n", i,
                         listed);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "time to first prompt over %zu runs: median %.1f ms, fastest %.1f ms, slowest %.1f ms\n",
        times.size(), times[times.size() / 2], times.front(), times.back());
    return 0;
}

// Fuzz target: the Linux word reader and line editor, fed arbitrary keys on a pseudo-terminal.
// The terminal is in the player's own mode, so erase, kill, escape sequences and the multibyte
// rub-out all run as they do for a user.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "require.h"

namespace {

int master = -1;
unsigned long round_number = 0;

// Types the keys into the terminal and swallows the echo, until told to stop.
void keyboard(const std::string &keys, const std::atomic<bool> &done) {
    std::size_t sent = 0;
    char echo[4096];
    while (!done.load()) {
        pollfd p{master, static_cast<short>(POLLIN | (sent < keys.size() ? POLLOUT : 0)), 0};
        if (poll(&p, 1, 5) <= 0)
            continue;
        if (p.revents & POLLIN)
            (void)!read(master, echo, sizeof echo);
        if ((p.revents & POLLOUT) && sent < keys.size()) {
            const ssize_t n =
                write(master, keys.data() + sent, std::min<std::size_t>(256, keys.size() - sent));
            if (n > 0)
                sent += static_cast<std::size_t>(n);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        std::abort();
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // The mode the player sets, made here: this terminal is not the fuzzer's controlling one, so
    // the player leaves its mode alone. On top of that the driver passes every byte through
    // untouched: no signals, no flow control, no CR translation.
    termios settings{};
    tcgetattr(slave, &settings);
    settings.c_iflag = 0;
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    tcsetattr(slave, TCSANOW, &settings);
    dup2(slave, STDIN_FILENO);
    close(slave);
    // Multibyte letters are rubbed out whole in a UTF-8 locale.
    setenv("LC_ALL", "C.UTF-8", 1);
    plat::console_open();
    // libFuzzer puts its handlers only where none is installed, and the player takes every signal
    // that would end it: the ones libFuzzer watches go back to it.
    for (int signal_number : {SIGALRM, SIGSEGV, SIGBUS, SIGABRT, SIGILL, SIGFPE, SIGINT, SIGTERM,
                              SIGXFSZ, SIGUSR1, SIGUSR2}) {
        signal(signal_number, SIG_DFL);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // A word the input cannot hold marks its end; a fresh one each round.
    const std::string end = "zzEnd" + std::to_string(++round_number) + "zz";
    const std::string keys =
        std::string(reinterpret_cast<const char *>(data), size) + "\n" + end + "\n";
    std::atomic<bool> done{false};
    std::thread typist(keyboard, std::cref(keys), std::cref(done));
    char word[256];
    for (;;) {
        REQUIRE(plat::read_word(word, sizeof word));
        const std::size_t length = std::strlen(word);
        REQUIRE(length > 0 && length < sizeof word);
        // Only printable keys make it into a word; editing keys and other controls never do.
        for (std::size_t i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(word[i]);
            REQUIRE(c >= 0x20 && c != 0x7f && c != ' ');
        }
        if (end == word)
            break;
    }
    done = true;
    typist.join();
    return 0;
}

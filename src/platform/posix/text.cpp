// Output on Linux: bytes to standard output, and our own texts in the locale's charset.
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/platform.h"
#include "platform/posix/hooks.h"

namespace {

// The charset our texts must be converted to, or nullptr when UTF-8 can go out as it is.
const char *target_charset() {
    const char *codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "UTF-8") == 0 ||
        std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
        // The C locale claims ASCII but terminals showing it are UTF-8 nowadays; our texts
        // have no ASCII form anyway.
        return nullptr;
    }
    for (const char *cp932 : {"CP932", "WINDOWS-31J", "MS_KANJI", "IBM-943"}) {
        if (strcasecmp(codeset, cp932) == 0) {
            return "CP932";
        }
    }
    for (const char *sjis : {"SHIFT_JIS", "SHIFT-JIS", "SJIS"}) {
        if (strcasecmp(codeset, sjis) == 0) {
            return "SHIFT_JIS";
        }
    }
    return codeset;
}

// Opened once, after console_open has taken the locale from the environment.
iconv_t converter() {
    static const iconv_t cd = [] {
        const char *charset = target_charset();
        if (charset == nullptr) {
            return reinterpret_cast<iconv_t>(-1);
        }
        iconv_t opened = iconv_open((std::string(charset) + "//TRANSLIT").c_str(), "UTF-8");
        return opened != reinterpret_cast<iconv_t>(-1) ? opened : iconv_open(charset, "UTF-8");
    }();
    return cd;
}

} // namespace

void posix::write_all(int fd, const char *bytes, std::size_t count) {
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Someone sharing our output made it non-blocking; wait until it drains.
            pollfd out{fd, POLLOUT, 0};
            poll(&out, 1, -1);
        } else {
            // A closed pipe (with SIGPIPE ignored by whoever started us) or a full disk: there is
            // nothing to report it to, and the player plays on, since the sound and the keyboard
            // still work and "exit" or Ctrl-C still end it.
            return;
        }
    }
}

namespace plat {

void write_out(const char *bytes, std::size_t count) {
    posix::note_output(bytes, count);
    posix::write_all(STDOUT_FILENO, bytes, count);
}

void write_err(const char *bytes, std::size_t count) {
    posix::write_all(STDERR_FILENO, bytes, count);
}

void write_text(const char *utf8) {
    std::size_t left = std::strlen(utf8);
    iconv_t cd = converter();
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        write_out(utf8, left);
        return;
    }
    char *in = const_cast<char *>(utf8); // iconv's signature is not const-correct; it only reads
    char buffer[512];
    while (left > 0) {
        char *out = buffer;
        std::size_t room = sizeof buffer;
        std::size_t done = iconv(cd, &in, &left, &out, &room);
        write_out(buffer, sizeof buffer - room);
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte that is no UTF-8, or a letter the charset lacks even approximately: one '?'
            // for the whole letter.
            write_out("?", 1);
            do {
                ++in;
                --left;
            } while (left > 0 && (static_cast<unsigned char>(*in) & 0xc0) == 0x80);
        }
    }
    char *out = buffer;
    std::size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, &out, &room);
    write_out(buffer, sizeof buffer - room);
}

} // namespace plat

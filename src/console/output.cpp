// Console output shared by the player and the front end.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/controls.h"
#include "console/console.h"
#include "platform/platform.h"

void say(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0)
        return;
    std::size_t len =
        static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    plat::write_out(line, len);
}

void say_name(const char *entry) {
    const char *dot = std::strrchr(entry, '.');
    std::size_t len = dot ? static_cast<std::size_t>(dot - entry) : std::strlen(entry);
    char shown[256];
    if (len > sizeof shown)
        len = sizeof shown;
    mask_controls(entry, len, shown);
    plat::write_out(shown, len);
}

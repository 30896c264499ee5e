// Console window services on Linux: a terminal has no window the player could address.
#include "platform/platform.h"

namespace plat {

// A terminal's title can be set but not read back, so there is nothing to save and restore.
unsigned console_title_get(char *, unsigned) {
    return 0;
}

void console_title_set(const char *) {}

window find_window(const char *) {
    return nullptr;
}

} // namespace plat

// The command reader: one typed word becomes one command code; "stop" acts here and waits for a
// key.
#include <cstring>

#include "console/console.h"
#include "device/device.h"
#include "platform/platform.h"

namespace {

// The words compared whole, in the order they are tested.
struct command_word {
    const char *word;
    std::int32_t code;
};
constexpr command_word exact_words[] = {
    {"exit", cmd_code::exit},     {"ls", cmd_code::ls},       {"time", cmd_code::time},
    {"alloop", cmd_code::alloop}, {"help", cmd_code::help},   {"shuffle", cmd_code::shuffle},
    {"loop", cmd_code::loop},     {"pause", cmd_code::pause},
};

// Ten plus the value of the leading digits. A value too large for the dispatch to act on is
// held at a ceiling that is still ignored, so neither the value nor the addition overflows.
std::int32_t number_code(const char *word) {
    constexpr std::int32_t ceiling = INT32_MAX - cmd_code::number_base;
    std::int32_t value = 0;
    for (const char *p = word; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        value = value > (ceiling - digit) / 10 ? ceiling : value * 10 + digit;
    }
    return value + cmd_code::number_base;
}

} // namespace

std::int32_t read_cmd() {
    char cmd[256];
    // At the end of input there is no word: nothing happens, and the player plays on.
    if (!plat::read_word(cmd, sizeof cmd))
        return cmd_code::none;

    if (std::strcmp(cmd, "stop") == 0) {
        close_device();
        plat::getch();
        return cmd_code::next;
    }
    if (std::strcmp(cmd, "next") == 0 || cmd[0] == 'n')
        return cmd_code::next;
    if (std::strcmp(cmd, "before") == 0 || cmd[0] == 'b')
        return cmd_code::before;
    for (const command_word &w : exact_words) {
        if (std::strcmp(cmd, w.word) == 0)
            return w.code;
    }
    if (cmd[0] >= '0' && cmd[0] <= '9')
        return number_code(cmd);
    return cmd_code::none;
}

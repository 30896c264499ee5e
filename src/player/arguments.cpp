// The command line: options as getopt's users read them, and the one folder to play.
#include <cstring>

#include "console/console.h"
#include "player/player.h"

namespace {

// A Windows console program also answers "/?"; elsewhere that is a path like any other.
const char *const help_switches[] = {"-h", "--help",
#if defined(_WIN32)
                                     "/?",
#endif
                                     nullptr};
const char *const version_switches[] = {"-V", "--version", nullptr};
const char *const all_switches[] = {"-a", "--all", nullptr};

bool one_of(const char *arg, const char *const *table) {
    for (; *table != nullptr; ++table)
        if (std::strcmp(arg, *table) == 0)
            return true;
    return false;
}

} // namespace

int take_arguments(int argc, char **argv, bool &all) {
    const char *folder = nullptr;
    int folders = 0;
    bool options = true;
    // The first of the help and the version decides, as a getopt loop that acts on each in turn
    // would; -a only sets the mode, wherever it stands before "--".
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && one_of(arg, help_switches)) {
            show_usage();
            return 0;
        } else if (options && one_of(arg, version_switches)) {
            show_version();
            return 0;
        } else if (options && one_of(arg, all_switches)) {
            all = true;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            show_misuse();
            return 2;
        } else {
            folder = arg;
            ++folders;
        }
    }
    if (folders > 1) {
        show_misuse();
        return 2;
    }
    char reason[256];
    if (folder != nullptr && !plat::enter_folder(folder, reason, sizeof reason)) {
        complain(folder, reason);
        return 2;
    }
    return -1;
}

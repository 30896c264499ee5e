// The program's entry: takes its arguments, prepares the console, runs the player, and leaves
// through the platform.
#include "platform/platform.h"
#include "player/player.h"

int main(int argc, char **argv) {
    // With no argument the player is what it always was; the options and a folder only add to it.
    bool all = false;
    if (argc > 1) {
        const int status = take_arguments(argc, argv, all);
        if (status >= 0)
            return status;
    }
    plat::console_open();
    plat::exit_process(player_main(all));
}

// The program's entry: prepares the console, runs the player, and leaves through the platform.
#include "platform/platform.h"
#include "player/player.h"

int main() {
    plat::console_open();
    plat::exit_process(player_main());
}

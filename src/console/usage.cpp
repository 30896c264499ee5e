// What the program says of itself: its usage, its version, and why a run cannot begin.
#include <algorithm>
#include <cstring>

#include "common/controls.h"
#include "console/console.h"
#include "platform/platform.h"

namespace {

// The first line of the help is all that a misuse prints, so the two cannot tell different
// stories; the manual page's synopsis says the same. Windows's /? is -h, named below.
const char synopsis[] = "Usage: kestrova [-a] [-h | -V] [--] [FOLDER]\n";

// The same words as the manual page's options, commands and environment.
const char usage_text[] =
    "Lists the first 50 wave files (*.wav) of FOLDER, or of the current folder, by name, and\n"
    "plays them one after another, wrapping around; -a lists every format it plays instead.\n"
    "\n"
    "While a track plays, type a word and press Enter:\n"
    "  next, n...   the next track            before, b...  the previous track\n"
    "  0 to 49      that track (50 ends)      ls            the list again\n"
    "  time         the time played           loop          repeat this track, or stop that\n"
    "  shuffle      random order, or not      alloop        end after the last track, or not\n"
    "  stop         stop until a key          help WORD     what WORD does, in Japanese\n"
    "  pause        hold until a key          exit          quit\n"
    "\n"
#if defined(_WIN32)
    "  -a, --all       wave and MP3 files (.wav .mp3), the extension in any letter case\n"
    "  -h, --help, /?  show this help and exit\n"
    "  -V, --version   show the version and exit\n"
    "  --              end the options: a FOLDER starting with '-' may follow\n"
    "\n"
    "More in README.txt, beside kestrova.exe.\n";
#else
    "  -a, --all      every format: .wav .mp3 .mp2 .mpga .flac .ogg .oga .opus .aif .aiff,\n"
    "                 and with the kestrova-ffmpeg package .m4a .m4b .aac .wma .wv .webm\n"
    "                 .mka .ape; the extension in any letter case\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "  --             end the options: a FOLDER starting with '-' may follow\n"
    "\n"
    "AUDIODEV names the ALSA PCM to play through (else \"default\"); 'aplay -L' lists them.\n"
    "More in 'man kestrova'.\n";
#endif

void err(const char *text) {
    plat::write_err(text, std::strlen(text));
}

} // namespace

void show_usage() {
    plat::write_out(synopsis, sizeof synopsis - 1);
    plat::write_out(usage_text, sizeof usage_text - 1);
}

void show_version() {
    say("kestrova %s\n", KESTROVA_VERSION);
}

void show_misuse() {
    err(synopsis);
}

void complain(const char *path, const char *reason) {
    // A path's control bytes would drive the terminal, as a name's would.
    char shown[512];
    const std::size_t length = std::min(std::strlen(path), sizeof shown - 1);
    mask_controls(path, length, shown);
    shown[length] = '\0';
    err("kestrova: ");
    err(shown);
    err(": ");
    err(reason);
    err("\n");
}

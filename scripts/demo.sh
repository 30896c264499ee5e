#!/bin/sh
# Builds the player and starts it in build/demo, a folder of short tones generated on the spot.
set -eu
cd "$(dirname "$0")/.."
# The demo needs none of the Windows cross-build tools.
KESTROVA_NO_WINDOWS=1 sh scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target kestrova kestrova_demo_tones
rm -rf build/demo
build/tools/kestrova_demo_tones build/demo
# The player says nothing when its PCM will not open: it times the tracks in silence. So the
# demo tries the PCM first, with a few frames of silence, and says why there may be no sound.
pcm=${AUDIODEV:-default}
if ! head -c 16 /dev/zero |
    timeout 10 aplay -q -D "$pcm" -t raw -f S16_LE -c 2 -r 44100 2>/dev/null; then
    cat <<EOF
No sound? The PCM "$pcm" cannot be opened here, so the tracks will be timed in silence.
AUDIODEV chooses the PCM, and 'aplay -L' lists the names; desktop sound servers are reached
through ALSA's pulse or pipewire PCM, for example: AUDIODEV=pulse sh scripts/demo.sh
EOF
fi
cd build/demo
exec ../kestrova

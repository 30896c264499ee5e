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
cd build/demo
exec ../kestrova

#!/bin/sh
# Sets up, checks the formatting and the shell scripts, then builds and runs every test: plain,
# under ASan+UBSan and TSan, the fuzzers for a short budget, a benchmark smoke run, the decoders'
# testbench, and the Windows build under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
# Seconds, before any build: a file that clang-format would change or a script that shellcheck
# warns of fails the run.
sh scripts/check-style.sh
jobs=$(nproc)

run_suite() {
    dir=$1
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite build
# Unoptimised, the sanitizer builds compile in far less time, and their tests wait on clocks.
run_suite build-asan -DKESTROVA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
run_suite build-tsan -DKESTROVA_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
sh scripts/test-package.sh
sh scripts/fuzz.sh
# The smoke run leans on a private PulseAudio server, which has been seen to abort on its own
# once; a second try tells that apart from a real breakage, which fails both.
bench/run --smoke || bench/run --smoke
# The decoders beside each format's reference decoder, on files they were not written against;
# mci_play comes from the smoke run's build.
bench/testbench
sh scripts/test-windows.sh

#!/bin/sh
# The full soak: 1,000 random commands typed into the real player, under ASan+UBSan and under TSan
# side by side (about 7 minutes). The test command runs the short form (100) in every build.
#   sh scripts/soak.sh [COMMANDS]
# KESTROVA_SOAK_BUILDS names build folders that are already configured (default: build-asan and
# build-tsan, configured here); KESTROVA_SOAK_SEED replays a run.
set -eu
cd "$(dirname "$0")/.."
commands=${1:-1000}

if [ -n "${KESTROVA_SOAK_BUILDS:-}" ]; then
    builds=$KESTROVA_SOAK_BUILDS
else
    builds="build-asan build-tsan"
    cmake -S . -B build-asan -DKESTROVA_SANITIZE=ON >/dev/null
    cmake -S . -B build-tsan -DKESTROVA_TSAN=ON >/dev/null
fi

# Each run as its pid and its folder, "PID:FOLDER".
runs=""
for dir in $builds; do
    cmake --build "$dir" -j "$(nproc)" --target kestrova >/dev/null
    KESTROVA="$PWD/$dir/kestrova" KESTROVA_SOAK_COMMANDS=$commands /usr/bin/python3 -m pytest -q \
        -p no:cacheprovider -rA tests/e2e/test_soak.py >"$dir/soak.log" 2>&1 &
    runs="$runs $!:$dir"
done

failed=0
for run in $runs; do
    dir=${run#*:}
    if wait "${run%%:*}"; then
        echo "$dir: $(grep -o 'soak: [0-9]* commands, seed [0-9]*' "$dir/soak.log")"
    else
        echo "$dir: the soak failed; its log:" >&2
        tail -n 60 "$dir/soak.log" >&2
        failed=1
    fi
done
exit $failed

#!/bin/sh
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each from its seed corpus for a fixed time.
#   sh scripts/fuzz.sh                 30 s per target, side by side (about a minute with the build)
#   sh scripts/fuzz.sh --long SECONDS  SECONDS per target, keeping the grown corpus for the next run
# Exits non-zero on any finding; the input that caused it is left in the build folder's artifacts/.
set -eu
cd "$(dirname "$0")/.."

seconds=30
long=0
while [ $# -gt 0 ]; do
    case $1 in
    --long)
        [ $# -ge 2 ] || { echo "usage: $0 [--long SECONDS]" >&2; exit 2; }
        seconds=$2
        long=1
        shift 2
        ;;
    *)
        echo "usage: $0 [--long SECONDS]" >&2
        exit 2
        ;;
    esac
done

build=${KESTROVA_FUZZ_BUILD:-build-fuzz}
CC=clang CXX=clang++ cmake -S fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)"

targets="engine_file terminal_reader"
mkdir -p "$build/artifacts" "$build/logs"

# A short run starts from the seeds alone, so its result does not hang on what earlier runs found;
# a long run grows a corpus of its own and goes on from it.
run_target() {
    t=$1
    work="$build/corpus/$t"
    [ "$long" = 1 ] || rm -rf "$work"
    mkdir -p "$work"
    cp fuzz/corpus/"$t"/* "$work"/
    # libsndfile's MPEG decoder prints a line for every broken frame, gigabytes in a long run; the
    # target's own output is shut off, while libFuzzer's and the sanitizers' reports still come.
    quiet=""
    [ "$t" = engine_file ] && quiet="-close_fd_mask=3"
    "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" $quiet "$work" \
        >"$build/logs/$t.log" 2>&1
}

# As many at a time as there are cores; each target's log says how it went. The runs going on
# are kept as "PID:TARGET".
failed=""
running=""
wait_running() {
    for run in $running; do
        wait "${run%%:*}" || failed="$failed ${run#*:}"
    done
    running=""
}
for t in $targets; do
    run_target "$t" &
    running="$running $!:$t"
    if [ "$(echo "$running" | wc -w)" -ge "$(nproc)" ]; then
        wait_running
    fi
done
wait_running

for t in $targets; do
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$t.log")
    echo "fuzz_$t: ${runs:-?} inputs in ${seconds} s"
done
if [ -n "$failed" ]; then
    for t in $failed; do
        echo "fuzz_$t found a fault:" >&2
        grep -E -A 30 'ERROR|runtime error|deadly signal|Test unit written' "$build/logs/$t.log" | head -60 >&2
    done
    exit 1
fi
echo "fuzzing clean"

#!/bin/sh
# Benchmark: time from start to the first prompt in a folder of 10,000 files, 5,000 of them *.wav.
#   sh bench/scan.sh [PLAYER] [RUNS]   PLAYER defaults to build/kestrova, RUNS to 20
# Not a test: it prints figures. Where strace is installed it also counts the getdents64 calls of
# one start, which shows how much of the directory was read.
set -eu
cd "$(dirname "$0")/.."
player=$(realpath "${1:-build/kestrova}")
runs=${2:-20}
[ -x "$player" ] || { echo "no player at $player: build it first" >&2; exit 2; }

work=$(mktemp -d /tmp/kestrova-scan-XXXXXX)
trap 'rm -rf "$work"' EXIT
c++ -std=c++17 -O2 -Wall -Wextra -Werror bench/scan_first_prompt.cpp -o "$work/scan_first_prompt" -lutil

# A valid wave file with no samples: 44 bytes of header.
printf 'RIFF$\000\000\000WAVEfmt \020\000\000\000\001\000\001\000@\037\000\000\200>\000\000\002\000\020\000data\000\000\000\000' >"$work/empty.wav"
folder="$work/folder"
mkdir "$folder"
i=0
while [ $i -lt 5000 ]; do
    n=$(printf '%04d' $i)
    cp "$work/empty.wav" "$folder/track$n.wav"
    : >"$folder/notes$n.txt"
    i=$((i + 1))
done
echo "folder: $(ls -f "$folder" | wc -l) entries, $(ls "$folder" | grep -c '\.wav$') wave files"

"$work/scan_first_prompt" "$player" "$folder" "$runs"

if command -v strace >/dev/null 2>&1; then
    (cd "$folder" && AUDIODEV=null timeout -s TERM 1 strace -e trace=openat,getdents64,close \
        -o "$work/trace" "$player" </dev/null >/dev/null 2>&1) || true
    # The folder is the one directory opened as "."; count the reads of that descriptor.
    calls=$(awk '/openat\(AT_FDCWD, "\.", .*O_DIRECTORY/ { fd = $NF; next }
                 fd != "" && $0 ~ "^getdents64\\(" fd "," { n++ }
                 fd != "" && $0 ~ "^close\\(" fd "\\)" { fd = "" }
                 END { print n + 0 }' "$work/trace")
    entries=$(ls -f "$folder" | wc -l)
    echo "getdents64 calls on the folder in one start: $calls (reading all $entries entries takes about $((entries / 1000 + 1)))"
fi

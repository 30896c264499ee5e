#!/bin/sh
# Cross-builds the Windows program and its tests with MinGW-w64, runs them under Wine, and types
# commands at the program in a Wine console window (scripts/windows-console.sh).
set -eu
cd "$(dirname "$0")/.."
# The same switch that lets the set-up script leave out the cross compiler and Wine.
if [ "${KESTROVA_NO_WINDOWS:-0}" = 1 ]; then
    echo "windows: skipped (KESTROVA_NO_WINDOWS=1)"
    exit 0
fi
jobs=$(nproc)
build=${KESTROVA_WINDOWS_BUILD:-build-windows}
# Wine runs a 32-bit Windows program through 32-bit Linux programs, which a kernel without IA-32
# emulation cannot start. There the checks run on the same sources built for 64-bit Windows, under
# 64-bit Wine, and the 32-bit build, the one shipped, is built and packed but not run.
run_build=$build
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    run_build=$build-64
    echo "windows: this kernel runs no 32-bit programs: the checks run on a 64-bit build"
fi

# A prefix of our own, thrown away afterwards, so that no earlier Wine setting plays a part.
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-wine.XXXXXX")
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
unset WAYLAND_DISPLAY
boot_log=$WINEPREFIX.boot.log
display_file=$WINEPREFIX.display
xvfb=""
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$WINEPREFIX.bin" "$boot_log" "$display_file"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
if [ "$run_build" != "$build" ]; then
    # The 64-bit loader, wherever Wine's own scripts would reach for the 32-bit one.
    mkdir "$WINEPREFIX.bin"
    printf '#!/bin/sh\nWINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$@"\n' \
        >"$WINEPREFIX.bin/wine"
    chmod +x "$WINEPREFIX.bin/wine"
    ln -s wine "$WINEPREFIX.bin/wine-stable"
    PATH=$WINEPREFIX.bin:$PATH
fi

# A virtual X server of our own for the console windows that the typed checks open. The prefix
# is set up on it too: booted without a display, Wine gives later consoles no window. Xvfb picks
# a free display and writes its number once it takes connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
tries=0
until [ -s "$display_file" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 600 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done
DISPLAY=:$(cat "$display_file")
export DISPLAY

# The prefix is set up while the cross build runs. Its server and background services stay up
# for the tests: each Wine process then starts in a fraction of a second, and no service is
# started from inside a test, where it would hold ctest's output pipe open after the test ends.
# Mono and Gecko are left out: there is no network to fetch them and nothing here needs them.
t0=$(date +%s)
(wineserver -p && WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init) </dev/null >"$boot_log" 2>&1 &
boot=$!

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$jobs"
if [ "$run_build" != "$build" ]; then
    cmake -S . -B "$run_build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-x86_64.cmake" >/dev/null
    cmake --build "$run_build" -j "$jobs"
fi
t1=$(date +%s)

if ! wait "$boot"; then
    cat "$boot_log" >&2
    echo "setting up the Wine prefix failed" >&2
    exit 1
fi
t2=$(date +%s)

ctest --test-dir "$run_build" --output-on-failure -j "$jobs"
# A Western locale: redirected output must hold the Japanese texts as Shift-JIS all the same.
LC_ALL=C sh scripts/windows-console.sh "$run_build/kestrova.exe"
# The options, which need no console: the status, then what standard output must start with and
# what standard error must hold (nothing, when none is given).
options=$run_build/options
mkdir -p "$options/music" "$options/empty"
: >"$options/music/a.wav"
while IFS=';' read -r args status out err; do
    got=0
    # shellcheck disable=SC2086 # the row's arguments are words
    (cd "$options/music" && timeout 60 wine ../../kestrova.exe $args </dev/null \
        >../out 2>../err) || got=$?
    if [ "$got" != "$status" ] || [ "$(head -c ${#out} "$options/out")" != "$out" ] ||
        { [ -n "$err" ] && ! grep -qF -- "$err" "$options/err"; } ||
        { [ -z "$err" ] && [ -s "$options/err" ]; }; then
        echo "windows option row '$args': status $got; out: $(cat "$options/out");" \
            "err: $(cat "$options/err")" >&2
        exit 1
    fi
done <<EOF
/?;0;Usage: kestrova [-a] [-h | -V] [--] [FOLDER];
-h;0;Usage: kestrova [-a] [-h | -V] [--] [FOLDER];
--version;0;kestrova $(sed -n 's/^project(kestrova VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt);
..\\empty;1;There are no mp3s.;
-a ..\\empty;1;There are no mp3s.;
..\\nosuch;2;;kestrova: ..\\nosuch: 
--bogus;2;;Usage: kestrova [-a] [-h | -V] [--] [FOLDER]
EOF

# -a in a folder of wave, MP3 and other files: the wave and MP3 files listed in name order, the
# extension in any case; each opened on its MCI device type by its name as it stands, as Wine's
# trace of MCI shows; and each, an empty file, named on standard error with MCI's words. The
# player goes round its list for ever, so it is ended once it has said all that.
all=$options/all
rm -rf "$all" && mkdir -p "$all"
for name in b.Mp3 a.WAV c.txt d.mp3.bak; do : >"$all/$name"; done
(cd "$all" && WINEDEBUG=-all,trace+mci exec timeout 120 wine ../../kestrova.exe -a </dev/null \
    >../out 2>../err) &
player=$!
opened() {
    grep -a -A1 "MCI_Open devType=L\"$1\"" "$options/err" |
        grep -qF "lpstrElementName=L\"$2\""
}
named() { grep -aq "^kestrova: cannot play \"$1\": [A-Z]" "$options/err"; }
listing=$(printf '0 | a\r\n1 | b\r\n\r\nKestrovaSonvane~ a~$ ')
listed() { [ "$(head -c ${#listing} "$options/out")" = "$listing" ]; }
end=$(($(date +%s) + 60))
until opened waveaudio a.WAV && opened MPEGVideo b.Mp3 && named a.WAV && named b.Mp3 && listed; do
    if [ "$(date +%s)" -gt "$end" ] || ! kill -0 "$player" 2>/dev/null; then
        echo "windows -a: out: $(cat "$options/out");" \
            "err: $(grep -v trace: "$options/err")" >&2
        exit 1
    fi
    sleep 0.2
done
kill "$player" 2>/dev/null || true
wait "$player" 2>/dev/null || true
t3=$(date +%s)
echo "windows: build $((t1 - t0)) s, Wine prefix ready after $((t2 - t0)) s, tests $((t3 - t2)) s"

# The Windows zip: packed by cpack in the build above, unpacked into its zip-check/ folder, and
# the program run from there in an empty folder: the empty-folder message, then status 1.
zip_build=$PWD/${KESTROVA_WINDOWS_BUILD:-build-windows}
zip_check=$zip_build/zip-check
rm -rf "$zip_check" "$zip_build"/kestrova-*-win32.zip
(cd "$zip_build" && cpack -G ZIP >/dev/null)
mkdir -p "$zip_check/empty"
(cd "$zip_check" && cmake -E tar xf ../kestrova-*-win32.zip)
unpacked=$(echo "$zip_check"/kestrova-*-win32)
cr=$(printf '\r')
if [ ! -f "$unpacked/kestrova.exe" ] || [ ! -s "$unpacked/README.txt" ] ||
    [ "$(grep -c "$cr\$" "$unpacked/README.txt")" -ne "$(wc -l <"$unpacked/README.txt")" ]; then
    echo "the zip lacks kestrova.exe or a README.txt with CRLF line ends" >&2
    exit 1
fi
if [ "$run_build" != "$build" ]; then
    echo "windows: $(basename "$unpacked").zip unpacked; its 32-bit program not run on this kernel"
    exit 0
fi
zip_status=0
(cd "$zip_check/empty" && timeout 60 wine "$unpacked/kestrova.exe" </dev/null >"$zip_check/out") ||
    zip_status=$?
if ! printf 'There are no mp3s.\r\n' | cmp -s - "$zip_check/out" || [ "$zip_status" != 1 ]; then
    echo "the zip's exe in an empty folder: status $zip_status, output: $(cat "$zip_check/out")" >&2
    exit 1
fi
echo "windows: $(basename "$unpacked").zip unpacked and run under Wine"

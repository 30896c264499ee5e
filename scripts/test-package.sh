#!/bin/sh
# Builds the Debian packages (kestrova, and kestrova-ffmpeg with the FFmpeg module) from a Release
# build, lints them, installs them with apt-get, runs the installed player in an empty folder and
# on an M4A file, with the module and without, finds its manual page, and removes them again.
# Needs root (or sudo) and the packages of scripts/setup.sh.
set -eu
cd "$(dirname "$0")/.."
build=${KESTROVA_PACKAGE_BUILD:-build-package}
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
t0=$(date +%s)

fail() {
    echo "package: $*" >&2
    exit 1
}

# The page must render cleanly before it is packed.
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l man/kestrova.1 \
    2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

# Only the program and the package's files, no tests, no tools; with Debian's hardening flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTROVA_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target kestrova kestrova_ffmpeg \
    kestrova_deb_files
rm -f "$build"/kestrova*.deb
(cd "$build" && cpack -G DEB >/dev/null)
log=$build/package.log
# Each package: its file, and a library that dpkg-shlibdeps must have found it to need.
one_deb() {
    needs=$2
    set -- "$build"/"$1"_*.deb
    if [ $# != 1 ] || [ ! -f "$1" ]; then
        fail "cpack made no single $1"
    fi
    echo "package: $(basename "$1"), Depends: $(dpkg-deb -f "$1" Depends)" >&2
    dpkg-deb -f "$1" Depends | grep -q "$needs" || fail "dpkg-shlibdeps found no $needs for $1"
    # Its findings are shown, warnings included; an error fails the check. (As root it says so
    # first.)
    lintian_status=0
    lintian --fail-on error "$1" >"$log" 2>&1 || lintian_status=$?
    grep -v '^running with root privileges' "$log" >&2 || true
    [ "$lintian_status" = 0 ] || fail "lintian reports errors in $1"
    echo "$PWD/$1"
}
deb=$(one_deb kestrova libsndfile1)
ffmpeg_deb=$(one_deb kestrova-ffmpeg libavcodec)

# Another install may hold the dpkg lock for a while.
apt_wait="DPkg::Lock::Timeout=300"
# Nothing of ours may be on PATH beforehand, or the checks below would find that instead.
hash -r
if command -v kestrova >/dev/null; then
    fail "a kestrova is already on PATH ($(command -v kestrova)); remove it first"
fi
cleanup() {
    if dpkg-query -W -f='${Status}' kestrova 2>/dev/null | grep -q "ok installed"; then
        $SUDO apt-get purge -y -qq -o "$apt_wait" kestrova kestrova-ffmpeg >/dev/null 2>&1 || true
    fi
    rm -rf "${run_dir:-}"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o "$apt_wait" "$deb" "$ffmpeg_deb" \
    >"$log" 2>&1 || { cat "$log" >&2; fail "apt-get could not install the packages"; }
hash -r
[ "$(command -v kestrova)" = /usr/bin/kestrova ] || fail "kestrova is not on PATH after the install"

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrova-package.XXXXXX")
mkdir "$run_dir/empty"
status=0
(cd "$run_dir/empty" && timeout 60 kestrova </dev/null >"$run_dir/out") || status=$?
printf 'There are no mp3s.\n' >"$run_dir/expected"
cmp -s "$run_dir/out" "$run_dir/expected" ||
    fail "in an empty folder it printed: $(cat "$run_dir/out")"
[ "$status" = 1 ] || fail "in an empty folder it ended with status $status, not 1"
version=$(sed -n 's/^project(kestrova VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(kestrova --version)" = "kestrova $version" ] ||
    fail "kestrova --version says \"$(kestrova --version)\", not \"kestrova $version\""

[ "$(man -w kestrova)" = /usr/share/man/man1/kestrova.1.gz ] || fail "man -w does not find the page"

# An M4A plays to its end through the installed module, and is named without it.
mkdir "$run_dir/m4a"
ffmpeg -loglevel error -f lavfi -i sine=duration=1 -c:a aac "$run_dir/m4a/tone.m4a"
play_m4a() {
    status=0
    (cd "$run_dir/m4a" && printf 'alloop\n' | AUDIODEV=null timeout 60 kestrova -a \
        >/dev/null 2>"$run_dir/err") || status=$?
    [ "$status" = 0 ] || fail "kestrova -a ended with status $status on an M4A file"
}
play_m4a
[ ! -s "$run_dir/err" ] || fail "with kestrova-ffmpeg, an M4A file: $(cat "$run_dir/err")"
$SUDO apt-get purge -y -qq -o "$apt_wait" kestrova-ffmpeg >"$log" 2>&1 ||
    { cat "$log" >&2; fail "apt-get could not remove kestrova-ffmpeg"; }
play_m4a
grep -q '^kestrova: cannot play "tone.m4a": needs the kestrova-ffmpeg package$' "$run_dir/err" ||
    fail "without kestrova-ffmpeg, an M4A file: $(cat "$run_dir/err")"

$SUDO apt-get purge -y -qq -o "$apt_wait" kestrova >"$log" 2>&1 ||
    { cat "$log" >&2; fail "apt-get could not remove the package"; }
hash -r
if command -v kestrova >/dev/null; then
    fail "kestrova is still on PATH after the removal: $(command -v kestrova)"
fi
if man -w kestrova >/dev/null 2>&1; then
    fail "the manual page is still there after the removal"
fi
echo "packages: built, linted, installed, run, removed in $(($(date +%s) - t0)) s"

#!/bin/sh
# Builds the Debian package from a Release build, lints it, installs it with apt-get, runs the
# installed player in an empty folder, finds its manual page, and removes it again.
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
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTROVA_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target kestrova kestrova_deb_files
rm -f "$build"/kestrova_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
set -- "$build"/kestrova_*.deb
if [ $# != 1 ] || [ ! -f "$1" ]; then
    fail "cpack made no single kestrova_*.deb: $*"
fi
deb=$PWD/$1
echo "package: $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q libsndfile1 || fail "dpkg-shlibdeps found no Depends"

# Its findings are shown, warnings included; an error fails the check. (As root it says so first.)
log=$build/package.log
lintian_status=0
lintian --fail-on error "$deb" >"$log" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$log" || true
[ "$lintian_status" = 0 ] || fail "lintian reports errors"

# Another install may hold the dpkg lock for a while.
apt_wait="DPkg::Lock::Timeout=300"
# Nothing of ours may be on PATH beforehand, or the checks below would find that instead.
hash -r
if command -v kestrova >/dev/null; then
    fail "a kestrova is already on PATH ($(command -v kestrova)); remove it first"
fi
cleanup() {
    if dpkg-query -W -f='${Status}' kestrova 2>/dev/null | grep -q "ok installed"; then
        $SUDO apt-get purge -y -qq -o "$apt_wait" kestrova >/dev/null 2>&1 || true
    fi
    rm -rf "${run_dir:-}"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o "$apt_wait" "$deb" >"$log" 2>&1 ||
    { cat "$log" >&2; fail "apt-get could not install the package"; }
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

$SUDO apt-get purge -y -qq -o "$apt_wait" kestrova >"$log" 2>&1 ||
    { cat "$log" >&2; fail "apt-get could not remove the package"; }
hash -r
if command -v kestrova >/dev/null; then
    fail "kestrova is still on PATH after the removal: $(command -v kestrova)"
fi
if man -w kestrova >/dev/null 2>&1; then
    fail "the manual page is still there after the removal"
fi
echo "package: built, linted, installed, run, removed in $(($(date +%s) - t0)) s"

#!/bin/sh
# Installs the Debian packages that building, testing and benchmarking Kestrova need, only those
# missing.
#
#   scripts/setup.sh [pulse|pipewire]   the sound server (pulse unless named): the tests and the
#                                       bench need PulseAudio, and `bench/run --server pipewire`
#                                       PipeWire; in Debian 12 pipewire-alsa and pulseaudio
#                                       conflict, so naming the other swaps one for the other
set -eu

pkgs="cmake g++ make pkg-config googletest libgtest-dev libsndfile1-dev libasound2-dev
      libasound2-plugins alsa-utils locales clang clang-format libclang-rt-14-dev
      dpkg-dev file lintian man-db python3-pexpect python3-pytest python3-pytest-xdist shellcheck
      libmpg123-dev libflac-dev flac vorbis-tools opus-tools
      libavformat-dev libavcodec-dev libswresample-dev ffmpeg"
# MPEG audio is decoded with libmpg123 and FLAC with libFLAC, the format's reference decoder; the
# format tests encode one sweep with Debian's encoders (lame comes with the bench's packages).
# The FFmpeg module (M4A, AAC, WMA, WebM, Matroska, WavPack, APE) builds against FFmpeg's
# libraries, and its tests encode with the ffmpeg program, whose ffplay is the bench's reference
# player for AAC.
# The Debian package: cpack works out its Depends with dpkg-shlibdeps (dpkg-dev), which needs
# file; lintian checks it, and man-db renders and finds its manual page.
# Before it builds anything, the test command checks the C++ formatting with clang-format and
# the shell scripts with shellcheck.
# The Windows program runs under Wine; its console checks type at a real console window, which
# needs a virtual X server and xdotool. A kernel without IA-32 emulation runs no 32-bit program,
# 32-bit Wine among them: the checks then run on a 64-bit build under 64-bit Wine (win64_pkgs).
win_pkgs="g++-mingw-w64-i686 wine wine32:i386 xvfb xdotool"
win64_pkgs="wine64 g++-mingw-w64-x86-64"
# bench/run and the peers it measures Kestrova against; the sound-server tests and the bench
# start a private sound server.
bench_pkgs="python3 python3-psutil mpg123 sox libsox-fmt-alsa libsox-fmt-mp3 lame
            gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-base gstreamer1.0-alsa
            python3-numpy twolame sndfile-programs"
# bench/testbench compares the decoders with the formats' own: it makes layer II with twolame and
# DWVW with sndfile-convert, and compares the samples with numpy.
case ${1:-pulse} in
pulse) bench_pkgs="$bench_pkgs pulseaudio pulseaudio-utils" ;;
pipewire) bench_pkgs="$bench_pkgs pipewire pipewire-bin wireplumber pipewire-alsa dbus" ;;
*)
    echo "usage: scripts/setup.sh [pulse|pipewire]" >&2
    exit 2
    ;;
esac
pkgs="$pkgs $bench_pkgs"

SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo

want_windows=1
[ "${KESTROVA_NO_WINDOWS:-0}" = 1 ] && want_windows=0

# The packages missing, as the positional parameters.
set --
for p in $pkgs; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || set -- "$@" "$p"
done
if [ "$want_windows" = 1 ]; then
    for p in $win_pkgs; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || set -- "$@" "$p"
    done
fi

if [ $# -gt 0 ]; then
    if [ "$want_windows" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@"
fi

if [ "$want_windows" = 1 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    set --
    for p in $win64_pkgs; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || set -- "$@" "$p"
    done
    if [ $# -gt 0 ]; then
        $SUDO apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@"
    fi
fi

# The text tests need a Shift-JIS locale next to the UTF-8 one.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
    $SUDO localedef -f SHIFT_JIS -i ja_JP ja_JP.SJIS 2>/dev/null || true
fi
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
    $SUDO localedef -f UTF-8 -i ja_JP ja_JP.UTF-8 2>/dev/null || true
fi

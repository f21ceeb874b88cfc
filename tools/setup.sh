#!/usr/bin/env bash
# Installs every Debian package the project needs, then configures and builds the native, win64 and
# win32 presets. Safe to run again: installed packages and configured builds are reused.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    # native build, tests and benchmarks
    build-essential cmake ninja-build googletest libgtest-dev libgmock-dev libbenchmark-dev nettle-dev
    python3 clang-format
    # the HTTP fetch tests: a self-signed certificate for their loopback TLS server
    openssl
    # Windows builds: mingw-w64 (posix thread model compilers), widl, and the IDL files and stdole2.tlb
    mingw-w64 mingw-w64-tools binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 libwine-dev
    # the Wine test bench: 64-bit Wine only (with wine32 present the launcher picks the 32-bit loader,
    # which cannot run on this machine), and a virtual display for tests that open windows
    wine wine64 xvfb xauth
    # the encoding engine: FFmpeg's libraries natively; nasm and dpkg-dev (apt-get source) for the
    # static mingw build of FFmpeg made by tools/build-ffmpeg-mingw.sh
    libavformat-dev libavcodec-dev libavdevice-dev libavfilter-dev libswscale-dev libswresample-dev
    libavutil-dev pkg-config nasm dpkg-dev
    # the engine's capture tests: a sound server with a null sink as the default sound input
    pulseaudio pulseaudio-utils
    # the capture program's folder-mode benchmark: its peer is the ffmpeg command-line tool
    ffmpeg
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    ((EUID == 0)) || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    echo "setup: wine32 is installed; remove it (apt-get remove wine32:i386), this machine cannot run it" >&2
    exit 1
fi

# The win64 engine links a static FFmpeg cross-built once per machine (cached outside the tree).
tools/build-ffmpeg-mingw.sh

for preset in native win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
echo "setup: done"

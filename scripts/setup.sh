#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Tarvo need, and only
# those that are missing. Safe to run again: with everything present it does
# nothing but check. `scripts/setup.sh --bench` adds what the benchmarks compare
# against.
set -euo pipefail

packages=(
  # building
  g++ cmake ninja-build pkg-config
  # crash reports: the stack walk (libunwind) and debug information (libdw)
  libunwind-dev libdw-dev
  # the P2P eligibility filter's patterns: PCRE2, linked as a shared library
  libpcre2-dev
  # one formatting rule for the tree (scripts/check-format.sh)
  clang-format
  # testing
  libgtest-dev libgmock-dev
  # the tsan preset: g++'s ThreadSanitizer runtime
  libtsan2
  # fuzzing (HTTP parsers, P2P datagram readers, resource list): clang with
  # libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # end-to-end proxy tests and the download store's tests: a real web server and client
  nginx-light curl
  # proxy tests in a real browser: headless Chromium's CORS preflight
  chromium
  # proxy tests: the listen queue read back with ss
  iproute2
  # crash report tests: the debugger that must open the minidump, and readelf
  lldb binutils
  # browser proxy setting tests: the desktop's proxy schema and its tool
  libglib2.0-bin gsettings-desktop-schemas
  # built-in player (tarvospeed/DSPlayer): libmpv drawing into Qt 6 OpenGL widgets
  libmpv-dev qt6-base-dev libqt6opengl6-dev
  # desktop and player tests: a private X server with software OpenGL
  xvfb xauth libgl1-mesa-dri
  # tarvospeed: the library's XML files, thumbnails decoded with FFmpeg, and
  # ffmpeg itself, which the tests make their videos with
  libpugixml-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
  # tarvospeed's windows (Qt 6 Widgets) and their screenshots under Xvfb need a
  # font that has the Chinese texts
  fonts-noto-cjk
)
bench_packages=(
  # proxy benchmark: load generator and the proxies it compares against
  apache2-utils tinyproxy squid
  libbenchmark-dev
  # download store benchmark: the multi-connection downloaders it compares against
  aria2 axel
  # player benchmark: the mpv program beside the built-in player
  mpv
)

if [[ "${1:-}" == "--bench" ]]; then
  packages+=("${bench_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

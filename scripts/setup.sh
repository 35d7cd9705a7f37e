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
  # fuzzing (HTTP parsers, P2P datagram readers): clang with libFuzzer and the
  # sanitizer runtimes
  clang libclang-rt-14-dev
  # end-to-end proxy tests and the download store's tests: a real web server and client
  nginx-light curl
  # crash report tests: the debugger that must open the minidump, and readelf
  lldb binutils
  # browser proxy setting tests: the desktop's proxy schema and its tool
  libglib2.0-bin gsettings-desktop-schemas
)
bench_packages=(
  # proxy benchmark: load generator and the proxies it compares against
  apache2-utils tinyproxy squid
  libbenchmark-dev
  # download store benchmark: the multi-connection downloaders it compares against
  aria2 axel
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

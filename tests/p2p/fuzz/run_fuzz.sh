#!/usr/bin/env bash
# Builds libFuzzer targets of this folder's CMakeLists.txt with clang (unless
# a build folder holding them is given) and runs each over its seed corpus
# for a few seconds. Any crash, sanitizer report or leak fails the run.
#
#   run_fuzz.sh <work folder> <folder with built targets or ""> <target>...
#
# A target's seeds are corpus/<name>, <name> being the target without its
# "p2p_fuzz_" or "resource_fuzz_" prefix. The work folder keeps the clang
# build between runs, so only changed sources are compiled again; the corpus
# the fuzzer grows is kept there too, never in the repository.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$1
bin=$2
shift 2
targets=("$@")
seconds=${P2P_FUZZ_SECONDS:-6}   # per target
mkdir -p "$work"

if [[ -z "$bin" ]]; then
  if ! command -v clang++ >/dev/null; then
    echo "run_fuzz: clang++ not found (scripts/setup.sh installs it)" >&2
    exit 1
  fi
  bin=$work/build
  if [[ ! -f $bin/build.ninja ]]; then
    cmake -S "$here" -B "$bin" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=None >"$work/configure.log" 2>&1 \
      || { cat "$work/configure.log" >&2; exit 1; }
  fi
  ninja -C "$bin" -j2 "${targets[@]}" >"$work/build.log" 2>&1 \
    || { cat "$work/build.log" >&2; exit 1; }
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  name=${target#p2p_fuzz_}
  name=${name#resource_fuzz_}
  grown=$work/corpus/$name
  mkdir -p "$grown"
  echo "run_fuzz: $target for ${seconds}s"
  if ! "$bin/$target" -max_total_time="$seconds" -max_len=2048 \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/$name-" \
      -print_final_stats=1 "$grown" "$here/corpus/$name" >"$work/$name.log" 2>&1; then
    echo "run_fuzz: $target FAILED, last lines of $work/$name.log:" >&2
    tail -n 60 "$work/$name.log" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$work/$name.log" | tail -n 2
  fi
done
exit $status

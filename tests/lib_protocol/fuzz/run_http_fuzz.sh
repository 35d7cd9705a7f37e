#!/usr/bin/env bash
# Builds the HTTP fuzz targets with clang (unless a build folder holding them
# is given) and runs each over its seed corpus for a few seconds. Any crash,
# sanitizer report or leak fails the run.
#
#   run_http_fuzz.sh <work folder> [<folder with built targets>]
#
# The work folder keeps the clang build between runs, so only changed sources
# are compiled again; the corpus the fuzzer grows is kept there too, never in
# the repository.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$1
bin=${2:-}
seconds=${HTTP_FUZZ_SECONDS:-7}   # per target; three targets
mkdir -p "$work"

if [[ -z "$bin" ]]; then
  if ! command -v clang++ >/dev/null; then
    echo "run_http_fuzz: clang++ not found (scripts/setup.sh installs it)" >&2
    exit 1
  fi
  bin=$work/build
  if [[ ! -f $bin/build.ninja ]]; then
    cmake -S "$here" -B "$bin" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=None >"$work/configure.log" 2>&1 \
      || { cat "$work/configure.log" >&2; exit 1; }
  fi
  ninja -C "$bin" -j2 http_fuzz_request http_fuzz_response http_fuzz_chunked \
    >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in request response chunked; do
  grown=$work/corpus/$target
  mkdir -p "$grown"
  echo "run_http_fuzz: $target for ${seconds}s"
  if ! "$bin/http_fuzz_$target" -max_total_time="$seconds" -max_len=16384 \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/$target-" \
      -print_final_stats=1 "$grown" "$here/corpus/$target" >"$work/$target.log" 2>&1; then
    echo "run_http_fuzz: $target FAILED, last lines of $work/$target.log:" >&2
    tail -n 60 "$work/$target.log" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$work/$target.log" | tail -n 2
  fi
done
exit $status

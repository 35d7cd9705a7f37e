#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ source differs from what
# clang-format makes of it under the root's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r f; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done < <(git ls-files '*.cpp' '*.h' '*.cc' '*.hpp')
if ((${#bad[@]})); then
  echo "check-format: not formatted (run clang-format -i on them):"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "check-format: ${#bad[@]} unformatted files"

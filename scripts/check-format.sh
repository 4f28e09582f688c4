#!/usr/bin/env bash
# Fails when a C++ source under src/ or tests/ differs from what clang-format
# makes of it with the repository's .clang-format. `--fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: the files above differ from clang-format's output; run scripts/check-format.sh --fix" >&2
  exit 1
fi

#!/usr/bin/env bash
# Formats every C and C++ source of the repository with clang-format (.clang-format).
#   bash scripts/format.sh          rewrite the files in place
#   bash scripts/format.sh --check  change nothing; list the files that differ and fail
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" = --check ]; then
  clang-format --dry-run -Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi

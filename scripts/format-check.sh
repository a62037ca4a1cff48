#!/usr/bin/env bash
# Checks that every C and C++ file in the tree is formatted as .clang-format says.
# Usage: scripts/format-check.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format says"

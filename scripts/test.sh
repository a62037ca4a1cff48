#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer and UBSan) and runs the whole
# test suite in both builds; then cross-builds KorvoLoader.dll and the suite for Windows with
# MinGW-w64 and runs it under Wine (scripts/test-windows.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh linux tool
jobs=$(nproc)

run_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== Linux build"
run_build build/linux
echo "== Linux build with AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_build build/linux-asan -DKORVO_SANITIZE=ON
echo "== Windows build (MinGW-w64), tests under Wine"
bash scripts/test-windows.sh build/win

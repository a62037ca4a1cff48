#!/usr/bin/env bash
# The whole test suite, as CI runs it:
#   1. the formatting check (clang-format, .clang-format);
#   2. a plain Linux build, warnings as errors, and its tests, with the browser test of korvo
#      view in headless Chromium (tests/browser: the pinned npm packages by `npm ci`);
#   3. a Linux build with AddressSanitizer and UBSan, and its tests;
#   4. a Linux build with ThreadSanitizer (library and tests only), running the read-path
#      thread suites;
#   5. KorvoLoader.dll and the suite cross-built with MinGW-w64, tests under Wine
#      (scripts/test-windows.sh);
#   6. every fuzz target built with clang and libFuzzer and run for 25 s (scripts/fuzz.sh).
# Usage: scripts/test.sh [--quick]   (--quick: steps 1 and 2 only, for the edit-build-test loop)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
  esac
done
bash scripts/deps.sh linux tool view fuzz
(cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

run_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_BUILD_BENCH=OFF -DKORVO_WERROR=ON \
    "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== Formatting"
bash scripts/format-check.sh
echo "== Linux build"
run_build build/linux
if [ "$quick" = 1 ]; then
  exit 0
fi
echo "== Linux build with AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_build build/linux-asan -DKORVO_SANITIZE=ON
echo "== Linux build with ThreadSanitizer: the read-path thread suites"
cmake -S . -B build/linux-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_BUILD_BENCH=OFF \
  -DKORVO_BUILD_TOOLS=OFF -DKORVO_BUILD_EXAMPLES=OFF -DKORVO_WERROR=ON -DKORVO_SANITIZE_THREAD=ON \
  "${launcher[@]}" >/dev/null
cmake --build build/linux-tsan -j "$jobs" --target korvo_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/linux-tsan/tests/korvo_tests \
  --gtest_filter='ReadPathThreads.*:PackageList.*:NameIndexThreads.*:ResourceExports.*:ManagerTest.*:ManagerWithPackageTest.*'
echo "== Windows build (MinGW-w64), tests under Wine"
bash scripts/test-windows.sh build/win
echo "== Fuzzing (libFuzzer, AddressSanitizer, UBSan), 25 s a target"
bash scripts/fuzz.sh 25

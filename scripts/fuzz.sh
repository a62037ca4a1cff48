#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan) in build/fuzz and runs
# each for a fixed time, starting from its checked-in seed corpus (fuzz/corpus/NAME). New inputs
# collect in build/fuzz/corpus/NAME; a crash, leak, timeout or out-of-memory input is written to
# build/fuzz/artifacts/NAME/ and fails the run: once fixed, it belongs in fuzz/regressions/NAME/,
# which the test suite replays.
# Usage: scripts/fuzz.sh [seconds per target (default 25)] [target...]
#   targets: archive image package_list edit entry_path pack_cache journal png (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-25}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(archive image package_list edit entry_path pack_cache journal png)

cc=""
for candidate in clang-14 clang; do
  if command -v "$candidate" >/dev/null 2>&1; then
    cc=$candidate
    break
  fi
done
if [ -z "$cc" ]; then
  echo "fuzz: clang not found (scripts/deps.sh fuzz installs it)" >&2
  exit 1
fi
cxx=${cc/clang/clang++}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Absolute paths: a target may change its working directory (the package list's tool form
# resolves against it), and libFuzzer keeps reading and writing its corpus afterwards.
build=$root/build/fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_CXX_COMPILER="$cxx" -DKORVO_BUILD_FUZZ=ON -DKORVO_SANITIZE=ON -DKORVO_BUILD_TESTS=OFF \
  -DKORVO_BUILD_TOOLS=OFF -DKORVO_BUILD_EXAMPLES=OFF -DKORVO_BUILD_BENCH=OFF "${launcher[@]}" \
  >/dev/null
programs=()
for target in "${targets[@]}"; do programs+=("korvo_fuzz_$target"); done
cmake --build "$build" -j "$(nproc)" --target "${programs[@]}"

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
  echo "== fuzz $target (${seconds} s)"
  if ! "$build/fuzz/korvo_fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target/" \
    "$build/corpus/$target" "$root/fuzz/corpus/$target" 2>"$build/$target.log"; then
    tail -n 60 "$build/$target.log" >&2
    echo "fuzz: $target failed; the input is in $build/artifacts/$target/" >&2
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^#[0-9]+ *DONE" "$build/$target.log" | tr '\n' ' '
  echo
done

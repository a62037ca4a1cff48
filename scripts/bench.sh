#!/usr/bin/env bash
# Builds the benchmarks in Release into build/bench and runs them: first the peer benchmark
# (KorvoLoader beside PhysFS and libzip), which prints one table and writes it to
# build/bench/peer_bench.md, then the other benchmark programs. The korvo tool is built too:
# the loop bench runs it as a content person does.
# Usage: scripts/bench.sh [--peer-only] [peer benchmark options, e.g. --mb=250]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
peer_only=0
if [ "${1:-}" = "--peer-only" ]; then
  peer_only=1
  shift
fi
bash scripts/deps.sh linux bench
dir=build/bench
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKORVO_BUILD_BENCH=ON -DKORVO_BUILD_TESTS=OFF \
  -DKORVO_BUILD_TOOLS=ON -DKORVO_BUILD_EXAMPLES=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"

peer="$dir/bench/korvo_bench_peer_bench"
echo "== Peer benchmark"
"$peer" --data="$dir/peer-data" --markdown="$dir/peer_bench.md" "$@"
echo "(table written to $dir/peer_bench.md)"
[ "$peer_only" -eq 1 ] && exit 0
for program in "$dir"/bench/korvo_bench_*; do
  [ "$program" = "$peer" ] && continue
  echo "== $(basename "$program")"
  "$program"
done

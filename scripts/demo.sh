#!/usr/bin/env bash
# The demo: builds the library, the korvo tool and the C host, generates a small sample
# (animated sprites, UI images and text files), turns the pictures into tiled images with
# `korvo png2img`, packs them with `korvo pack`, and runs the host. The host loads the library
# at run time, which mounts the package named in package.cfg beside the host; the host mounts
# a second package with AddPackage, then loads every image by name (package first, disk second), writes each as PNG under out/ and
# prints a table of what it loaded.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/deps.sh linux tool

build=build/demo
echo "== Building (Release, $build)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKORVO_BUILD_TESTS=OFF \
  -DKORVO_BUILD_BENCH=OFF -DKORVO_BUILD_TOOLS=ON -DKORVO_BUILD_EXAMPLES=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target korvo korvo_host korvo_demo_sample

korvo="$root/$build/tools/korvo/korvo"
host="$root/$build/examples/host/korvo_host"
game=$(dirname "$host")
work="$root/demo-work"
out="$root/out"

echo "== Generating the sample in demo-work/"
rm -rf "$work" "$out"
mkdir -p "$work" "$out"
"$build/examples/demo/korvo_demo_sample" "$work"

echo "== Converting the pictures with korvo png2img"
names=()
while read -r where name format tile frames; do
  [ -n "$where" ] || continue
  target="$work/$where/$name"
  mkdir -p "$(dirname "$target")"
  tile_option=()
  [ "$tile" = "-" ] || tile_option=(--tile "$tile")
  # shellcheck disable=SC2086  # frames is a list of paths without blanks
  "$korvo" png2img $frames -o "$target" --format "$format" "${tile_option[@]}"
  names+=("$name")
done <"$work/manifest.txt"

echo "== Packing demo-work/pak into sample.pak beside the host"
"$korvo" pack -C "$work/pak" "$game/sample.pak" data
"$korvo" verify "$game/sample.pak"
"$korvo" list "$game/sample.pak"
echo "-- data/text/readme.txt from the package:"
"$korvo" cat "$game/sample.pak" data/text/readme.txt
echo "== Packing demo-work/extra into extra.pak (mounted by the host with AddPackage)"
"$korvo" pack -C "$work/extra" "$game/extra.pak" data

echo "== Writing package.cfg beside the host"
printf 'sample.pak\n' >"$game/package.cfg"

echo "== Running the host (images not in the package are read from demo-work/disk)"
cd "$work/disk"
"$host" -p "$game/extra.pak" -o "$out" -t data/text/readme.txt -e data/ -j 2 "${names[@]}"
echo
echo "PNG files written to out/:"
ls "$out"

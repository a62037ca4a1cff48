#!/usr/bin/env bash
# Makes the demo's sample package (the demo's own steps: the sample generator, korvo png2img on
# its manifest, korvo pack) and runs the browser test of korvo view on it.
# Usage: tests/browser/run.sh <korvo> <korvo_demo_sample> <artifact-dir>
# Exit 77 (skipped) when node, chromium or the npm packages (npm ci) are missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
korvo=$1 sample=$2 artifacts=$3
if ! command -v node >/dev/null || [ ! -x "${CHROMIUM:-/usr/bin/chromium}" ] ||
  [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "browser test skipped: needs node, chromium and 'npm ci' in $here" >&2
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sample" "$work" >/dev/null
while read -r where name format tile frames; do
  [ -n "$where" ] || continue
  tile_option=()
  [ "$tile" = "-" ] || tile_option=(--tile "$tile")
  mkdir -p "$(dirname "$work/$where/$name")"
  # shellcheck disable=SC2086  # frames is a list of paths without blanks
  "$korvo" png2img -q $frames -o "$work/$where/$name" --format "$format" "${tile_option[@]}"
done <"$work/manifest.txt"
"$korvo" pack -q -C "$work/pak" "$work/sample.pak" data
cd "$work"
node "$here/view.test.js" "$korvo" sample.pak "$artifacts"

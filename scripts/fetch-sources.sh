#!/usr/bin/env bash
# Fetches Debian source packages and unpacks each into DIR/NAME, for the libraries that the
# Windows build compiles itself with the MinGW-w64 toolchain (Debian ships them for Linux only).
# Usage: scripts/fetch-sources.sh [--dir DIR] NAME...
#   DIR defaults to $KORVO_THIRD_PARTY_SRC, else build/third_party-src in the source tree.
# A package already unpacked there is left as it is (delete DIR/NAME to fetch it again). When apt
# has no source entries yet, a deb-src entry for this machine's Debian suite is added first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${KORVO_THIRD_PARTY_SRC:-$root/build/third_party-src}
if [ "${1:-}" = "--dir" ]; then
  dir=$2
  shift 2
fi
if [ $# -eq 0 ]; then
  echo "usage: scripts/fetch-sources.sh [--dir DIR] NAME..." >&2
  exit 2
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

# apt-get source needs dpkg-dev (dpkg-source) besides apt.
if ! command -v dpkg-source >/dev/null; then
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    dpkg-dev
fi

# Adds a deb-src entry for the suite and mirror this machine already uses, then refreshes the
# index, when apt knows no source package of that name yet.
ensure_source_index() {
  local name=$1
  if apt-cache showsrc "$name" 2>/dev/null | grep -q '^Package:'; then
    return 0
  fi
  local suite uri list=/etc/apt/sources.list.d/korvo-deb-src.sources
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$suite" ] || suite=bookworm
  uri=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)\/\?$/\1/p' \
    /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n1)
  if [ -z "$uri" ]; then
    uri=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\/debian\)\/\?[[:space:]].*/\2/p' \
      /etc/apt/sources.list 2>/dev/null | head -n1)
  fi
  [ -n "$uri" ] || uri=http://deb.debian.org/debian
  if [ ! -e "$list" ]; then
    echo "Adding a deb-src entry for $suite ($uri) in $list"
    printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: %s\n' \
      "$uri" "$suite" "$suite" /usr/share/keyrings/debian-archive-keyring.gpg |
      "${sudo_cmd[@]}" tee "$list" >/dev/null
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  if ! apt-cache showsrc "$name" 2>/dev/null | grep -q '^Package:'; then
    echo "fetch-sources: apt knows no source package '$name' (checked $list)" >&2
    return 1
  fi
}

for name in "$@"; do
  target="$dir/$name"
  if [ -f "$target/.korvo-unpacked" ]; then
    continue
  fi
  ensure_source_index "$name"
  downloads="$dir/downloads/$name"
  mkdir -p "$downloads"
  # The download runs as the calling user inside the cache (apt's sandbox user cannot write to it).
  (cd "$downloads" && apt-get source --download-only -qq "$name" 2>&1 |
    grep -v 'unsandboxed as root' || true)
  dsc=$(ls -t "$downloads"/"$name"_*.dsc 2>/dev/null | head -n1)
  if [ -z "$dsc" ]; then
    echo "fetch-sources: apt-get source --download-only $name left no .dsc in $downloads" >&2
    exit 1
  fi
  rm -rf "$target" "$target.tmp"
  dpkg-source --no-check -x "$dsc" "$target.tmp" >/dev/null
  # dpkg-source leaves a copy of the upstream tarball beside the tree; the download cache has it.
  find "$dir" -maxdepth 1 ! -type d -name "${name}_*" -delete
  basename "$dsc" .dsc >"$target.tmp/.korvo-unpacked"
  mv "$target.tmp" "$target"
  echo "fetch-sources: $(cat "$target/.korvo-unpacked") unpacked in $target"
done

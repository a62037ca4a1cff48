#!/usr/bin/env bash
# Installs the Debian packages that the build needs, when they are missing.
# Usage: scripts/deps.sh [linux] [windows] [tool] [view] [fuzz] [bench]
#   view: what the browser test of korvo view runs on (Debian's chromium, node and npm).
set -euo pipefail
want=(cmake make g++ zlib1g-dev libgtest-dev libbenchmark-dev pkg-config clang-format)
for group in "$@"; do
  case "$group" in
    linux) want+=(libdeflate-dev) ;;
    tool) want+=(libcli11-dev libspng-dev nlohmann-json3-dev libcpp-httplib-dev) ;;
    view)
      want+=(chromium nodejs)
      # Node.js builds that bundle npm conflict with Debian's npm package: only when missing.
      command -v npm >/dev/null 2>&1 || want+=(npm)
      ;;
    bench) want+=(libphysfs-dev libzip-dev libdeflate-dev libbenchmark-dev) ;;
    fuzz) want+=(clang-14 libclang-rt-14-dev) ;;
    windows) want+=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine dpkg-dev) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done
missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi

#!/usr/bin/env bash
# Cross-builds KorvoLoader.dll, korvo.exe and the test suite with MinGW-w64 and runs the suite
# under Wine; then runs the tool tests, built for this machine, against korvo.exe under Wine.
# Usage: scripts/test-windows.sh [build-dir]   (default build/win; extra CMake options in
# KORVO_WIN_CMAKE_OPTIONS). Installs the MinGW-w64 and Wine packages when they are missing, and
# fetches the Debian source packages that the Windows build compiles (scripts/fetch-sources.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh linux windows tool
# libdeflate, libspng and cpp-httplib have no MinGW build in Debian: the build compiles their
# source packages.
bash scripts/fetch-sources.sh libdeflate libspng cpp-httplib
dir=${1:-build/win}
jobs=$(nproc)

# A Wine prefix of its own inside the build tree, no debug channels, no display (headless), and
# no prompts to install Mono or Gecko, which the tests do not need.
mkdir -p "$dir"
dir_path=$(cd "$dir" && pwd)
export WINEPREFIX="$dir_path/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# One persistent server for the whole run: without it every test program start waits on a new
# server. It is stopped on every way out. (-p fails when a server already runs for this prefix;
# that one serves as well.)
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 || true
if ! wineboot -i >"$dir_path/wineboot.log" 2>&1; then
  cat "$dir_path/wineboot.log" >&2
  echo "wineboot -i failed: cannot prepare the Wine prefix $WINEPREFIX" >&2
  exit 1
fi

# shellcheck disable=SC2086
cmake --no-warn-unused-cli -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_BUILD_BENCH=OFF -DKORVO_BUILD_EXAMPLES=ON \
  ${KORVO_WIN_CMAKE_OPTIONS:-} >/dev/null
cmake --build "$dir" -j "$jobs"

# The DLL and the tool must import system DLLs only; the DLL must export the plain names.
objdump=x86_64-w64-mingw32-objdump
dll="$dir/KorvoLoader.dll"
exe="$dir/tools/korvo/korvo.exe"
system_imports_only() {
  local file=$1 name
  for name in $("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    case "${name,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll | ws2_32.dll | api-ms-win-*) ;;
      *) echo "$(basename "$file") imports a non-system DLL: $name" >&2; exit 1 ;;
    esac
  done
  echo "$(basename "$file") imports: $("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | xargs)"
}
system_imports_only "$dll"
system_imports_only "$exe"
exports=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
for name in AddPackage LoadImgFile SaveImgFile FreeImgFile LoadResFile FreeResFile StatResFile EnumResFiles EnumResSources GetKorvoLoaderVersion \
  ReloadPackages RemovePackage SetReloadCallback KorvoWatchPackages; do
  grep -qx "$name" <<<"$exports" || { echo "KorvoLoader.dll does not export $name" >&2; exit 1; }
done
echo "KorvoLoader.dll exports: $(echo $exports)"

# A hung test program must not hold the run: each test gets at most 5 minutes.
(cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)

# The C host example as a Windows game runs it, on the demo's sample: korvo.exe converts the
# pictures and packs them; korvo_host.exe loads KorvoLoader.dll beside it, which mounts the
# package that package.cfg there names; the host mounts a second one with AddPackage and loads
# every image by name (package first, then the disk). It exits 1 if anything failed to load.
wine=$(command -v wine || command -v wine64)
game="$dir_path/examples/host"
demo="$dir_path/demo-work"
rm -rf "$demo"
mkdir -p "$demo/out"
"$wine" "$dir_path/examples/demo/korvo_demo_sample.exe" "$demo" >/dev/null
names=()
while read -r where name format tile frames; do
  [ -n "$where" ] || continue
  tile_option=()
  [ "$tile" = "-" ] || tile_option=(--tile "$tile")
  mkdir -p "$(dirname "$demo/$where/$name")"
  # shellcheck disable=SC2086  # frames is a list of paths without blanks
  "$wine" "$exe" png2img -q $frames -o "$demo/$where/$name" --format "$format" "${tile_option[@]}"
  names+=("$name")
done < <(tr -d '\r' <"$demo/manifest.txt")
"$wine" "$exe" pack -q -C "$demo/pak" "$game/sample.pak" data
"$wine" "$exe" pack -q -C "$demo/extra" "$game/extra.pak" data
printf 'sample.pak\n' >"$game/package.cfg"
(cd "$demo/disk" && "$wine" "$game/korvo_host.exe" -p "$game/extra.pak" -o "$demo/out" \
  -t data/text/readme.txt -e data/ -j 2 "${names[@]}")
written=$(find "$demo/out" -name '*.png' | wc -l)
if [ "$written" -ne "${#names[@]}" ]; then
  echo "korvo_host.exe wrote $written PNG files for ${#names[@]} images" >&2
  exit 1
fi
echo "korvo_host.exe loaded the demo's ${#names[@]} images through KorvoLoader.dll"

# The tool tests are shell-driven (they run korvo as a user does), so they are built for this
# machine and start korvo.exe through a wrapper that runs it under Wine, with the Windows-only
# cases added. Only the test program is built here, not a Linux korvo.
host="$dir/tool-host"
# shellcheck disable=SC2086
cmake --no-warn-unused-cli -S . -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVO_BUILD_BENCH=OFF -DKORVO_BUILD_TOOLS=OFF -DKORVO_BUILD_EXAMPLES=OFF \
  -DKORVO_TOOL_UNDER_TEST="$dir_path/tools/korvo/korvo.exe" ${KORVO_HOST_CMAKE_OPTIONS:-} >/dev/null
cmake --build "$host" -j "$jobs" --target korvo_tool_tests
(cd "$host" && ctest --output-on-failure -j "$jobs" --timeout 300 -R '^tool[.]')

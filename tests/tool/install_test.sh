#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, checks what was installed, and builds a small
# consumer against it twice: through find_package(KorvoLoader) and through pkg-config.
# Usage: install_test.sh <build-dir> <consumer-source-dir> <c-compiler> <extra-c-flags> [config]
set -euo pipefail
build=$1
consumer=$2
cc=$3
flags=$4
config=${5:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"

fail() {
  echo "install test: $*" >&2
  exit 1
}

config_option=()
[ -z "$config" ] || config_option=(--config "$config")
cmake --install "$build" --prefix "$prefix" "${config_option[@]}" >"$tmp/install.log" ||
  fail "cmake --install failed: $(cat "$tmp/install.log")"

libdir=$(dirname "$(find "$prefix" -name 'libKorvoLoader.so' | head -n 1)")
[ -n "$libdir" ] && [ -L "$libdir/libKorvoLoader.so" ] || fail "libKorvoLoader.so link missing"
[ -L "$libdir/libKorvoLoader.so.1" ] || fail "libKorvoLoader.so.1 link missing"
[ -f "$libdir/libKorvoLoader.so.1.0.0" ] || fail "libKorvoLoader.so.1.0.0 missing"
soname=$(readelf -d "$libdir/libKorvoLoader.so.1.0.0" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libKorvoLoader.so.1" ] || fail "SONAME is '$soname'"
[ -f "$prefix/include/KorvoLoader.h" ] || fail "header missing"
[ -f "$libdir/cmake/KorvoLoader/KorvoLoaderConfig.cmake" ] || fail "CMake package missing"
[ -f "$libdir/pkgconfig/korvoloader.pc" ] || fail "korvoloader.pc missing"
[ -x "$prefix/bin/korvo" ] || fail "korvo tool missing"
"$prefix/bin/korvo" --help >/dev/null || fail "installed korvo --help failed"

# find_package
cmake -S "$consumer" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
  >"$tmp/configure.log" 2>&1 || fail "consumer configure failed: $(cat "$tmp/configure.log")"
cmake --build "$tmp/cmake-build" >"$tmp/build.log" 2>&1 ||
  fail "consumer build failed: $(cat "$tmp/build.log")"
out=$("$tmp/cmake-build/consumer") || fail "find_package consumer failed"
[ "$out" = "consumer ok" ] || fail "find_package consumer printed '$out'"

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion korvoloader)" = "1.0.0" ] || fail "pkg-config version"
# shellcheck disable=SC2046,SC2086
"$cc" $flags "$consumer/consumer.c" -o "$tmp/pc-consumer" $(pkg-config --cflags --libs korvoloader) ||
  fail "pkg-config consumer build failed"
out=$(LD_LIBRARY_PATH="$libdir" "$tmp/pc-consumer") || fail "pkg-config consumer failed"
[ "$out" = "consumer ok" ] || fail "pkg-config consumer printed '$out'"
echo "install test: ok ($prefix)"

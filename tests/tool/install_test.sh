#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, checks the library's links and SONAME, and
# builds a consumer against it through find_package(KorvoLoader) and through pkg-config.
# Usage: install_test.sh <build-dir> <consumer-source-dir> <c-compiler> <extra-c-flags> [config]
set -euo pipefail
build=$1 consumer=$2 cc=$3 flags=$4 config=${5:-} tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }
run() { "$@" >"$tmp/log" 2>&1 || fail "$* failed: $(cat "$tmp/log")"; }
ok() { [ "$("$@")" = "consumer ok" ] || fail "$* did not print 'consumer ok'"; }
run cmake --install "$build" --prefix "$tmp/prefix" ${config:+--config "$config"}
lib=$(find "$tmp/prefix" -name libKorvoLoader.so.1.0.0) libdir=$(dirname "$lib")
for link in so so.1; do [ -L "$libdir/libKorvoLoader.$link" ] || fail "no libKorvoLoader.$link"; done
readelf -d "$lib" | grep -q 'SONAME.*\[libKorvoLoader\.so\.1\]' || fail "SONAME is not .so.1"
run "$tmp/prefix/bin/korvo" --help
run cmake -S "$consumer" -B "$tmp/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
run cmake --build "$tmp/build"
ok "$tmp/build/consumer"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion korvoloader)" = 1.0.0 ] || fail "pkg-config version"
# shellcheck disable=SC2046,SC2086
run "$cc" $flags "$consumer/consumer.c" -o "$tmp/pc" $(pkg-config --cflags --libs korvoloader)
ok env LD_LIBRARY_PATH="$libdir" "$tmp/pc"

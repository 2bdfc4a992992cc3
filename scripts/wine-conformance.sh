#!/usr/bin/env bash
# Builds the registry conformance program for Windows with mingw-w64 and runs it under Wine, in a
# throw-away Wine prefix, against Wine's advapi32. The same program runs against the embedded store
# in the ordinary test suite (registry.conformance); both must pass the same checks.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/wine
mkdir -p "$out"
x86_64-w64-mingw32-g++ -std=c++20 -O1 -static -Wall -Wextra -Wconversion -Wno-sign-conversion -Werror \
  -Isrc tests/registry/conformance.cpp src/registry/win32/advapi.cpp \
  -o "$out/registry_conformance.exe" -ladvapi32

prefix=$(mktemp -d)
cleanup() {
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
# The first run in a new prefix sets it up (several seconds); Wine's own messages go to a log.
WINEPREFIX="$prefix" WINEDEBUG=-all timeout 600 /usr/lib/wine/wine64 "$out/registry_conformance.exe" \
  2>"$out/wine.log" || { tail -20 "$out/wine.log"; exit 1; }

#!/usr/bin/env bash
# Sets up a fresh Debian machine and passes every test: the debug build's tests, the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, the library's tests in the 32-bit build,
# the 64-bit Windows build's tests under Wine (against Wine's registry, syskit.dll driven by a
# VBScript), the 32-bit Windows build,
# a short run of every fuzzer, the optimised build (with the benchmarks), and an
# installed-package check. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all

jobs=$(nproc)
step() { printf '\n=== %s\n' "$*"; }

step "debug build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$jobs"
ctest --preset dev -j "$jobs"

step "sanitizer build and tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"


step "32-bit build and tests"
cmake --preset i386 >/dev/null
cmake --build --preset i386 -j "$jobs"
ctest --preset i386 -j "$jobs"

# Windows programs run under Wine in a throw-away prefix, removed when the script ends. The runs
# that Wine failed to start and that were started again are listed then, pass or fail.
export SYSKIT_WINEPREFIX SYSKIT_WINE_RETRY_LOG
SYSKIT_WINEPREFIX=$(mktemp -d)
SYSKIT_WINE_RETRY_LOG=$SYSKIT_WINEPREFIX.retries
wine_done() {
  WINEPREFIX="$SYSKIT_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
  if [[ -s $SYSKIT_WINE_RETRY_LOG ]]; then
    echo "Wine failed to start these runs at first (scripts/wine-run.sh started them again):"
    cat "$SYSKIT_WINE_RETRY_LOG"
  fi
  rm -rf "$SYSKIT_WINEPREFIX" "$SYSKIT_WINE_RETRY_LOG"
}
trap wine_done EXIT

step "64-bit Windows build and tests under Wine"
cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 -j "$jobs"
ctest --preset mingw64 -j "$jobs"

step "32-bit Windows build"
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$jobs"
# Debian's 32-bit Wine (wine32) needs the i386 architecture, which this project does not add.
if [[ -x /usr/lib/wine/wine ]]; then
  SYSKIT_WINE=/usr/lib/wine/wine ctest --preset mingw32 -j "$jobs"
else
  echo "mingw32: built; its tests were NOT run: this machine has no 32-bit Wine (Debian wine32)"
fi

step "fuzzers"
scripts/fuzz.sh "${SYSKIT_FUZZ_SECONDS:-30}"

step "release build and installed package"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
scripts/check-package.sh build/release

echo
echo "all tests passed"

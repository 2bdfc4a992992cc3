#!/usr/bin/env bash
# Sets up a fresh Debian machine and passes every test: the debug build's tests, the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, the registry conformance program against
# Wine's registry, the library's tests in the 32-bit build,
# a short run of every fuzzer, the optimised build (with the benchmarks), and an
# installed-package check. Warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

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

step "registry conformance under Wine"
scripts/wine-conformance.sh

step "32-bit build and tests"
cmake --preset i386 >/dev/null
cmake --build --preset i386 -j "$jobs"
ctest --preset i386 -j "$jobs"

step "fuzzers"
scripts/fuzz.sh "${SYSKIT_FUZZ_SECONDS:-30}"

step "release build and installed package"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
scripts/check-package.sh build/release

echo
echo "all tests passed"

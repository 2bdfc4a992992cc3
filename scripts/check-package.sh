#!/usr/bin/env bash
# Installs a build into a scratch prefix and builds a small program against it twice: through
# find_package(syskit CONFIG) and through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" >/dev/null

cmake -S tests/package -B "$prefix/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix/usr" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
"$prefix/consumer/consumer"

PKG_CONFIG_PATH="$prefix/usr/lib/pkgconfig:$prefix/usr/lib/$(gcc -dumpmachine)/pkgconfig" \
  sh -c 'c++ -std=c++20 tests/package/consumer.cpp $(pkg-config --cflags --libs syskit) -o "$1"' sh "$prefix/pc-consumer"
"$prefix/pc-consumer"
echo "package: find_package and pkg-config consumers built and ran"

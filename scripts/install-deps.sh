#!/usr/bin/env bash
# Installs the Debian packages syskit needs. Profiles: `tool` (what building the library and the
# `syskit` tool needs: scripts/run.sh) and `all` (the default: also every test, the benchmarks,
# the fuzzers, the 32-bit and Windows builds, and the locale the Windows tests run in).
# Idempotent: when everything is present it only checks and returns. Runs as root, or through
# sudo otherwise.
# Usage: scripts/install-deps.sh [tool|all]
set -euo pipefail

profile=${1:-all}
tool_packages=(
  cmake ninja-build g++ pkg-config          # build
  libsqlite3-dev                            # the embedded registry store
  libcli11-dev libfmt-dev nlohmann-json3-dev  # command-line tool (options, messages, JSON output)
)
test_packages=(
  clang libclang-rt-14-dev                  # libFuzzer targets and their sanitizer runtime
  libgtest-dev libgmock-dev                 # unit tests
  libbenchmark-dev libssl-dev zlib1g-dev    # benchmarks and the peers they are measured against
  gcc-multilib g++-multilib googletest      # the 32-bit x86 build (i386 preset), GoogleTest from source
  qemu-user                                 # runs its tests where the kernel cannot run 32-bit programs
  g++-mingw-w64-x86-64 g++-mingw-w64-i686   # the Windows builds (mingw64, mingw32 presets)
  wine64                                    # runs the 64-bit Windows tests, cscript and regsvr32
  mingw-w64-tools libwine-dev               # widl and the platform's IDL files: syskit.dll's type library
  bsdutils                                  # `script`: runs the tool on a pseudo-terminal in tests
  locales                                   # the Russian locale: Wine with the ANSI code page 1251
  gcovr                                     # coverage per component (scripts/coverage.sh)
)
case $profile in
  tool) packages=("${tool_packages[@]}") ;;
  all) packages=("${tool_packages[@]}" "${test_packages[@]}") ;;
  *) echo "install-deps: unknown profile '$profile' (tool or all)" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

# Wine picks its ANSI code page from the locale it starts in; the Windows tests of code page 1251
# start it in this one.
locale_missing=false
if [[ $profile == all ]]; then
  locale -a 2>/dev/null | grep -qix 'ru_RU.utf8' || locale_missing=true
fi

if ((${#missing[@]} == 0)) && ! $locale_missing; then
  exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install ${missing[*]} and make the ru_RU.UTF-8 locale" >&2; exit 1; }
  sudo=(sudo)
fi
if ((${#missing[@]} > 0)); then
  echo "install-deps: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if $locale_missing; then
  echo "install-deps: making the locale ru_RU.UTF-8" >&2
  "${sudo[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

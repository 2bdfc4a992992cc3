#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and fuzzing syskit needs.
# Idempotent: when everything is present it only checks and returns. Runs as root, or through
# sudo otherwise.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config          # build
  clang libclang-rt-14-dev                  # libFuzzer targets and their sanitizer runtime
  libgtest-dev libgmock-dev                 # unit tests
  libbenchmark-dev libssl-dev zlib1g-dev    # benchmarks and the peers they are measured against
  libsqlite3-dev                            # the embedded registry store
  libcli11-dev libfmt-dev nlohmann-json3-dev  # command-line tool (options, messages, JSON output)
  gcc-multilib g++-multilib googletest      # the 32-bit x86 build (i386 preset), GoogleTest from source
  qemu-user                                 # runs its tests where the kernel cannot run 32-bit programs
  g++-mingw-w64-x86-64 g++-mingw-w64-i686   # the Windows builds (mingw64, mingw32 presets)
  wine64                                    # runs the 64-bit Windows tests, cscript and regsvr32
  mingw-w64-tools libwine-dev               # widl and the platform's IDL files: syskit.dll's type library
  bsdutils                                  # `script`: runs the tool on a pseudo-terminal in tests
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

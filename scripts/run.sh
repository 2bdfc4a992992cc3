#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the optimised tool and runs the main job: a sample text is
# encoded under two keys and decoded again, and all three are printed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh tool
cmake --preset tool >/dev/null
cmake --build --preset tool >/dev/null
syskit=build/tool/tools/syskit/syskit

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/sample.txt" <<'TEXT'
Dear colleague,
the quarterly figures are attached: revenue €1.2M, costs €0.9M — a margin of 25 %.
Please keep them confidential until Friday's meeting in Zürich.
TEXT
printf 'correct horse battery staple\n' >"$work/key1"

echo "--- text"
cat "$work/sample.txt"
"$syskit" encode --key1-file "$work/key1" --key2 "second key" -i "$work/sample.txt" -o "$work/sample.enc"
echo "--- encoded (Base64 lines of 60 characters, CR LF)"
tr -d '\r' <"$work/sample.enc"
echo
echo "--- decoded"
"$syskit" decode --key1-file "$work/key1" --key2 "second key" -i "$work/sample.enc"

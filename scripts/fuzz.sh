#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one for a while (default 30 s) from its seed corpus.
# A crash, a sanitizer report or a hang fails the run and leaves the input under build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/artifacts
for target in huff_decode decode_string decode_str64 cpu_dump regedit4_import reg_file; do
  mkdir -p "$work/$target"
  cp fuzz/corpus/$target/* "$work/$target/"
  # The editor's .reg files of the registry tests seed its reader too.
  [[ $target != reg_file ]] || cp tests/registry/data/* "$work/$target/"
  echo "fuzz: $target for ${seconds}s"
  build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=30000 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=0 -artifact_prefix="build/fuzz/artifacts/$target-" \
    "$work/$target" 2>"$work/$target.log" || { tail -40 "$work/$target.log"; exit 1; }
  grep -E '^(Done|#[0-9]+.*DONE)' "$work/$target.log" | tail -1 || true
done

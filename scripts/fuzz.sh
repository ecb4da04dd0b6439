#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
shopt -s nullglob
for t in build/fuzz/fuzz/fuzz_*; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzz: $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -print_final_stats=0 "$work" 2>&1 | tail -n 3
  rm -rf "$work"
  trap - EXIT
done

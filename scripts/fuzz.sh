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
  # The targets print what the program prints; show it only when the fuzzer found something.
  if ! "$t" -max_total_time="$seconds" "$work" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "fuzz: $name FAILED"
    exit 1
  fi
  grep -a '^Done' "$work.log" || true
  rm -rf "$work" "$work.log"
  trap - EXIT
done

#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the dev preset (ASan+UBSan, warnings as
# errors) and runs every test; then runs each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

preset="${HDEXT_TEST_PRESET:-ci}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"

if [ "${HDEXT_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh "${HDEXT_FUZZ_SECONDS:-20}"
fi

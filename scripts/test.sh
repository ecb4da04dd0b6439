#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds the ci preset (ASan+UBSan, warnings as
# errors) and runs every test; then builds the tsan preset and runs the unit and e2e tests
# under ThreadSanitizer; then the arm64 cross build and its unit tests under emulation; then
# runs each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs="${HDEXT_TEST_JOBS:-2}"
step() { echo "== $1 ($(date -u +%H:%M:%S))"; }

preset="${HDEXT_TEST_PRESET:-ci}"
step "build $preset"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
step "test $preset"
ctest --preset "$preset" -j "$jobs"

if [ "${HDEXT_SKIP_TSAN:-0}" != 1 ] && [ "$preset" != tsan ]; then
  # The preset loads tsan.supp (uninstrumented FFmpeg, GLib, GStreamer).
  step "build tsan"
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j "$(nproc)"
  step "test tsan (unit)"
  ctest --preset tsan -L unit -j "$jobs"
  if [ "${HDEXT_SKIP_TSAN_E2E:-0}" != 1 ] && [ "$preset" = ci ]; then
    # The units' programs of the tsan build in worlds made by the ci build's board tool (a
    # sanitizer thread in the tool's forked children keeps them out of a unit's namespaces).
    # The units outlive their test's output, so their reports go to files, and any file fails.
    step "test tsan (e2e)"
    reports="$PWD/build/tsan/e2e-reports"
    rm -rf "$reports" && mkdir -p "$reports"
    HDEXT_BOARD_TOOL="$PWD/build/ci/sim/board/hdext-board" G_SLICE=always-malloc \
      TSAN_OPTIONS="suppressions=$PWD/tsan.supp second_deadlock_stack=1 log_path=$reports/report" \
      ctest --test-dir build/tsan -L e2e -j "$jobs" --output-on-failure --timeout 900
    if [ -n "$(ls -A "$reports")" ]; then
      head -n 60 "$reports"/*
      echo "ThreadSanitizer reported from the e2e tests' programs (files in $reports)"
      exit 1
    fi
  fi
fi

if [ "${HDEXT_SKIP_ARM64:-0}" != 1 ] && [ "$preset" != arm64 ]; then
  # The units' CPU: the cross build without RTSP, its unit tests under qemu user-mode
  # emulation (the preset leaves out the label realtime).
  step "build arm64"
  cmake --preset arm64 >/dev/null
  cmake --build --preset arm64 -j "$(nproc)"
  step "test arm64 (unit, emulated)"
  ctest --preset arm64 -j "$jobs"
fi

if [ "${HDEXT_SKIP_FUZZ:-0}" != 1 ]; then
  step "fuzz"
  bash scripts/fuzz.sh "${HDEXT_FUZZ_SECONDS:-20}"
fi
step done

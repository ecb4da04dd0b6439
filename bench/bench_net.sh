#!/usr/bin/env bash
# Wireless link figures in the simulated air (root): seconds from a paired RX's start to its
# lease being applied, and from a pairing request on both units to the RX being linked again,
# each printed with the fixed waits that lie on that path (most of the time is those waits).
# Runs the two end-to-end cases RUNS times (default 3) on an existing build.
#   HDEXT_BENCH_BUILD_DIR  build directory (default build/ci)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${HDEXT_BENCH_BUILD_DIR:-build/ci}"
runs="${RUNS:-3}"
cmake --build "$build" -j2 --target hdext hdext-board net_unit_driver test_e2e_wireless >/dev/null
for i in $(seq "$runs"); do
  "$build/tests/e2e/wireless/test_e2e_wireless" \
    --gtest_filter='Air.PairedReceiverJoins*:Air.PairingOnBothUnitsLinksTheReceiver' |
    grep '^figure:' || { echo "run $i failed"; exit 1; }
done

#!/usr/bin/env bash
# The main job: a simulated kit in the simulated air (root: network, PID and mount namespaces).
# Builds the programs, brings up a world of one TX and three RX, starts the TX, pairs each RX with
# it (`world pair`: the TX's network in its settings), starts the RX units and plugs a 1080p60
# HDMI source with 48 kHz audio into the TX. `hdext-board world report` then waits until every RX shows video (a line a
# second), lets the kit stream for its seconds from then on, prints a table per unit (time to
# link and to the first picture, frames shown against frames captured, gaps, glass-to-glass
# latency and its stages, CPU share and RSS) and writes report.html beside the pictures. The
# exit status is 1 when a receiver never showed video or a program ended. The world is taken
# down at the end (also on any error or interruption).
#   --panel [--port P]   afterwards, keep the world up and serve its browser front panel on
#                        127.0.0.1:P (default 8470) until Ctrl-C
#   HDEXT_KIT_SECONDS    how long the kit streams once every RX shows video (default 20)
#   HDEXT_KIT_DEADLINE   how long an RX may take to show video before it has failed (default 120)
#   HDEXT_KIT_SOURCE     the HDMI source plugged into the TX (default "1920x1080p60 audio=48000")
#   HDEXT_KIT_RX         number of RX units, 1 to 3 (default 3)
#   HDEXT_KIT_PRESET     build preset (default release)
#   HDEXT_KIT_BUILD_DIR  build directory (default build/<preset>)
#   HDEXT_KIT_KEEP=1     leave the world up and running (logs, board roots) and print where it is
set -euo pipefail
cd "$(dirname "$0")/.."

panel=0
port=8470
while [ $# -gt 0 ]; do
  case "$1" in
    --panel) panel=1 ;;
    --port) port="${2:?--port needs a number}"; shift ;;
    *) echo "usage: run-kit.sh [--panel [--port P]]" >&2; exit 2 ;;
  esac
  shift
done
seconds="${HDEXT_KIT_SECONDS:-20}"
deadline="${HDEXT_KIT_DEADLINE:-120}"
source="${HDEXT_KIT_SOURCE:-1920x1080p60 audio=48000}"
rx_count="${HDEXT_KIT_RX:-3}"
preset="${HDEXT_KIT_PRESET:-release}"
build="${HDEXT_KIT_BUILD_DIR:-build/$preset}"

if [ "$(id -u)" != 0 ]; then
  echo "run-kit.sh: the simulated air needs root (network, PID and mount namespaces)" >&2
  exit 1
fi

bash scripts/install-deps.sh
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target hdext hdext-board

board="$build/sim/board/hdext-board"
name="kit$$"
out=$(mktemp -d /tmp/hdext-kit-out-XXXXXX)
cleanup() {
  if [ "${HDEXT_KIT_KEEP:-0}" != 1 ]; then "$board" world down "$name" >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

owner=(--owner $$)
[ "${HDEXT_KIT_KEEP:-0}" = 1 ] && owner=()
dir=$("$board" world up "$name" --rx "$rx_count" "${owner[@]}")
units=(tx)
for i in $(seq 1 "$rx_count"); do units+=("rx$i"); done
echo "world $name: units ${units[*]} in $dir"

start_unit() { # in the background inside the unit, its output in $dir/UNIT.log
  "$board" world start "$name" "$1" -- "$build/src/hdext" >/dev/null
}

start_unit tx
echo "waiting for the TX's access point ..."
for u in "${units[@]:1}"; do
  "$board" world pair "$name" "$u" || { tail -20 "$dir/tx.log"; exit 1; }
  start_unit "$u"
done
echo "plugging HDMI source into the TX: $source"
"$board" hdmi --root "$dir/tx" $source
status=0
"$board" world report "$name" --seconds "$seconds" --deadline "$deadline" --out "$out" || status=$?
if [ "${HDEXT_KIT_KEEP:-0}" = 1 ]; then echo "logs and board roots kept in $dir (take it down: $board world down $name)"; fi
if [ "$panel" = 1 ]; then
  echo "front panel of world $name (Ctrl-C takes the kit down):"
  "$board" world panel "$name" --port "$port" || true
fi
exit "$status"

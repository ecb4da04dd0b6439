#!/usr/bin/env bash
# The main job: a simulated kit in the simulated air (root: network, PID and mount namespaces).
# Builds the programs, brings up a world of one TX and three RX, starts the TX, gives each RX the
# TX's network (as after pairing), starts the RX units, plugs a 1080p60 HDMI source with 48 kHz
# audio into the TX and lets the kit stream. Then it prints, per RX, the frames shown on its HDMI
# output, the gaps, the glass-to-glass latency p50/p99 and where its HDMI snapshot and OLED
# picture were saved, and takes the world down (also on any error or interruption).
#   HDEXT_KIT_SECONDS    how long the kit streams (default 20)
#   HDEXT_KIT_SOURCE     the HDMI source plugged into the TX (default "1920x1080p60 audio=48000")
#   HDEXT_KIT_RX         number of RX units, 1 to 3 (default 3)
#   HDEXT_KIT_PRESET     build preset (default release)
#   HDEXT_KIT_BUILD_DIR  build directory (default build/<preset>)
#   HDEXT_KIT_KEEP=1     leave the world up (logs, board roots) and print where it is
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${HDEXT_KIT_SECONDS:-20}"
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
pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
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

# Each log line carries the seconds since its unit started.
start_unit() {
  "$board" world run "$name" "$1" -- "$(realpath "$build/src/hdext")" \
    > >(perl -MTime::HiRes=time -ne 'BEGIN { $| = 1; $t0 = time } printf "[%8.3f] %s", time - $t0, $_' >"$dir/$1.log" 2>&1) 2>&1 &
  pids+=($!)
}
# Seconds into a unit's log of the first line holding the text ("-" when none).
at() { grep -a -m1 -F "$2" "$dir/$1.log" | sed -n 's/^\[ *\([0-9.]*\)\].*/\1/p' | grep . || echo -; }
ssid() { sed -n 's/^ssid=//p' "$dir/tx/userdata/wifi.ini" 2>/dev/null; }
wait_for() { # seconds, command...
  local limit=$1; shift
  for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}
ap_up() { local s; s=$(ssid); [ -n "$s" ] && grep -q "tx ap ssid=$s " "$dir/air/state" 2>/dev/null; }

start_unit tx
wait_for 60 ap_up || { echo "the TX's access point did not come up"; tail -20 "$dir/tx.log"; exit 1; }
echo "TX access point up: $(ssid)"
for u in "${units[@]:1}"; do
  cp "$dir/tx/userdata/wifi.ini" "$dir/$u/userdata/wifi.ini" # paired before
  bash scripts/install-res.sh "$dir/$u" >/dev/null
  start_unit "$u"
done
echo "plugging HDMI source into the TX: $source"
"$board" hdmi --root "$dir/tx" $source
echo "streaming for ${seconds}s ..."
sleep "$seconds"

value() { sed -n "s/^$2=//p" "$dir/$1/sim/hdmi-out/status" 2>/dev/null | head -1; }
us_to_ms() { awk -v v="${1:-0}" 'BEGIN { printf "%.1f", v / 1000 }'; }
echo
echo "================ TX ================"
echo "receivers streamed to: $(grep -a -c 'SendStream thread' "$dir/tx.log" || true) connection(s)"
grep -a -E 'over number|recv channel' "$dir/tx.log" | sed 's/^/   /' || true
for u in "${units[@]:1}"; do
  echo
  echo "================ $u ================"
  echo "link:        $(grep -a -c 'connect success' "$dir/$u.log" || true) heartbeat connection(s), $(grep -a -c 'RecvStream thread' "$dir/$u.log" || true) stream connection(s)"
  echo "cold start:  lease applied at $(at "$u" 'AddRT:') s, heartbeat connected at $(at "$u" 'connect success') s, decoders started at $(at "$u" 'strat VDEC') s"
  echo "output:      $(value "$u" timing) timing, showing $(value "$u" source) $(value "$u" width)x$(value "$u" height)"
  echo "frames shown: $(value "$u" frames_shown)   gaps: $(value "$u" gaps)"
  echo "latency:     p50 $(us_to_ms "$(value "$u" latency_p50_us)") ms, p99 $(us_to_ms "$(value "$u" latency_p99_us)") ms (glass to glass)"
  for f in hdmi-out/snapshot.png oled.png; do
    if [ -f "$dir/$u/sim/$f" ]; then
      cp "$dir/$u/sim/$f" "$out/$u-$(basename "$f")"
      echo "saved:       $out/$u-$(basename "$f")"
    else
      echo "saved:       (no $f)"
    fi
  done
done
echo
if [ "${HDEXT_KIT_KEEP:-0}" = 1 ]; then echo "logs and board roots kept in $dir (take it down: $board world down $name)"; fi

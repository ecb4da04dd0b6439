#!/usr/bin/env bash
# The main job: builds the two programs, starts a TX (hdext) and an RX (hdext_nortsp) on two
# simulated board roots in a temporary folder, plugs a 1080p60 HDMI source with 48 kHz audio
# into the TX, lets them run and shows what each unit did: its role banner, the pool set-up,
# the start-up steps, the settings files it created, the board lines it drove and, on the TX,
# the detected input and the encoders' progress. Then the media path is shown end to end
# (capture, H.264 encode, decode, HDMI output) by the media smoke program. Processes are killed
# by PID and the folder removed on any exit.
#   HDEXT_KIT_SECONDS  how long the units run (default 12: the encoders report every 600 pictures)
#   HDEXT_KIT_SOURCE   the HDMI source plugged into the TX (default "1920x1080p60 audio=48000")
#   HDEXT_KIT_PRESET   build preset (default release)
#   HDEXT_KIT_BUILD_DIR  build directory (default build/<preset>)
#   HDEXT_KIT_KEEP=1   keep the board roots and print where they are
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${HDEXT_KIT_SECONDS:-12}"
source="${HDEXT_KIT_SOURCE:-1920x1080p60 audio=48000}"
preset="${HDEXT_KIT_PRESET:-release}"
build="${HDEXT_KIT_BUILD_DIR:-build/$preset}"

bash scripts/install-deps.sh
cmake --preset "$preset" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target hdext hdext_nortsp hdext-board media_smoke

work=$(mktemp -d /tmp/hdext-kit-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill -KILL "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  if [ "${HDEXT_KIT_KEEP:-0}" = 1 ]; then
    echo "board roots kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Stand-in board programs (insmod, reboot, ifconfig, ...) come first on the units' PATH, so no
# board command reaches this host; each one only logs its command line.
bash scripts/make-standins.sh "$work/bin"

# A fresh board: empty settings folder, a Wi-Fi MAC address, the TX marker on the TX.
make_board() {
  local root="$1" mac="$2"
  mkdir -p "$root/userdata" "$root/etc" "$root/sim" "$root/dev" "$root/sys/class/net/wlan0"
  echo "$mac" > "$root/sys/class/net/wlan0/address"
  # No source plugged yet; the HDMI receiver's change notifications arrive on this FIFO.
  echo none > "$root/sim/hdmi-in"
  echo none > "$root/sim/sdi-in"
  mkfifo "$root/dev/lt6911"
}
make_board "$work/tx" "02:00:5e:0a:1b:2c"
mkdir -p "$work/tx/home/tx"
make_board "$work/rx" "02:00:5e:33:44:55"
bash scripts/install-res.sh "$work/rx"

start_unit() {
  local name="$1" program="$2"
  HDEXT_BOARD_ROOT="$work/$name" PATH="$work/bin:$PATH" \
    "$build/src/$program" >"$work/$name.log" 2>&1 &
  pids+=($!)
  echo "started $name: $program (pid $!) on board $work/$name"
}
start_unit tx hdext
start_unit rx hdext_nortsp
sleep 1
echo "plugging HDMI source into the TX: $source"
"$build/sim/board/hdext-board" hdmi --root "$work/tx" $source
echo "running for ${seconds}s ..."
sleep "$seconds"

show() {
  local name="$1" root="$work/$1" log="$work/$1.log"
  echo
  echo "================ $name ================"
  echo "-- role banner"
  grep -a "TAMBO model is" "$log" || echo "(none)"
  echo "-- pool set-up"
  grep -a "mempool_init_spec" "$log" | sed 's/  */ /g' || echo "(none)"
  echo "-- start-up steps"
  grep -a -o 'start-up: [A-Za-z_0-9]*' "$log" | sed 's/^/   /' || echo "(none)"
  for f in userdata/system.ini userdata/wifi.ini; do
    echo "-- /$f"
    if [ -f "$root/$f" ]; then sed 's/^/   /' "$root/$f"; else echo "   (missing)"; fi
  done
  echo "-- board lines written, in order (sim/gpio.log)"
  sed 's/^/   /' "$root/sim/gpio.log" 2>/dev/null || echo "   (none)"
  echo "-- board commands run (sim/commands.log)"
  sed 's/^/   /' "$root/sim/commands.log" 2>/dev/null || echo "   (none)"
  if [ -f "$root/home/tx" ] || [ -d "$root/home/tx" ]; then
    echo "-- input detection and encoders"
    grep -a -E '\$\$\$\$\$|strat (VENC|AENC)|video encoder:|audio encoder:' "$log" |
      sed -e 's/^.*@"//' -e 's/"@$//' -e 's/^/   /' || echo "   (none)"
  fi
  if kill -0 "$2" 2>/dev/null; then echo "-- still running: yes"; else echo "-- still running: NO"; fi
}
show tx "${pids[0]}"
show rx "${pids[1]}"
echo
echo "================ media path: capture -> H.264 -> decode -> HDMI out ================"
"$build/sim/mpi/media_smoke" --seconds 2 --board "$work/smoke" 2>/dev/null || echo "media smoke: FAILED"
echo
echo "each unit's full output was in $work/{tx,rx}.log (removed on exit; HDEXT_KIT_KEEP=1 keeps it)"

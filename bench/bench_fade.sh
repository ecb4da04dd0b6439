#!/usr/bin/env bash
# Fade figures in the simulated air (root): a TX and one RX stream 1080p60; the RX's air is cut
# for each given length, RUNS times, and restored. Per fade it prints whether the link was
# rebuilt, the seconds from the restore until the stream flows again (bytes arriving on the RX's
# stream socket) and until the RX shows a new picture (a new frame number in its HDMI status).
#   bench/bench_fade.sh [SECONDS ...]     (default: 1 1.5)
#   RUNS                  fades of each length (default 4)
#   HDEXT_BENCH_BUILD_DIR build directory (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${HDEXT_BENCH_BUILD_DIR:-build/release}"
runs="${RUNS:-4}"
[ $# -gt 0 ] || set -- 1 1.5
[ "$(id -u)" = 0 ] || { echo "bench_fade.sh: the simulated air needs root" >&2; exit 1; }
cmake --build "$build" -j2 --target hdext hdext-board >/dev/null
board="$PWD/$build/sim/board/hdext-board"
prog="$PWD/$build/src/hdext"
name="fade$$"
base=$(mktemp -d /tmp/hdext-fade-XXXXXX)
w="$base/$name"
trap '"$board" world down "$name" --dir "$base" >/dev/null 2>&1 || true; rm -rf "$base"' EXIT

now() { date +%s%N; }
wait_for() { local end=$(($(now) + $1 * 1000000000)); shift; until "$@"; do [ "$(now)" -lt "$end" ] || return 1; sleep 0.05; done; }
status() { sed -n "s/^$1=//p" "$w/rx1/sim/hdmi-out/status" 2>/dev/null; }
video() { [ "$(status source)" = video ]; }
ap_up() { local s; s=$(sed -n 's/^ssid=//p' "$w/tx/userdata/wifi.ini" 2>/dev/null); [ -n "$s" ] && grep -q "tx ap ssid=$s " "$w/air/state"; }
received() { ip netns exec "hdx-$name-rx1" ss -tinH dport = :9000 | grep -o 'bytes_received:[0-9]*' | cut -d: -f2 || true; }
links() { grep -c "connect success" "$w/rx1.log" || true; }
fault() { "$board" world fault "$name" rx1 --dir "$base" "$1" >/dev/null; }

"$board" world up "$name" --rx 1 --dir "$base" --owner $$ >/dev/null
"$board" world start "$name" tx --dir "$base" -- "$prog" >/dev/null
wait_for 60 ap_up || { echo "the TX's access point did not come up" >&2; exit 1; }
cp "$w/tx/userdata/wifi.ini" "$w/rx1/userdata/wifi.ini" # paired before
bash scripts/install-res.sh "$w/rx1" >/dev/null
"$board" world start "$name" rx1 --dir "$base" -- "$prog" >/dev/null
"$board" hdmi --root "$w/tx" 1920x1080p60 audio=48000
wait_for 120 video || { echo "the RX never showed video" >&2; exit 1; }
sleep 3

for fade in "$@"; do
  for run in $(seq "$runs"); do
    l0=$(links)
    fault cut
    end=$(($(now) + $(awk -v f="$fade" 'BEGIN { printf "%d", f * 1e9 }')))
    frame=$(status last_frame)
    while [ "$(now)" -lt "$end" ]; do frame=$(status last_frame); sleep 0.01; done
    bytes=$(received)
    fault restore
    t0=$(now); flow=""; shown=""
    while [ -z "$shown" ] && [ $(($(now) - t0)) -lt 30000000000 ]; do
      b=$(received)
      if [ -z "$flow" ] && [ -n "$b" ] && { [ -z "$bytes" ] || [ "$b" -gt "$bytes" ]; }; then flow=$(now); fi
      [ -z "$b" ] && bytes="" # the connection went away: any new one counts
      if video && [ "$(status last_frame)" != "$frame" ]; then shown=$(now); fi
      sleep 0.01
    done
    sleep 5
    secs() { [ -n "$1" ] && awk -v a="$1" -v b="$t0" 'BEGIN { printf "%.2f", (a - b) / 1e9 }' || echo never; }
    echo "fade ${fade}s run $run: relinked $(($(links) - l0)), stream flows after $(secs "$flow") s, picture after $(secs "$shown") s"
  done
done

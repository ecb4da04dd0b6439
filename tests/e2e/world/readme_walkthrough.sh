#!/usr/bin/env bash
# The README's simulated air as a newcomer follows it: every command line of the sh blocks of its
# section on the simulated air, in order, in a fresh world of one TX and one RX, and the USB
# port's lines (which need that world) before the world goes down. Each line is checked against
# what the README says of it, and a line with no check fails, so the README cannot drift from the
# tool. Root: the world's namespaces.
#   readme_walkthrough.sh SOURCE_DIR BUILD_DIR   (HDEXT_BUILD_DIR, HDEXT_BOARD_TOOL override)
set -uo pipefail
src=$(cd "$1" && pwd) && build=$(cd "${HDEXT_BUILD_DIR:-$2}" && pwd) || exit 1
[ "$(id -u)" = 0 ] || { echo "readme walk-through: needs root (the simulated air's namespaces)"; exit 1; }
cd "$src"
tool=${HDEXT_BOARD_TOOL:-$build/sim/board/hdext-board}
rel=$(realpath --relative-to="$src" "$build") # for the README's build/release
name="readme$$" work=$(mktemp -d /tmp/hdext-readme-XXXXXX) panel_pid="" failures=0 seen=""
out="$work/out" err="$work/err"
cleanup() {
  [ -n "$panel_pid" ] && kill "$panel_pid" && wait "$panel_pid"
  "$tool" world down "$name" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT && trap 'exit 130' INT TERM
fail() { echo "  FAILED: $*"; failures=$((failures + 1)); }

# The runnable lines of the sh blocks of the section whose heading holds $1, subsections included.
section_lines() {
  awk -v h="$1" '/^#+ / { level = index($0, " ") - 1; if (on && level <= start) on = 0
                          if (!on && !done && index($0, h)) { on = done = 1; start = level } }
                 on && /^```/ { code = !code && /^```sh/; next }
                 on && code && NF && $1 !~ /^#/' README.md
}
mapfile -t air < <(section_lines "The simulated air")
mapfile -t usb < <(section_lines "The USB port")
[ ${#air[@]} -gt 10 ] && [ ${#usb[@]} -gt 3 ] || { echo "README: the air or USB section's commands are gone"; exit 1; }
others=$(printf '%s\n' "${air[@]}" "${usb[@]}" | grep -o 'build/[a-z0-9]*' | sort -u | grep -vx 'build/release')
[ -z "$others" ] || fail "the air and USB sections name other build folders than build/release: $others"

within() { # seconds, command: until it succeeds
  local limit=$1 && shift
  for _ in $(seq $((limit * 5))); do "$@" && return 0; sleep 0.2; done
  "$@"
}
# Exit status $1 and a whole line matching $2 (on stderr for a status other than 0).
expect() {
  local file=$out; [ "$1" = 0 ] || file=$err
  [ "$st" = "$1" ] && grep -qxE "$2" "$file" || fail "status $st, not $1 with '$2': $(cat "$out" "$err")"
}
said() { grep -qE "$1" "$out"; }
ssid() { sed -n 's/^ssid=//p' "$dir/tx/userdata/wifi.ini" 2>/dev/null; }
status_shows() { "$tool" world status "$name" >"$out" 2>"$err" && grep -qxE "$1" "$out"; }
http() { curl -s -m 10 -o "$out" -w '%{http_code}' "$@"; }
post() { http -X POST -H 'X-Hdext-Panel: 1' "$@"; }
# The report's rx1 row: shown and lost add up to the pictures captured between the window's ends.
rx1_adds_up() { awk '$1 == "rx1" { for (i = 1; i < NF; ++i) if ($i == "/") exit !($(i - 1) + $(i + 2) == $(i + 1)); exit 1 }' "$out"; }

# rx1 shows video numbered by the TX's capture since its last start (numbers start anew there).
rx1_shows_new_tx() {
  local shown=$dir/rx1/sim/hdmi-out/status captured=$dir/tx/sim/capture/status n c
  n=$(sed -n 's/^last_frame=//p' "$shown") c=$(sed -n 's/^frames_captured=//p' "$captured")
  [ "$captured" -nt "$dir/pids/tx.prog" ] && grep -qx source=video "$shown" && [ "${n:-0}" -gt 60 ] && [ "$n" -le "${c:-0}" ]
}

killed=0 paired=0 neighbours=0
check() { # the README line without its comment; $cmd, $st: the command run and its status
  local bare=$1 u words
  case "$bare" in
  'cmake --preset release && cmake --build --preset release -j2 --target hdext hdext-board') ;; # built already
  'B=build/release/sim/board/hdext-board') ;;
  'dir=$($B world up kit1 --rx 1)') [ "$st" = 0 ] && [ -f "$dir/rx1/home/res/RX_Pairing.jpg" ] || fail "world '$dir'" ;;
  '$B world start kit1 '*' -- build/release/src/hdext')
    u=${bare#'$B world start kit1 '} && expect 0 "${u%% *}: program started \(pid [0-9]+\)" ;;
  '$B world status kit1') # a line per unit; rx1's station once it runs paired; the neighbour once added
    local want=("tx (off the air|ap ssid=.* channel=[0-9]+)" "rx1 (off the air|station ssid=.* ap=(tx|none))")
    [ "$paired" = 1 ] && want=("tx ap ssid=$(ssid) channel=36" "rx1 station ssid=$(ssid) ap=tx")
    [ "$neighbours" = 1 ] && want+=("neighbour channel=157 ssid=NEIGHBOUR-A")
    for w in "${want[@]}"; do within 60 status_shows "$w" || fail "no line '$w' in: $(cat "$out" "$err")"; done ;;
  '$B world pair kit1 rx1')
    expect 0 "rx1: paired with the TX's network $(ssid)"
    cmp -s "$dir/tx/userdata/wifi.ini" "$dir/rx1/userdata/wifi.ini" && paired=1 || fail "rx1 has not the TX's settings" ;;
  '$B hdmi --root $dir/tx '*) [ "$st" = 0 ] && [ ! -s "$err" ] || fail "$(cat "$err")" ;;
  '$B world run kit1 rx1 -- ip -4 addr show wlan0') # once rx1 joined: the address the TX gave it
    within 60 eval "$cmd >$out 2>$err && said 'inet 192[.]168[.]168[.]'" || fail "$(cat "$out" "$err")" ;;
  '$B world neighbour kit1 157 NEIGHBOUR-A') [ "$st" = 0 ] && neighbours=1 || fail "$(cat "$err")" ;;
  '$B world stats kit1')
    said "^tx pid=[1-9][0-9]* fds=[0-9]+ threads=[0-9]+ rss_kb=[0-9]+ .*FRAME_HEAD=" && said "^rx1 pid=[1-9]" || fail "$(cat "$out")" ;;
  '$B world fault kit1 '*)
    words=${bare#'$B world fault kit1 '} && u=${words%% *} && words=${words#* }
    case "$words" in
    cut) expect 0 "$u: air link cut"
      within 10 status_shows "$u cut" && status_shows "rx1 station ssid=$(ssid) ap=none" || fail "not cut: $(cat "$out")" ;;
    restore) expect 0 "$u: air link restored"
      within 60 status_shows "rx1 station ssid=$(ssid) ap=tx" || fail "rx1 did not join again" ;;
    "drop "*) expect 0 "$u: drops ${words#drop }% of its packets" ;;
    "rate 0") expect 0 "$u: air rate no longer limited" ;;
    "rate "*) expect 0 "$u: air limited to ${words#rate } kbit/s each way" ;;
    "daemon stop "*) expect 0 "$u: ${words#daemon stop } stopped" ;;
    "daemon start "*) expect 0 "$u: ${words#daemon start } started"
      "$tool" world fault "$name" "$u" $words >"$out" 2>"$err" # while it runs: nothing changes
      st=$? expect 1 "$u: ${words#daemon start } runs already" ;;
    kill) if [ "$killed" = 0 ]; then expect 0 "$u: program killed \(pid [0-9]+\)"; else expect 1 "$u: no program running"; fi
      killed=1 ;;
    restart) expect 0 "$u: program restarted \(pid [0-9]+\)"
      within 120 rx1_shows_new_tx || fail "rx1 shows no picture of the restarted TX" ;;
    *) fail "no check for the fault '$words'" ;;
    esac
    seen+=" fault-${words%% *}" ;;
  '$B world report kit1 --seconds 5')
    [ "$st" = 0 ] && ! said FAILED && rx1_adds_up || fail "$(tail -8 "$out")"
    # Once more on a kit long linked: its times were so at the first look, an upper bound.
    "$tool" world report "$name" --seconds 1 >"$out" && grep -qE "^rx1 +< [0-9.]+ s +< [0-9.]+ s " "$out" && rx1_adds_up ||
      fail "again: $(tail -8 "$out")" ;;
  '$B world panel kit1 --port 8470') check_panel ;;
  '$B usb ethernet plug rx1 --world kit1')
    [ "$st" = 0 ] && within 60 test -s "$dir/rx1/sim/laptop-address" || fail "no laptop address: $(cat "$err")" ;;
  'ip netns exec hdx-kit1-rx1-laptop ffprobe '*)
    within 60 eval "timeout 20 $cmd >$out 2>$err && said codec_name=h264 && said codec_name=pcm_alaw" ||
      fail "$(cat "$out" "$err")" ;;
  '$B usb ethernet unplug rx1 --world kit1') [ "$st" = 0 ] && ! ip netns list | grep -q "hdx-$name-rx1-laptop" || fail "a laptop is left" ;;
  '$B usb stick insert rx1 --world kit1 --reset') # mounted once the stick settled, then the factory reset
    local t0=$EPOCHREALTIME
    [ "$st" = 0 ] && within 60 grep -qs "^reboot -f" "$dir/rx1/sim/commands.log" && [ -f "$dir/rx1/mnt/reset.ini" ] &&
      grep -q "^pincode=0$" "$dir/rx1/userdata/system.ini" || fail "no factory reset on rx1: $(cat "$err")"
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { exit !(b - a >= 4) }' || fail "mounted before the stick settled" ;;
  '$B usb stick remove rx1 --world kit1')
    [ "$st" = 0 ] && within 30 grep -qs "^umount $dir/rx1/mnt/$" "$dir/rx1/sim/commands.log" && [ ! -e "$dir/rx1/mnt/reset.ini" ] ||
      fail "not unmounted" ;;
  '$B world down kit1') [ "$st" = 0 ] && [ ! -e "$dir" ] && ! ip netns list | grep -q "hdx-$name-" || fail "the world is left" ;;
  *) fail "no check for this README line" ;;
  esac
  seen+=" ${bare#*\$B }"
}

# The README: a wrong word is one line on standard error saying what is wrong, and status 2.
bad_arguments() {
  while IFS='|' read -r args says; do
    timeout -k 5 60 "$tool" $args >"$out" 2>"$err"
    st=$? expect 2 ".*$says.*" && [ "$(grep -c '' "$err")" = 1 ] && [ ! -s "$out" ] || fail "$args"
  done <<EOF
key --root $dir/tx press up -1|a press lasts 0 to 60 seconds
key --root $dir/tx press up -0.5|a press lasts 0 to 60 seconds
key --root $dir/tx press up abc|a press lasts 0 to 60 seconds
key --root $dir/tx press sideways|unknown key
key --root $dir/tx hold down now|unexpected argument
hdmi --root $dir/tx 1920x1080p60 audio=44100x|not a source
sdi --root $dir/tx 0x2G|not a format code
battery --root $dir/tx 12k|not a reading
screen --root $dir/tx now|unexpected argument
app --count 3x|--count takes a number
usb stick shake rx1 --world $name|unknown usb command
world bogus $name|unknown command
world down ../$name|a world's name is
world up $name-x --rx abc --owner $$|--rx takes 0 to 3
world up $name-x --rx|--rx needs a value
world status no$name|no world no$name
world stats no$name|no world no$name
world start $name tx|usage: hdext-board world start
world pair $name tx|pair a receiver
world fault $name rx9 kill|rx9 is not a unit of world $name
world fault $name tx kill now|takes no value
world fault $name tx drop abc|percentage
world fault $name tx rate 1.5|rate takes kbit/s
world fault $name tx explode|unknown fault
world fault $name tx daemon start sshd|no daemon
world neighbour $name abc|not a Wi-Fi channel
world neighbour $name 15|not a Wi-Fi channel
world report $name --seconds 5x|--seconds
world panel $name --port 70000|--port
EOF
}

# The panel serves until it is ended: in the background while its endpoints are tried.
check_panel() {
  (eval "exec ${cmd/--port 8470/--port 0}" >"$work/panel" 2>&1) &
  panel_pid=$!
  within 30 grep -q "^panel: http://127.0.0.1:[0-9]*/$" "$work/panel" || { fail "$(cat "$work/panel")"; return; }
  local port url clicks=() prog
  port=$(sed -n 's#^panel: http://127.0.0.1:\([0-9]*\)/$#\1#p' "$work/panel") && url="http://127.0.0.1:$port"
  [ "$(http "$url/api/world")" = 200 ] && said '"unit":"rx1"' || fail "GET /api/world"
  [ "$(http "$url/unit/tx/oled.png")" = 200 ] && [ "$(od -An -tu1 -j18 -N6 "$out" | tr -s ' ')" = " 2 16 0 0 1 16" ] ||
    fail "the OLED picture is not 528x272"
  [ "$(http "$url/unit/rx9/oled.png")" = 404 ] && [ "$(post "$url/api/key?unit=tx&key=up&action=press")" = 411 ] &&
    [ "$(post -d '' "$url/api/fault?unit=tx&what=daemon%20start%20hostapd")" = 409 ] && said "^tx: hostapd runs already$" ||
    fail "an error answer: $(cat "$out")"
  timeout 20 "$tool" world panel "$name" --port "$port" >"$out" 2>"$err"
  st=$? expect 1 "world panel: cannot listen on 127.0.0.1:$port: .*"
  # Four restarts at once act one after another: one program, holding none of the panel's descriptors.
  for i in 1 2 3 4; do
    curl -s -m 60 -o /dev/null -w '%{http_code}' -X POST -H 'X-Hdext-Panel: 1' -d '' "$url/api/fault?unit=tx&what=restart" \
      >"$work/click$i" &
    clicks+=($!)
  done
  wait "${clicks[@]}"
  [ "$(cat "$work"/click*)" = 200200200200 ] || fail "restarts at once: $(cat "$work"/click*)"
  "$tool" world run "$name" tx -- sh -c 'readlink /proc/[0-9]*/exe; true' >"$out" && [ "$(grep -c '/src/hdext$' "$out")" = 1 ] ||
    fail "programs in tx: $(cat "$out")"
  prog=$(cut -d' ' -f1 "$dir/pids/tx.prog")
  comm -12 <(readlink /proc/"$prog"/fd/* | sort -u) <(readlink /proc/"$panel_pid"/fd/* | sort -u) | grep -E '^(socket|pipe):' &&
    fail "the restarted program holds the panel's descriptors above"
  kill "$panel_pid" && wait "$panel_pid" || fail "the panel did not end on SIGTERM"
  panel_pid=""
}

B=$tool dir="" down=""
for line in "${air[@]}" "${usb[@]}" DOWN; do
  case "$line" in
  '$B world down '*) down=$line && continue ;; # after the USB port's lines
  DOWN) line=$down ;;
  esac
  bare=${line%%#*} && bare=${bare%"${bare##*[! ]}"}
  # As written, for this world and this build, owned by this script.
  cmd=$(sed -e "s/\bkit1\b/$name/g" -e "s#build/release/#$rel/#g" -e "s/world up $name /world up $name --owner $$ /" <<<"$bare")
  echo "README: $line"
  st=0
  case "$bare" in cmake* | B=* | '$B world panel'* | 'ip netns exec '*) ;; *) eval "$cmd" >"$out" 2>"$err"; st=$? ;; esac
  check "$bare"
  case "$bare" in 'dir=$($B world up'*) bad_arguments ;; esac
done
for verb in "world up" "world start" "world status" "world pair" "world run" "world stats" "world report" "world panel" \
  "world down" fault-cut fault-restore fault-drop fault-rate fault-daemon fault-kill fault-restart "usb ethernet" "ip netns exec"; do
  [[ "$seen" == *" $verb"* ]] || fail "the README no longer shows '$verb'"
done
echo "readme walk-through: $failures failed"
[ "$failures" = 0 ]

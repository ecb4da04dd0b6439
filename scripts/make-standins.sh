#!/usr/bin/env bash
# Creates a directory of stand-in board programs for a simulated board: each one only appends
# its command line to $HDEXT_BOARD_ROOT/sim/commands.log. Put the directory first on PATH of
# a hdext started on a simulated board, so no board command reaches the host.
# Usage: make-standins.sh DIR
set -euo pipefail
dir="$1"
mkdir -p "$dir"
for p in insmod rmmod reboot mount umount ifconfig route killall hostapd hostapd_cli \
         wpa_supplicant iwlist iwconfig dhcpd udhcpd i2cget i2cset; do
  cat > "$dir/$p" <<'SH'
#!/bin/sh
root="${HDEXT_BOARD_ROOT:?}"
mkdir -p "$root/sim"
echo "$(basename "$0") $*" >> "$root/sim/commands.log"
SH
  chmod +x "$dir/$p"
done

#!/usr/bin/env bash
# What the arm64 cross build needs: Debian's cross compiler and qemu user-mode emulation on the
# host, and the arm64 libraries in a sysroot of their own (HDEXT_ARM64_SYSROOT, default
# /opt/hdext/sysroot-arm64). Idempotent: does nothing when everything is already there.
#
# The arm64 libraries are not installed beside the amd64 ones with dpkg's multiarch: the
# Multi-Arch: same packages must have the same version on both architectures, so installing
# them upgrades the host's amd64 libraries whenever the mirror is ahead of the host, and the
# arm64 GStreamer packages would even remove the amd64 ones. A sysroot extracted from the same
# Debian mirror (mmdebstrap) leaves the host's packages alone.
set -euo pipefail

HOST_PACKAGES=(g++-aarch64-linux-gnu qemu-user-static mmdebstrap)
# Only what the build without RTSP links, and the test framework; mmdebstrap adds their
# dependencies (the runtime libraries the emulated tests load).
SYSROOT_PACKAGES=(
  libc6-dev libstdc++6
  libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libpng-dev libssl-dev
  libgtest-dev libgmock-dev
)
sysroot="${HDEXT_ARM64_SYSROOT:-/opt/hdext/sysroot-arm64}"
stamp="$sysroot/.hdext-packages"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

missing=()
for p in "${HOST_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps-arm64: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

want="bookworm arm64 ${SYSROOT_PACKAGES[*]}"
if [ "$(cat "$stamp" 2>/dev/null)" = "$want" ]; then
  exit 0
fi

# One maker at a time (other checkouts on this machine may be running this script too).
$SUDO mkdir -p "$(dirname "$sysroot")"
exec 9>"$sysroot.lock"
flock 9
if [ "$(cat "$stamp" 2>/dev/null)" = "$want" ]; then
  exit 0
fi

# From the mirror the host's own apt uses.
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list
echo "install-deps-arm64: making the arm64 sysroot $sysroot (takes a minute or two)"
tmp="$sysroot.new"
$SUDO rm -rf "$tmp"
include=$(IFS=,; echo "${SYSROOT_PACKAGES[*]}")
$SUDO mmdebstrap --quiet --variant=extract --mode=root --format=directory --architectures=arm64 \
  --include="$include" \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
  --dpkgopt='path-exclude=/usr/share/locale/*' \
  bookworm "$tmp" "$sources"
# Library links such as libz.so -> /lib/aarch64-linux-gnu/libz.so.1 must point inside the
# sysroot for the cross linker.
find "$tmp" -type l -lname '/*' | while read -r link; do
  $SUDO ln -sfnr "$tmp$(readlink "$link")" "$link"
done
echo "$want" | $SUDO tee "$tmp/.hdext-packages" >/dev/null
$SUDO rm -rf "$sysroot"
$SUDO mv "$tmp" "$sysroot"

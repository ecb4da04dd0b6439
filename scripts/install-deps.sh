#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the simulated board need, and the
# browser test's npm packages (tests/browser, from its lock file) and the arm64 cross build's
# tools and sysroot (scripts/install-deps-arm64.sh). Idempotent: does nothing when everything
# is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libpng-dev libssl-dev
  busybox udhcpd iproute2 procps nftables
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  ffmpeg wpasupplicant unifont
  libcpp-httplib-dev nlohmann-json3-dev chromium curl
)
# Node.js comes with the machine (it is not a Debian package there); a machine without it gets
# Debian's.
command -v npm >/dev/null || PACKAGES+=(nodejs npm)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The browser test's driver (playwright-core; it drives /usr/bin/chromium, it downloads no browser).
browser="$(dirname "$0")/../tests/browser"
if [ ! "$browser/node_modules/.package-lock.json" -nt "$browser/package-lock.json" ]; then
  echo "install-deps: npm ci in tests/browser"
  npm ci --prefix "$browser" --no-audit --no-fund --loglevel=error
fi

# The arm64 cross build (HDEXT_SKIP_ARM64=1 leaves it out, as scripts/test.sh does).
if [ "${HDEXT_SKIP_ARM64:-0}" != 1 ]; then
  bash "$(dirname "$0")/install-deps-arm64.sh"
fi

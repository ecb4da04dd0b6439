#!/usr/bin/env bash
# Installs the RX status pictures into a simulated board root: assets/res/*.jpg -> ROOT/home/res/.
#   scripts/install-res.sh ROOT
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 ROOT" >&2; exit 2; }
src="$(cd "$(dirname "$0")/.." && pwd)/assets/res"
mkdir -p "$1/home/res"
cp "$src"/*.jpg "$1/home/res/"

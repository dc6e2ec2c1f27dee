#!/usr/bin/env bash
# Installs, builds and starts evbconsole on the built-in simulated board. Extra arguments go
# to evbconsole (e.g. --port /dev/ttyUSB0 for a real board). Without a display it says so and
# runs the same job headless with evbctl instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BIN=${BUILD_DIR:-build}/bin
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  if [ "$#" -eq 0 ]; then set -- --simulate; fi
  exec "$BIN/evbconsole" "$@"
fi
echo "No display (DISPLAY/WAYLAND_DISPLAY unset): running the same job headless with evbctl on the simulated board."
"$BIN/evbctl" --simulate info
"$BIN/evbctl" --simulate dump
"$BIN/evbctl" --simulate send presets/examples/example.txt

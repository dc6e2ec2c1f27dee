#!/usr/bin/env bash
# Regenerates the README's screenshots: starts evbconsole offscreen on the simulated board, drives
# its windows as a user would and saves each window's grab into docs/screenshots/.
#
#   scripts/screenshots.sh                 the standard set
#   scripts/screenshots.sh STEPS...        extra steps after the standard set, e.g.
#       scripts/screenshots.sh trigger:KV1120 grab:kv2580mfrm:register-console.png
#
# Steps: click:OBJECT, trigger:MENU_ENTRY_OBJECT, text:OBJECT=TEXT, grab:WINDOW[:FILE.png]
# (object names as in the program; FILE defaults to WINDOW.png).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
OUT=${OUT:-docs/screenshots}
# A build directory that exists is brought up to date first: an old binary makes old pictures.
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake --build "$BUILD_DIR" --target evbconsole >/dev/null
else
  scripts/build.sh
fi
STEPS="grab:mainfrm:main-window.png"
STEPS+=",click:SetTXCMD,grab:SPDIFConfigFRM:spdif-window.png"
STEPS+=",click:setcodecI2C,grab:SetCodecComodeFrm:control-interface-window.png"
STEPS+=",trigger:RS2322,grab:RS232CfgFrm:rs232-window.png"
STEPS+=",trigger:LinkMonitor1,click:Refresh,trigger:KV2440,grab:LinkMonitorFrm:link-monitor.png"
for step in "$@"; do STEPS+=",$step"; done
mkdir -p "$OUT"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bin/evbconsole" --simulate --no-pace \
  --screenshot-dir "$OUT" --screenshot-steps "$STEPS" 2> >(grep -v -e propagateSizeHints -e 'support raise' -e XDG_RUNTIME_DIR >&2)

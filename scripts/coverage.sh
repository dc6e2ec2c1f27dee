#!/usr/bin/env bash
# Line, function and branch coverage of the whole test suite, per product folder.
# Builds a Debug tree with --coverage in build-cov/ (or $BUILD_DIR), runs ctest headless,
# and prints gcovr's summary for each folder and for all of them together.
# Counters are updated atomically: the serial threads share them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
command -v gcovr >/dev/null || { sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq gcovr; }
BUILD_DIR=${BUILD_DIR:-build-cov}
BUILD_DIR=$BUILD_DIR BUILD_TYPE=Debug scripts/build.sh -DEVB_BUILD_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage "$@"
find "$BUILD_DIR" -name '*.gcda' -delete
QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD_DIR" -j2 >"$BUILD_DIR/ctest.log" 2>&1 \
  || { tail -30 "$BUILD_DIR/ctest.log"; echo "coverage: some tests failed (see $BUILD_DIR/ctest.log)"; }
FOLDERS=(serial protocol console windows app sim cli)
# One gcovr pass writes a JSON summary; the table is cut from it per folder.
gcovr -r . --object-directory "$BUILD_DIR" --json-summary "$BUILD_DIR/coverage.json" \
  $(printf -- '--filter %s/ ' "${FOLDERS[@]}") --exclude-unreachable-branches \
  --exclude-throw-branches -j2 >/dev/null
python3 - "$BUILD_DIR/coverage.json" "${FOLDERS[@]}" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
rows = {f: [0, 0, 0, 0, 0, 0] for f in sys.argv[2:]}
for f in data["files"]:
    top = f["filename"].split("/")[0]
    if top in rows:
        r = rows[top]
        for i, k in enumerate(("line", "function", "branch")):
            r[2 * i] += f[k + "_covered"]; r[2 * i + 1] += f[k + "_total"]
pct = lambda c, t: f"{100.0 * c / t:6.1f}%" if t else "     -"
print(f"{'folder':10} {'lines':>8} {'functions':>10} {'branches':>9}")
total = [0] * 6
for name, r in rows.items():
    total = [a + b for a, b in zip(total, r)]
    print(f"{name:10} {pct(r[0], r[1]):>8} {pct(r[2], r[3]):>10} {pct(r[4], r[5]):>9}")
print(f"{'all':10} {pct(total[0], total[1]):>8} {pct(total[2], total[3]):>10} {pct(total[4], total[5]):>9}")
PY

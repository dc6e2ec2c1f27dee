#!/usr/bin/env bash
# The suite under ASan+UBSan (everything) and TSan (the tests labelled threaded: serial,
# protocol, sim, evbctl, fuzz replays; Qt is not instrumented, so the GUI tests are not among them).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
BUILD_DIR=build-asan BUILD_TYPE=Debug scripts/build.sh -DEVB_SANITIZE=address -DEVB_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-asan --output-on-failure -j2
BUILD_DIR=build-tsan BUILD_TYPE=Debug scripts/build.sh -DEVB_SANITIZE=thread -DEVB_BUILD_BENCH=OFF
TSAN_OPTIONS=second_deadlock_stack=1 ctest --test-dir build-tsan --output-on-failure -j2 -L threaded

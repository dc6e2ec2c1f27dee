#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each one for SECONDS, one at a
# time, then merges the inputs that found new coverage into fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     SECONDS defaults to 300; all targets by default
#
# A finding stops that target (its input is saved under $BUILD_DIR/fuzz-logs/) and makes the
# script exit 1 after the remaining targets ran. Per-target statistics go to stdout.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-300}
if [ "$#" -gt 0 ]; then shift; fi
BUILD_DIR=${BUILD_DIR:-build-fuzz}
LOG_DIR=$BUILD_DIR/fuzz-logs

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEVB_FUZZ=ON \
  -DEVB_BUILD_TESTS=OFF -DEVB_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  # The list the build uses: "set(EVB_FUZZ_TARGETS a b c)" and "list(APPEND EVB_FUZZ_TARGETS d)".
  mapfile -t targets < <(grep -oE 'EVB_FUZZ_TARGETS [a-z_ ]+\)' fuzz/FuzzTargets.cmake |
    sed -E 's/EVB_FUZZ_TARGETS //; s/\)//' | tr ' ' '\n' | grep -v '^$')
fi
cmake --build "$BUILD_DIR" -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}"
mkdir -p "$LOG_DIR"

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${targets[@]}"; do
  bin=$BUILD_DIR/bin/fuzz_$t
  corpus=fuzz/corpus/$t
  fresh=$(mktemp -d)
  mkdir -p "$corpus"
  maxlen=4096
  if [ "$t" = config_lines ]; then maxlen=4200; fi
  # New inputs land in a scratch directory; only those reaching code the corpus does not (edges,
  # not hit counts, to keep the corpus small) join it.
  if "$bin" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -max_len=$maxlen -print_final_stats=1 \
      -artifact_prefix="$LOG_DIR/$t-" "$fresh" "$corpus" >"$LOG_DIR/$t.log" 2>&1; then
    result=ok
  else
    result="FINDING (see $LOG_DIR/$t.log)"
    status=1
  fi
  "$bin" -merge=1 -use_counters=0 -max_len=$maxlen "$corpus" "$fresh" >"$LOG_DIR/$t.merge.log" 2>&1 || true
  rm -rf "$fresh"
  execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$LOG_DIR/$t.log" | grep -oE '[0-9]+$' || echo '?')
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$LOG_DIR/$t.log" | tail -1 || true)
  echo "$t: ${SECONDS_PER_TARGET}s, $execs executions, $cov, corpus $(ls "$corpus" | wc -l) files: $result"
done
exit $status

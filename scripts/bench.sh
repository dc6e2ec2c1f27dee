#!/usr/bin/env bash
# Builds the benchmarks (Release, into build-bench/ or $BUILD_DIR) and runs every one of them
# against the simulated board paced at 19200 baud, then prints one table: each figure as a ratio
# to its limit or to a reference measured in the same run, median and worst of repeated runs,
# and whether it meets its target.
#   bash scripts/bench.sh            full run (about 3 minutes)
#   bash scripts/bench.sh --quick    fewer repetitions, for a first look
#   bash scripts/bench.sh --no-build run what is already built
#   bash scripts/bench.sh --only regmap   just the register-map load (any of the flags above too)
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-bench}
quick=0
build=1
only=""
expect_only=0
for arg in "$@"; do
    if ((expect_only)); then
        only=$arg
        expect_only=0
        continue
    fi
    case "$arg" in
    --quick) quick=1 ;;
    --no-build) build=0 ;;
    --only) expect_only=1 ;;
    *)
        echo "usage: $0 [--quick] [--no-build] [--only regmap]" >&2
        exit 2
        ;;
    esac
done

if [[ -n $only && $only != regmap ]]; then
    echo "$0: --only takes regmap" >&2
    exit 2
fi
if ((build)); then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DEVB_BUILD_TESTS=OFF >/dev/null
    if [[ -n $only ]]; then
        cmake --build "$BUILD_DIR" -j"$(nproc)" --target bench_regmap >/dev/null
    else
        cmake --build "$BUILD_DIR" -j"$(nproc)" --target evbconsole evbctl evbsim bench_serial bench_evbctl bench_gui \
            bench_process bench_minimal_window bench_regmap >/dev/null
    fi
fi
find_bin() { # the executable named $1 wherever the build put it
    local f
    for f in "$BUILD_DIR/bin/$1" "$BUILD_DIR/bench/perf/$1" "$BUILD_DIR/bench/serial/$1" \
        "$BUILD_DIR/bench/cli/$1" "$BUILD_DIR/bench/regmap/$1" "$BUILD_DIR/app/$1"; do
        [[ -x "$f" ]] && {
            echo "$f"
            return
        }
    done
    echo "bench: $1 was not built" >&2
    exit 1
}

if ((quick)); then
    gui_args=(7 1 1 $((4 << 20)))
    cli_runs=2
    serial_runs=1
    process_args=(3 1)
else
    gui_args=(15 3 3 $((8 << 20)))
    cli_runs=5
    serial_runs=3
    process_args=(15 3)
fi

export QT_QPA_PLATFORM=offscreen
# The offscreen platform warns about every raise() and size hint it cannot honour.
export QT_LOGGING_RULES="default.warning=false"
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"\
    "kernel $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)" >&2

# A benchmark that fails leaves a FAILED row and the others still run.
failures=0
failed_row() { # figure, exit status
    printf 'ROW\t%s\t-\t0\t0\tfailed (exit %s)\t-\t!\t0\n' "$1" "$2" >>"$rows"
    failures=$((failures + 1))
}

regmap_runs=$((quick ? 5 : 15))
echo "bench: register-map load..." >&2
if out=$("$(find_bin bench_regmap)" "$regmap_runs"); then
    grep '^ROW' <<<"$out" >>"$rows"
else
    failed_row "register-map load (bench_regmap)" $?
fi

# With --only regmap, the rest is left out.
if [[ -z $only ]]; then
echo "bench: windows against the simulated board (reads, read-all, send, babble)..." >&2
if out=$(timeout 600 "$(find_bin bench_gui)" "${gui_args[@]}"); then
    grep '^ROW' <<<"$out" >>"$rows"
else
    failed_row "windows (bench_gui)" $?
fi


echo "bench: evbctl read and send..." >&2
# A send that stalls must not hold the table up: each evbctl send needs about 5.5 s.
# The read also as a process of its own (evbctl --help subtracted); a plain open/write/poll/close
# loop on the same pseudo-terminal is shown for reference.
if out=$(timeout $((60 + cli_runs * 60)) "$(find_bin bench_evbctl)" "$cli_runs" "$(find_bin evbctl)"); then
    awk '
    / limit / {
        name = ""; lim = ""; med = ""; wst = ""; rm = ""; rw = ""; tgt = "1.10"
        for (i = 1; i <= NF; ++i) {
            if ($i == "limit") { lim = $(i + 1); for (j = 1; j < i; ++j) name = name (j > 1 ? " " : "") $j }
            else if ($i == "median") med = $(i + 1)
            else if ($i == "worst") wst = $(i + 1)
            else if ($i == "target") tgt = $(i + 1)
            else if ($i == "(ratio") { r = $(i + 1); sub(/\)/, "", r); if (rm == "") rm = r; else rw = r }
        }
        op = (tgt + 0 == 0) ? "-" : "<="
        pre = (name ~ /^plain/) ? "" : "evbctl "
        printf "ROW\t%s%s\t%s ms\t%s\t%s\t%sx (%s ms)\t%sx (%s ms)\t%s\t%s\n", pre, name, lim, rm, rw, rm, med, rw, wst, op, tgt
    }' <<<"$out" >>"$rows"
    grep '^ROW' <<<"$out" >>"$rows" || true
else
    failed_row "evbctl read and send (bench_evbctl)" $?
fi

echo "bench: evbctl session (100 reads, four boards sending at once, 8 boards' memory)..." >&2
# Against evbsim processes paced at 19200 baud: the session's 100 reads beside 100 evbctl runs,
# four boards each sending 100 lines beside one board's send, the RSS with 8 boards open.
if out=$(timeout $((120 + cli_runs * 60)) python3 bench/session/bench_session.py "$cli_runs" "$(find_bin evbctl)" \
    "$(find_bin evbsim)"); then
    grep '^ROW' <<<"$out" >>"$rows"
else
    failed_row "evbctl session (bench_session.py)" $?
fi

echo "bench: serial engine throughput (x$serial_runs)..." >&2
serial_bin=$(find_bin bench_serial)
ratios=() engine=() plain=() held=()
for ((i = 0; i < serial_runs; ++i)); do
    if ! out=$("$serial_bin"); then
        failed_row "engine throughput (bench_serial)" $?
        break
    fi
    ratios+=("$(awk '/engine \/ plain loop/ { print $NF }' <<<"$out")")
    engine+=("$(awk '/engine through pty/ { print $NF }' <<<"$out")")
    plain+=("$(awk '/plain pty read\/write loop/ { print $NF }' <<<"$out")")
    held+=("$(awk '/wake-ups per second, output held/ { print $NF }' <<<"$out")")
done
median_of() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
min_of() { printf '%s\n' "$@" | sort -g | head -1; }
if ((${#ratios[@]} > 0)); then
    rmed=$(median_of "${ratios[@]}")
    rmin=$(min_of "${ratios[@]}")
    printf 'ROW\tengine throughput through a pty\tplain loop %s MB/s\t%s\t%s\t%sx (%s MB/s)\t%sx\t>=\t0.80\n' \
        "$(median_of "${plain[@]}")" "$rmed" "$rmin" "$rmed" "$(median_of "${engine[@]}")" "$rmin" >>"$rows"
    hmed=$(median_of "${held[@]}")
    hmax=$(printf '%s\n' "${held[@]}" | sort -g | tail -1)
    printf 'ROW\tserial wake-ups/s, output held\t-\t%s\t%s\t%s\t%s\t<=\t0\n' "$hmed" "$hmax" "$hmed" "$hmax" >>"$rows"
fi

echo "bench: start-up and idle wake-ups of evbconsole..." >&2
if out=$("$(find_bin bench_process)" "${process_args[@]}" "$(find_bin evbconsole)" "$(find_bin bench_minimal_window)"); then
    grep '^ROW' <<<"$out" >>"$rows"
else
    failed_row "start-up and idle (bench_process)" $?
fi

fi

echo
awk -F'\t' '
    BEGIN {
        fmt = "%-36s %-24s %-20s %-20s %-9s %s\n"
        printf fmt, "figure", "limit / reference", "median", "worst", "target", "verdict"
        printf fmt, "------", "-----------------", "------", "-----", "------", "-------"
    }
    {
        med = $4 + 0; wst = $5 + 0; op = $8; t = $9 + 0
        if (op == "<=") ok = (t == 0) ? (wst <= 0) : (med <= t)
        else if (op == ">=") ok = med >= t
        else if (op == "<") ok = wst < t
        else if (op == "!") ok = -2
        else ok = -1
        target = (op == "-" || op == "!") ? "-" : (op == "<" ? "< " t * 1000 " ms" : op " " (t == 0 ? "0" : t "x"))
        verdict = ok == -2 ? "FAILED" : (ok < 0 ? "(reported)" : (ok ? "ok" : "MISSED"))
        printf fmt, $2, ($3 == "" ? "-" : $3), $6, $7, target, verdict
    }' "$rows"
exit $((failures > 0))

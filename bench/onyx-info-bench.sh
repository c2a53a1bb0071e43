#!/usr/bin/env bash
# onyx info on 1, 4 and 8 simulated loggers at the pace of a 9600-baud line, timed
# by hyperfine (Debian's). The loggers are read side by side, one worker each, so
# 8 of them must take at most 1.3 times as long as one; the script fails otherwise.
#
#   bench/onyx-info-bench.sh [BUILD_DIR]     default build/dev; RUNS=N (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
runs=${RUNS:-20}
onyx=$build/src/ui/onyx
simulator=$build/simulator/onyx-simulator
for program in "$onyx" "$simulator"; do
    [ -x "$program" ] || { echo "missing $program: build first (cmake --build --preset dev)" >&2; exit 1; }
done
scripts/ensure-packages.sh hyperfine

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

ports=()
for i in 1 2 3 4 5 6 7 8; do
    name="BENCH$$x$i"
    "$simulator" --name "$name" --serial "$i" --paced >"$work/logger$i.log" 2>&1 &
    pids+=($!)
    ports+=("$name:")
done
# Each logger says when it answers.
for i in 1 2 3 4 5 6 7 8; do
    for _ in $(seq 100); do
        grep -q "ready" "$work/logger$i.log" && break
        sleep 0.1
    done
    grep -q "ready" "$work/logger$i.log" || { echo "logger $i did not start:" >&2; cat "$work/logger$i.log" >&2; exit 1; }
done

hyperfine --warmup 2 --runs "$runs" --export-csv "$work/times.csv" \
    -n "1 logger" "$onyx info ${ports[*]:0:1}" \
    -n "4 loggers" "$onyx info ${ports[*]:0:4}" \
    -n "8 loggers" "$onyx info ${ports[*]:0:8}"

# command,mean,stddev,median,user,system,min,max (seconds)
awk -F, 'NR > 1 { mean[NR - 1] = $2; median[NR - 1] = $4 }
    END {
        printf "mean   1 / 4 / 8 loggers: %.3f / %.3f / %.3f s, 8 against 1: %.3f\n", mean[1], mean[2], mean[3], mean[3] / mean[1]
        printf "median 1 / 4 / 8 loggers: %.3f / %.3f / %.3f s, 8 against 1: %.3f\n", median[1], median[2], median[3], median[3] / median[1]
        if (mean[3] > 1.3 * mean[1]) { print "FAILED: 8 loggers took more than 1.3 times as long as one"; exit 1 }
        print "8 loggers within 1.3 times the time of one"
    }' "$work/times.csv"

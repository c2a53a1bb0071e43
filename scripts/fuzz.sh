#!/usr/bin/env bash
# Builds the fuzz targets (clang 14, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; the "fuzz" preset, in build/fuzz) and runs each one
# for a bounded time over a copy of its corpus in tests/fuzz/corpus/, so nothing
# is ever written into the repository. Fails when any target crashes; the input
# that did it is kept in build/fuzz/crashes/<target>/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]    (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds-per-target]" >&2
    exit 2
fi

scripts/install-deps.sh
scripts/ensure-packages.sh clang-14 libclang-rt-14-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=()
for corpus in tests/fuzz/corpus/*/; do
    target=$(basename "$corpus")
    binary=build/fuzz/tests/fuzz/$target
    if [ ! -x "$binary" ]; then
        echo "=== $target: no fuzz target built for this corpus" >&2
        failed+=("$target")
        continue
    fi
    mkdir -p "$work/$target" "build/fuzz/crashes/$target"
    cp -R "$corpus". "$work/$target/"
    echo "=== $target: ${seconds} s over $(find "$work/$target" -type f | wc -l) seeds"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/crashes/$target/" \
        "$work/$target" 2>"$work/$target.log"; then
        tail -n 60 "$work/$target.log" >&2
        echo "=== $target: CRASH; the input is in build/fuzz/crashes/$target/" >&2
        failed+=("$target")
        continue
    fi
    grep -E "^(Done|stat::number_of_executed_units)" "$work/$target.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing failed: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing passed: no crash in any target."

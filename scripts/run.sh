#!/usr/bin/env bash
# Starts a simulated logger on a pseudo-terminal and reads its identity through
# the program's serial link.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev --target onyx-simulator onyx-identify

name="ONYXDEMO$(( $$ % 1000 ))"
log=$(mktemp)
build/dev/simulator/onyx-simulator --name "$name" >"$log" 2>&1 &
simulator=$!
trap 'kill "$simulator" 2>/dev/null; wait "$simulator" 2>/dev/null; rm -f "$log"' EXIT

for _ in $(seq 100); do
    grep -q "ready" "$log" && break
    kill -0 "$simulator" 2>/dev/null || { cat "$log"; exit 1; }
    sleep 0.1
done
cat "$log"
echo "Ports: $(build/dev/tools/onyx-identify --list | tr '\n' ' ')"
build/dev/tools/onyx-identify "$name:"

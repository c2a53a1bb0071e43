#!/usr/bin/env bash
# Starts a simulated logger on a pseudo-terminal and opens the program on it.
# With a display, the main window opens and the logger's port is in its COM port
# list. Without one, a driver runs the window offscreen: it reads the logger's
# information, runs its self-test, prints what the window shows and saves a
# screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
if [ -e build/dev ] && [ ! -w build/dev ]; then
    echo "build/dev belongs to another account: remove it first" >&2
    exit 1
fi
cmake --preset dev >/dev/null
cmake --build --preset dev --target onyx-simulator wellscribe-onyx onyx-window-driver

name="ONYXSIM$(( $$ % 10 ))"
log=$(mktemp)
build/dev/simulator/onyx-simulator --name "$name" --self-test-mask 64 >"$log" 2>&1 &
simulator=$!
trap 'kill "$simulator" 2>/dev/null; wait "$simulator" 2>/dev/null; rm -f "$log"' EXIT

for _ in $(seq 100); do
    grep -q "ready" "$log" && break
    kill -0 "$simulator" 2>/dev/null || { cat "$log"; exit 1; }
    sleep 0.1
done
cat "$log"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening the main window; choose $name: in its COM port list (it is selected if it is the only port)."
    build/dev/src/ui/wellscribe-onyx
else
    build/dev/tools/onyx-window-driver "$name:" "$PWD/build/onyx-main-window.png"
fi

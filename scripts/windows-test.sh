#!/usr/bin/env bash
# Cross-builds the Qt-free core and its tests for 64-bit Windows (the windows preset,
# mingw-w64) and runs them under Wine: first the suites that need no device, then
# the link tests against a simulated logger that Wine presents as COM5.
# Installs what is missing; exits non-zero on any failure. Every Wine command is
# bounded in time, and the Wine server and prefix it started go away at the end.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)

# The Linux side (the simulated logger and its harness) needs the usual compiler and
# GoogleTest; the Windows side mingw-w64, GoogleTest's sources and Wine.
packages=(cmake ninja-build g++ libgtest-dev googletest g++-mingw-w64-x86-64-posix wine64)
scripts/ensure-packages.sh "${packages[@]}"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] || wine=$(command -v wine64)
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

# A prefix of our own, headless and quiet; no Mono or Gecko installer is offered.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/onyx-wine.XXXXXX")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
export ONYX_WINESERVER=$wineserver

cleanup() {
    timeout 20 "$wineserver" -k 2>/dev/null || true
    timeout 20 "$wineserver" -w 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT

echo "== Cross-building for Windows (build/windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== Building the simulated logger's harness for Linux (build/windows-host)"
cmake --preset ci -B build/windows-host -DONYX_BUILD_UI=OFF >/dev/null
cmake --build build/windows-host --target onyx-wine-link-harness

echo "== Preparing the Wine prefix"
timeout 180 "$wine" wineboot --init >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
timeout 60 "$wineserver" -w || true

echo "== Windows tests under Wine (no device)"
status=0
# CTest starts each test under Wine through the build's emulator setting.
timeout 600 ctest --preset windows --timeout 120 || status=1

echo "== Windows link tests under Wine, against the simulated logger on COM5"
timeout 300 build/windows-host/tests/windows/onyx-wine-link-harness "$prefix/dosdevices" -- \
    timeout 240 "$wine" build/windows/tests/windows/onyx_windows_link_tests.exe || status=1

if [ "$status" -eq 0 ]; then
    echo "Windows tests passed"
else
    echo "Windows tests FAILED" >&2
fi
exit "$status"

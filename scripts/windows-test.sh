#!/usr/bin/env bash
# Cross-builds the whole program and its tests for 64-bit Windows (the windows preset:
# mingw-w64 and the static Qt of scripts/windows-qt.sh) and runs them under Wine: the
# suites that need no device, the link tests against a simulated logger that Wine
# presents as COM5, and the real wellscribe-onyx.exe on that logger under Xvfb, whose
# picture goes to build/windows/main-window.png. Then packs the program
# (build/windows/wellscribe-onyx-<version>-win64.zip and the NSIS installer) and
# checks that the installer installs and uninstalls under Wine.
# Installs what is missing; exits non-zero on any failure. Every Wine command is
# bounded in time, and the Wine server, prefix and X server it started go away at
# the end.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)

# The Linux side (the simulated logger and its harness) needs the usual compiler and
# GoogleTest; the Windows side mingw-w64, GoogleTest's sources and Wine.
packages=(cmake ninja-build g++ libgtest-dev googletest g++-mingw-w64-x86-64-posix wine64
    xvfb nsis)
scripts/ensure-packages.sh "${packages[@]}"

scripts/windows-qt.sh >/dev/null

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

xvfb=""
cleanup() {
    timeout 20 "$wineserver" -k 2>/dev/null || true
    timeout 20 "$wineserver" -w 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
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

echo "== The program under Wine and Xvfb, on the simulated logger as COM5:"
display=""
for number in $(seq 90 120); do
    if [ ! -e "/tmp/.X$number-lock" ] && [ ! -e "/tmp/.X11-unix/X$number" ]; then
        display=:$number
        break
    fi
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
# A virtual desktop of Wine's own draws the window's frame and caption.
DISPLAY=$display ONYX_WINE=$wine timeout 300 \
    build/windows-host/tests/windows/onyx-wine-link-harness --program "$prefix/dosdevices" -- \
    timeout 240 "$wine" explorer /desktop=onyx,800x700 \
    build/windows/tests/windows/onyx-wine-program-driver.exe \
    build/windows/src/ui/wellscribe-onyx.exe build/windows/main-window.png || status=1

echo "== Packing (build/windows: zip and installer)"
(cd build/windows && cpack -G "ZIP;NSIS" >/dev/null) || status=1
installer=$(ls build/windows/wellscribe-onyx-*-win64.exe 2>/dev/null | head -n 1)
zip=$(ls build/windows/wellscribe-onyx-*-win64.zip 2>/dev/null | head -n 1)
echo "${zip:-no zip}"
echo "${installer:-no installer}"

echo "== The installer under Wine: install, run, uninstall"
if [ -n "$installer" ]; then
    DISPLAY=$display timeout 120 "$wine" "$installer" /S || status=1
    timeout 60 "$wineserver" -w || true
    installed="$prefix/drive_c/Program Files/Wellscribe Onyx"
    shortcut=$(find "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
        -iname 'Wellscribe Onyx*.lnk' 2>/dev/null | head -n 1)
    version=$(timeout 60 "$wine" "$installed/wellscribe-onyx.exe" --version 2>/dev/null | tr -d '\r')
    if [ -z "$shortcut" ] || [ ! -f "$installed/Uninstall.exe" ] ||
        [ "${version%% *}" != wellscribe-onyx ]; then
        echo "FAILED: the installer left no Start-menu entry, uninstaller or working program" >&2
        status=1
    else
        echo "Installed: $version, Start menu ${shortcut#"$prefix/"}"
        DISPLAY=$display timeout 120 "$wine" "$installed/Uninstall.exe" /S || status=1
        timeout 60 "$wineserver" -w || true
        for _ in $(seq 20); do [ -e "$installed/wellscribe-onyx.exe" ] || break; sleep 0.5; done
        if [ -e "$installed/wellscribe-onyx.exe" ]; then
            echo "FAILED: the uninstaller left the program behind" >&2
            status=1
        else
            echo "Uninstalled"
        fi
    fi
else
    status=1
fi

if [ "$status" -eq 0 ]; then
    echo "Windows tests passed"
else
    echo "Windows tests FAILED" >&2
fi
exit "$status"

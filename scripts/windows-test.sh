#!/usr/bin/env bash
# Cross-builds the whole program and its tests for 64-bit Windows (the windows preset:
# mingw-w64 and the static Qt of scripts/windows-qt.sh) and runs them under Wine: the
# suites that need no device, the link tests against a simulated logger that Wine
# presents as COM5, and the real wellscribe-onyx.exe on that logger under Xvfb, whose
# picture goes to build/windows/main-window.png, then through a silent logger, a full
# dump and a dump whose line the logger cuts. Then packs the program
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
    xvfb nsis librsvg2-bin icoutils unzip)
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
xvfb_large=""
cleanup() {
    # Ends the persistent server, and with it every Wine process of the prefix.
    timeout 20 "$wineserver" -k 2>/dev/null || true
    timeout 20 "$wineserver" -w 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    [ -z "$xvfb_large" ] || kill "$xvfb_large" 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT

status=0
echo "== Cross-building for Windows (build/windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== The programs' resources: manifest, icon and version"
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
tests/windows/check-resources.sh build/windows/packaging/wellscribe-onyx.ico "$version" \
    build/windows/src/ui/wellscribe-onyx.exe build/windows/src/ui/onyx.exe || status=1

echo "== Building the simulated logger's harness for Linux (build/windows-host)"
cmake --preset ci -B build/windows-host -DONYX_BUILD_UI=OFF >/dev/null
cmake --build build/windows-host --target onyx-wine-link-harness

echo "== Preparing the Wine prefix"
timeout 180 "$wine" wineboot --init >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
timeout 60 "$wineserver" -w || true
# One Wine server for the whole run, kept even between programs, so that no program
# meets a server that is just going down or coming up. It writes its object list to
# the log when the simulated logger hangs up a terminal it holds.
"$wineserver" -p 2>>build/windows/wineserver.log
# Wine's own services start now, away from any test's output: one started by a test
# program would hold that program's output open for as long as the server runs.
timeout 120 "$wine" wineboot >/dev/null 2>&1 </dev/null || true
# Wine's programs take their arguments and file names in the locale's encoding: UTF-8,
# so that the folder names below reach Windows whole.
export LC_ALL=C.UTF-8
# The same emulator CTest uses: a program Wine ended before it ran is started once more.
run_wine=("$root/cmake/wine-test.sh" "$wine")

echo "== Windows tests under Wine (no device)"
# CTest starts each test under Wine through the build's emulator setting. The lists of
# discovered tests are made afresh: CMake 3.25 appends a new list to an older one.
find build/windows -name '*_tests.cmake' -path '*\[*\]*' -delete
timeout 600 ctest --preset windows --timeout 120 || status=1

echo "== Windows link tests under Wine, against the simulated logger on COM5"
timeout 300 build/windows-host/tests/windows/onyx-wine-link-harness "$prefix/dosdevices" -- \
    timeout 240 "${run_wine[@]}" build/windows/tests/windows/onyx_windows_link_tests.exe || status=1

echo "== The program under Wine and Xvfb, on the simulated logger as COM5:"
# The program in a folder named in three scripts, which the ANSI code page cannot hold:
# its default dump name lies there.
program_folder="$prefix/drive_c/users/Jürgen Zoë Ζωή 李/Onyx"
program_windows='C:\users\Jürgen Zoë Ζωή 李\Onyx\wellscribe-onyx.exe'
mkdir -p "$program_folder"
cp build/windows/src/ui/wellscribe-onyx.exe "$program_folder/"
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
# A virtual desktop of Wine's own draws the window's frame and caption. The driver
# clicks through information, self-test, a silent logger, a full dump and a dump whose
# line is cut; the harness checks the requests and the dump files.
started=$(date +%s)
DISPLAY=$display ONYX_WINE=$wine timeout 600 \
    build/windows-host/tests/windows/onyx-wine-link-harness --program "$program_folder" \
    "$prefix/dosdevices" -- \
    timeout 540 "${run_wine[@]}" explorer /desktop=onyx,800x700 \
    build/windows/tests/windows/onyx-wine-program-driver.exe \
    "$program_windows" build/windows/main-window.png || status=1
echo "The program's run took $(($(date +%s) - started)) s"

echo "== The program at 144 dpi: the main window and both dialogs (build/windows/144dpi)"
# Wine's LogPixels; every program started afterwards draws at 150 %.
pixels='HKCU\Control Panel\Desktop'
timeout 60 "$wine" reg add "$pixels" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1 || status=1
mkdir -p build/windows/144dpi
# A screen of its own, as large as the desktop on it, so that the main run keeps the
# screen it was measured on.
large_display=""
for number in $(seq 121 150); do
    if [ ! -e "/tmp/.X$number-lock" ] && [ ! -e "/tmp/.X11-unix/X$number" ]; then
        large_display=:$number
        break
    fi
done
Xvfb "$large_display" -screen 0 1400x1100x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_large=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${large_display#:}" ] && break; sleep 0.1; done
DISPLAY=$large_display ONYX_WINE=$wine timeout 300 \
    build/windows-host/tests/windows/onyx-wine-link-harness --serve "$prefix/dosdevices" -- \
    timeout 240 "${run_wine[@]}" explorer /desktop=onyx144,1400x1100 \
    build/windows/tests/windows/onyx-wine-program-driver.exe --screenshots \
    "$program_windows" 'Z:'"$(pwd | tr / '\\')"'\build\windows\144dpi' || status=1
timeout 60 "$wine" reg add "$pixels" /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1 || status=1

echo "== onyx.exe under Wine, on the simulated logger as COM5:"
# The command line reads the logger as the window does and prints one JSON document;
# the check below gives the harness its verdict.
onyx_json=build/windows/onyx-info.json
onyx_check() {
    timeout 90 "$root/cmake/wine-test.sh" "$wine" build/windows/src/ui/onyx.exe info --json COM5: \
        >"$onyx_json"
    if grep -q '"serialNumber": "5902140"' "$onyx_json" && grep -q '"ok": true' "$onyx_json"; then
        echo "onyx.exe info --json COM5: read serial number 5902140"
        echo passed >"$prefix/drive_c/onyx-link/result"
    else
        echo "FAILED: onyx.exe info --json COM5: did not read the logger:" >&2
        cat "$onyx_json" >&2
    fi
}
export -f onyx_check
export onyx_json prefix root wine
ONYX_WINE=$wine timeout 120 build/windows-host/tests/windows/onyx-wine-link-harness --serve \
    "$prefix/dosdevices" -- bash -c onyx_check || status=1

echo "== Packing (build/windows: zip and installer)"
(cd build/windows && cpack -G "ZIP;NSIS" >/dev/null) || status=1
installer=$(ls build/windows/wellscribe-onyx-*-win64.exe 2>/dev/null | head -n 1)
zip=$(ls build/windows/wellscribe-onyx-*-win64.zip 2>/dev/null | head -n 1)
echo "${zip:-no zip}"
echo "${installer:-no installer}"
# The texts a Windows user opens in Notepad have Windows line ends.
if [ -n "$zip" ]; then
    for text in README.md THIRD-PARTY.txt docs/guide.md; do
        if ! unzip -l "$zip" "$text" >/dev/null || unzip -p "$zip" "$text" | grep -q $'[^\r]$'; then
            echo "FAILED: $text is missing from the zip or has a line without a Windows line end" >&2
            status=1
        fi
    done
fi

echo "== The installer under Wine: install, run, uninstall"
if [ -n "$installer" ]; then
    DISPLAY=$display timeout 120 "$wine" "$installer" /S || status=1
    installed="$prefix/drive_c/Program Files/Wellscribe Onyx"
    shortcut=$(find "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
        -iname 'Wellscribe Onyx*.lnk' 2>/dev/null | head -n 1)
    version=$(timeout 60 "$wine" "$installed/wellscribe-onyx.exe" --version 2>/dev/null | tr -d '\r')
    uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Wellscribe Onyx'
    entry_icon=$(timeout 60 "$wine" reg query "$uninstall_key" /v DisplayIcon 2>/dev/null |
        tr -d '\r' || true)
    if [ -z "$shortcut" ] || [ ! -f "$installed/Uninstall.exe" ] ||
        [ ! -f "$installed/onyx.exe" ] || [ ! -f "$installed/docs/guide.md" ] ||
        [ "${version%% *}" != wellscribe-onyx ]; then
        echo "FAILED: the installer left no Start-menu entry, uninstaller, onyx.exe, guide or working program" >&2
        status=1
    elif [[ "$entry_icon" != *wellscribe-onyx.exe* ]]; then
        echo "FAILED: the entry under Apps has no icon of the program's: $entry_icon" >&2
        status=1
    else
        echo "Installed: $version, Start menu ${shortcut#"$prefix/"}, icon of the Apps entry from wellscribe-onyx.exe"
        # onyx.exe has no window: the installer tells that it runs by its file alone. A
        # program of the tests' own that waits on its input stands in for it.
        mv "$installed/onyx.exe" "$prefix/onyx.exe.installed"
        cp build/windows/tests/windows/onyx-wine-running-stand-in.exe "$installed/onyx.exe"
        mkfifo "$prefix/stand-in-input"
        timeout 120 "$wine" "$installed/onyx.exe" <"$prefix/stand-in-input" \
            >"$prefix/stand-in-output" 2>/dev/null &
        stand_in=$!
        exec 9>"$prefix/stand-in-input"
        for _ in $(seq 300); do
            grep -q running "$prefix/stand-in-output" 2>/dev/null && break
            sleep 0.2
        done
        console_status=0
        DISPLAY=$display timeout 120 "$wine" "$installer" /S || console_status=$?
        exec 9>&-
        wait "$stand_in" 2>/dev/null || true
        echo "With onyx.exe running: installer status $console_status"
        if [ "$console_status" -ne 2 ] ||
            ! cmp -s build/windows/tests/windows/onyx-wine-running-stand-in.exe "$installed/onyx.exe"; then
            echo "FAILED: with onyx.exe running the installer did not refuse, or changed it" >&2
            status=1
        fi
        mv -f "$prefix/onyx.exe.installed" "$installed/onyx.exe"
        # With the program open, neither the installer nor the uninstaller may change
        # anything: in a silent run they end with a failure status and leave it whole.
        DISPLAY=$display "$wine" "$installed/wellscribe-onyx.exe" >/dev/null 2>&1 &
        running=$!
        if ! DISPLAY=$display timeout 90 "$wine" \
            build/windows/tests/windows/onyx-wine-program-driver.exe --wait-for-window; then
            echo "FAILED: the installed program showed no window" >&2
            status=1
        fi
        before=$(md5sum <"$installed/wellscribe-onyx.exe")
        installer_status=0
        DISPLAY=$display timeout 120 "$wine" "$installer" /S || installer_status=$?
        # In place (_?=, which must stand unquoted at the end of the command line: hence
        # the batch file), so that its own status is the uninstall's.
        printf '@"C:\\Program Files\\Wellscribe Onyx\\Uninstall.exe" /S _?=C:\\Program Files\\Wellscribe Onyx\r\n@exit /b %%ERRORLEVEL%%\r\n' \
            >"$prefix/drive_c/onyx-uninstall.bat"
        uninstaller_status=0
        DISPLAY=$display timeout 120 "$wine" cmd /c 'C:\onyx-uninstall.bat' || uninstaller_status=$?
        echo "With the program open: installer status $installer_status, uninstaller status $uninstaller_status"
        if [ "$installer_status" -eq 0 ] || [ "$uninstaller_status" -eq 0 ] ||
            [ ! -e "$installed/wellscribe-onyx.exe" ] ||
            [ "$(md5sum <"$installed/wellscribe-onyx.exe")" != "$before" ] ||
            [ ! -f "$installed/Uninstall.exe" ]; then
            echo "FAILED: with the program open the installer or uninstaller reported success or changed it" >&2
            status=1
        fi
        kill "$running" 2>/dev/null || true
        wait "$running" 2>/dev/null || true
        # The uninstaller goes on from a copy of itself in the temporary folder.
        DISPLAY=$display timeout 120 "$wine" "$installed/Uninstall.exe" /S || status=1
        for _ in $(seq 60); do [ -e "$installed/wellscribe-onyx.exe" ] || break; sleep 0.5; done
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

#!/usr/bin/env bash
# Checks the Windows programs' resources:
#   check-resources.sh ICON.ico VERSION PROGRAM.exe...
#
# Each .exe must carry its application manifest (resource 1 of type 24: asInvoker,
# Windows 10 and 11, per-monitor DPI awareness v2, long paths; no UTF-8 code page,
# since reports are written in the PC's code page), its icon (IDI_ICON1, every size
# from 16 to 256 pixels, the same as the .ico made at build time) and a VERSIONINFO
# naming Corvane, the product and the .exe itself with the project's version. Needs
# wrestool and icotool (icoutils) and strings (binutils). Exits non-zero on any
# failure.
set -uo pipefail

if [ $# -lt 3 ]; then
    echo "usage: check-resources.sh ICON.ico VERSION PROGRAM.exe..." >&2
    exit 2
fi
ico=$1
version=$2
shift 2
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

icon_sizes() {
    icotool -l "$1" 2>/dev/null | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\).*/\1x\2/p' |
        sort -un -t x -k 1 | tr '\n' ' '
}

sizes=$(icon_sizes "$ico")
echo "Icon sizes: $sizes"
for size in 16 24 32 48 256; do
    [[ " $sizes " == *" ${size}x${size} "* ]] || fail "$ico has no ${size}x${size} image"
done

# What the manifest must say, and what it must not.
manifest_needs=(
    'requestedExecutionLevel level="asInvoker"'
    'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"'
    '>PerMonitorV2</dpiAwareness>'
    '>true</longPathAware>'
)
manifest_refuses=("<activeCodePage")

extracted=$(mktemp)
trap 'rm -f "$extracted"' EXIT
for exe in "$@"; do
    name=$(basename "$exe")
    resources=$(wrestool -l "$exe")

    manifests=$(grep -c -- "--type=24 " <<<"$resources")
    [ "$manifests" -eq 1 ] || fail "$name has $manifests manifests, not one"
    grep -q -- "--type=24 --name=1 " <<<"$resources" || fail "$name has no manifest 1"
    manifest=$(wrestool -x --raw --type=24 --name=1 "$exe" 2>/dev/null)
    for text in "${manifest_needs[@]}"; do
        grep -qF -- "$text" <<<"$manifest" || fail "the manifest of $name lacks $text"
    done
    for text in "${manifest_refuses[@]}"; do
        grep -qF -- "$text" <<<"$manifest" && fail "the manifest of $name has $text"
    done

    grep -q -- "--type=14 --name='IDI_ICON1'" <<<"$resources" || fail "$name has no icon group IDI_ICON1"
    grep -q -- "--type=16 " <<<"$resources" || fail "$name has no version resource"
    # The icon in the .exe is the one made from the SVG, size for size.
    wrestool -x --type=group_icon --name=IDI_ICON1 "$exe" >"$extracted" 2>/dev/null
    exe_sizes=$(icon_sizes "$extracted")
    [ "$exe_sizes" = "$sizes" ] || fail "the icon in $name has the sizes '$exe_sizes', not '$sizes'"

    # VERSIONINFO: its strings are UTF-16, each value after its key.
    info=$(wrestool -x --raw --type=16 "$exe" | strings -el)
    value() { grep -A1 -x "$1" <<<"$info" | sed -n 2p; }
    echo "$name: $(value FileDescription), $(value CompanyName), file $(value FileVersion), product $(value ProductVersion)"
    [ "$(value CompanyName)" = Corvane ] || fail "$name: CompanyName is not Corvane"
    [ "$(value ProductName)" = "Wellscribe Onyx Diagnostics Utility" ] || fail "$name: ProductName is wrong"
    [ "$(value OriginalFilename)" = "$name" ] || fail "$name: OriginalFilename is $(value OriginalFilename)"
    [ "$(value FileVersion)" = "$version" ] || fail "$name: FileVersion is not $version"
    [ "$(value ProductVersion)" = "$version" ] || fail "$name: ProductVersion is not $version"
done

[ "$failures" -eq 0 ] && echo "The programs' manifest, icon and version resource are in place"
exit $((failures > 0))

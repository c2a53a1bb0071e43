#!/usr/bin/env bash
# Checks the Windows program's resources: check-resources.sh PROGRAM.exe ICON.ico VERSION
#
# The .exe must carry its icon (IDI_ICON1, every size from 16 to 256 pixels) and a
# VERSIONINFO naming Corvane and the product with the project's version; the .ico
# made at build time must hold the same sizes. Needs wrestool and icotool (icoutils)
# and strings (binutils). Exits non-zero on any failure.
set -uo pipefail

exe=$1
ico=$2
version=$3
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

sizes=$(icotool -l "$ico" | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\).*/\1x\2/p' |
    sort -un -t x -k 1 | tr '\n' ' ')
echo "Icon sizes: $sizes"
for size in 16 24 32 48 256; do
    [[ " $sizes " == *" ${size}x${size} "* ]] || fail "$ico has no ${size}x${size} image"
done

resources=$(wrestool -l "$exe")
grep -q -- "--type=14 --name='IDI_ICON1'" <<<"$resources" || fail "$exe has no icon group IDI_ICON1"
grep -q -- "--type=16 " <<<"$resources" || fail "$exe has no version resource"
# The icon in the .exe is the one made from the SVG, size for size.
extracted=$(mktemp)
trap 'rm -f "$extracted"' EXIT
wrestool -x --type=group_icon --name=IDI_ICON1 "$exe" >"$extracted" 2>/dev/null
exe_sizes=$(icotool -l "$extracted" 2>/dev/null |
    sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\).*/\1x\2/p' | sort -un -t x -k 1 | tr '\n' ' ')
[ "$exe_sizes" = "$sizes" ] || fail "the icon in $exe has the sizes '$exe_sizes', not '$sizes'"

# VERSIONINFO: its strings are UTF-16, each value after its key.
info=$(wrestool -x --raw --type=16 "$exe" | strings -el)
value() { grep -A1 -x "$1" <<<"$info" | sed -n 2p; }
echo "Version resource: $(value CompanyName), $(value ProductName), file $(value FileVersion), product $(value ProductVersion)"
[ "$(value CompanyName)" = Corvane ] || fail "CompanyName is not Corvane"
[ "$(value ProductName)" = "Wellscribe Onyx Diagnostics Utility" ] || fail "ProductName is wrong"
[ "$(value FileVersion)" = "$version" ] || fail "FileVersion is not $version"
[ "$(value ProductVersion)" = "$version" ] || fail "ProductVersion is not $version"

[ "$failures" -eq 0 ] && echo "The program's icon and version resource are in place"
exit $((failures > 0))

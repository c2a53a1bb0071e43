#!/usr/bin/env bash
# Builds the Linux package build/package/wellscribe-onyx_<version>_amd64.deb (CPack,
# dependencies from the Qt libraries the program links, manual pages made with
# help2man), checks it by Debian's rules (lintian; desktop-file-validate for the menu
# entry, appstreamcli for the AppStream metadata; any error or warning fails), installs
# it with apt-get and starts the installed programs (the window offscreen), as an
# ordinary user where the machine has one for the tests (onyx-test), as the calling
# user otherwise, and reads the installed manual page with man.
set -euo pipefail

cd "$(dirname "$0")/.."
scripts/ensure-packages.sh cmake ninja-build g++ qt6-base-dev dpkg-dev file help2man \
    lintian desktop-file-utils appstream man-db

echo "== Building the program for the package (build/package)"
# Built with Debian's hardening flags (dpkg-buildflags), as Debian's own packages are.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset ci -B build/package -DONYX_BUILD_TESTS=OFF \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/package --target wellscribe-onyx onyx onyx_package_files
rm -f build/package/wellscribe-onyx_*_amd64.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/wellscribe-onyx_*_amd64.deb | head -n 1)
echo "$deb: depends on $(dpkg-deb -f "$deb" Depends)"

echo "== Checking it by Debian's rules"
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
for file in usr/share/man/man1/onyx.1.gz usr/share/man/man1/wellscribe-onyx.1.gz \
    usr/share/doc/wellscribe-onyx/changelog.gz usr/share/doc/wellscribe-onyx/copyright \
    usr/share/doc/wellscribe-onyx/guide.md; do
    [ -f "$contents/$file" ] || { echo "FAILED: the package has no $file" >&2; exit 1; }
done
# desktop-file-validate fails on errors only: its warnings and hints fail here too.
validation=$(desktop-file-validate "$contents/usr/share/applications/wellscribe-onyx.desktop" 2>&1) ||
    { echo "$validation" >&2; echo "FAILED: desktop-file-validate" >&2; exit 1; }
[ -z "$validation" ] || { echo "$validation" >&2; echo "FAILED: desktop-file-validate" >&2; exit 1; }
echo "desktop-file-validate: no complaints"
appstreamcli validate --no-net --strict --explain "$contents"/usr/share/metainfo/*.metainfo.xml ||
    { echo "FAILED: appstreamcli validate" >&2; exit 1; }
# lintian says what it finds (infos too) and fails on any error or warning. The
# package's overrides (packaging/lintian-overrides) each say why.
lintian --info --fail-on error,warning "$deb" ||
    { echo "FAILED: lintian" >&2; exit 1; }
echo "lintian: no errors, no warnings"

echo "== Installing it"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
for file in /usr/bin/wellscribe-onyx /usr/bin/onyx /usr/share/applications/wellscribe-onyx.desktop \
    /usr/share/icons/hicolor/scalable/apps/wellscribe-onyx.svg /usr/share/man/man1/onyx.1.gz \
    /usr/share/doc/wellscribe-onyx/guide.md; do
    [ -f "$file" ] || { echo "FAILED: $file is not installed" >&2; exit 1; }
done
as=()
[ "$(id -u)" -eq 0 ] && id onyx-test >/dev/null 2>&1 && as=(runuser -u onyx-test --)
version=$(cd / && "${as[@]}" env QT_QPA_PLATFORM=offscreen wellscribe-onyx --version)
echo "Installed program: $version"
[ "${version%% *}" = wellscribe-onyx ] || { echo "FAILED: unexpected --version" >&2; exit 1; }
# The command line needs no window system at all.
version=$(cd / && env -u DISPLAY -u QT_QPA_PLATFORM "${as[@]}" onyx --version)
echo "Installed command line: $version"
[ "${version%% *}" = onyx ] || { echo "FAILED: unexpected onyx --version" >&2; exit 1; }
# The manual page as man shows it.
man_page=$(cd / && "${as[@]}" env MANPAGER=cat MANWIDTH=80 man onyx 2>&1) ||
    { echo "$man_page" >&2; echo "FAILED: man onyx" >&2; exit 1; }
grep -q "^EXIT STATUS" <<<"$man_page" || { echo "FAILED: man onyx has no EXIT STATUS" >&2; exit 1; }
echo "man onyx: $(grep -m 1 -A 1 '^NAME' <<<"$man_page" | tail -n 1 | sed 's/^ *//')"

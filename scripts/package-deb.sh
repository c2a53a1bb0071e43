#!/usr/bin/env bash
# Builds the Linux package build/package/wellscribe-onyx_<version>_amd64.deb (CPack,
# dependencies from the Qt libraries the program links), installs it with apt-get and
# starts the installed programs (the window offscreen), as an ordinary user where the machine has
# one for the tests (onyx-test), as the calling user otherwise.
set -euo pipefail

cd "$(dirname "$0")/.."
scripts/ensure-packages.sh cmake ninja-build g++ qt6-base-dev dpkg-dev file

echo "== Building the program for the package (build/package)"
cmake --preset ci -B build/package -DONYX_BUILD_TESTS=OFF >/dev/null
cmake --build build/package --target wellscribe-onyx onyx
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/wellscribe-onyx_*_amd64.deb | head -n 1)
echo "$deb: depends on $(dpkg-deb -f "$deb" Depends)"

echo "== Installing it"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
for file in /usr/bin/wellscribe-onyx /usr/bin/onyx /usr/share/applications/wellscribe-onyx.desktop \
    /usr/share/icons/hicolor/scalable/apps/wellscribe-onyx.svg; do
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

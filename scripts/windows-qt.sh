#!/usr/bin/env bash
# Provides Qt 6.4.2 for 64-bit Windows (qtbase, static, MinGW posix threads) in a
# cache folder and prints that folder's Qt prefix on its last line.
#
# With ../shared/toolchains/qt6-mingw-6.4.2.tar.xz beside the repository it unpacks
# that build after checking its SHA-256; otherwise it builds the same Qt from
# Debian's qt6-base source package (apt-get source, which apt verifies; about 40
# minutes on a 2-core machine) with the options the tarball was made with. Does
# nothing when the cache already holds a complete Qt.
#
#   scripts/windows-qt.sh [--from-source] [--configure-only]
#
# ONYX_QT_CACHE overrides the cache folder (default ~/.cache/wellscribe-onyx, where the
# windows preset looks for it).
set -euo pipefail

cd "$(dirname "$0")/.."
root=$(pwd)

version=6.4.2
tarball=$root/../shared/toolchains/qt6-mingw-$version.tar.xz
tarball_sha256=ce55dcd0212b11c77f1121fb72d9f6b68203c01d92ff4be5c261c0ae9d57b0ce
cache=${ONYX_QT_CACHE:-$HOME/.cache/wellscribe-onyx}
prefix=$cache/qt-$version-mingw
stamp=$prefix/.complete

from_source=0
configure_only=0
for argument in "$@"; do
    case $argument in
    --from-source) from_source=1 ;;
    --configure-only) from_source=1 configure_only=1 ;;
    *)
        echo "usage: $0 [--from-source] [--configure-only]" >&2
        exit 2
        ;;
    esac
done

if [ -f "$stamp" ] && [ "$configure_only" -eq 0 ]; then
    echo "$prefix"
    exit 0
fi

if [ "$from_source" -eq 0 ] && [ -f "$tarball" ]; then
    echo "== Unpacking $(basename "$tarball") into $prefix" >&2
    echo "$tarball_sha256  $tarball" | sha256sum --check --quiet ||
        { echo "$tarball: SHA-256 does not match" >&2; exit 1; }
    rm -rf "$prefix" "$prefix.partial"
    mkdir -p "$prefix.partial"
    tar -xJf "$tarball" -C "$prefix.partial"
    mv "$prefix.partial/qt6-mingw" "$prefix"
    rmdir "$prefix.partial"
    touch "$stamp"
    echo "$prefix"
    exit 0
fi

# From Debian's source. The compilers, and the host tools (moc, uic, rcc) of the
# machine's own Qt 6.4.2, which the cross-build runs instead of building its own.
scripts/ensure-packages.sh dpkg-dev cmake ninja-build g++-mingw-w64-x86-64-posix \
    qt6-base-dev qt6-base-dev-tools

work=$cache/qt-$version-source
mkdir -p "$work"

# apt-get source needs a deb-src entry for the machine's own suite.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # The same archive and key as the machine's own binary entries.
    mirror=http://deb.debian.org/debian keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
        keyring=$(awk '/^Signed-By:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
    fi
    echo "== Adding a deb-src entry: $mirror $suite main" >&2
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
        "$mirror" "$suite" "$keyring" |
        $sudo tee /etc/apt/sources.list.d/wellscribe-onyx-src.sources >/dev/null
    $sudo apt-get update -qq
fi

source_dir=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$version*" | head -n 1)
if [ -z "$source_dir" ]; then
    echo "== Fetching Debian's qt6-base source ($suite)" >&2
    available=$(apt-cache showsrc qt6-base | awk '/^Version:/ {print $2; exit}')
    case $available in
    "$version"+* | "$version"-*) ;;
    *)
        echo "this suite's qt6-base is $available, not $version" >&2
        exit 1
        ;;
    esac
    (cd "$work" && apt-get source --only-source qt6-base >&2)
fi
[ -n "$source_dir" ] || source_dir=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$version*" | head -n 1)
[ -d "$source_dir" ] || { echo "no qt6-base $version source in $work" >&2; exit 1; }

toolchain=$work/mingw-qt.toolchain.cmake
cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "$prefix")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# No wintab.h in Debian's source (removed for its licence): no tablet events. The
# windows platform plugin of 6.4.2 needs OpenGL on; it loads it at run time.
build=$work/build
echo "== Configuring Qt $version for x86_64-w64-mingw32 in $build" >&2
cmake -S "$source_dir" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_jpeg=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_opengl=ON -DINPUT_opengl=desktop \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF >&2
if [ "$configure_only" -eq 1 ]; then
    echo "== Configured; stopping before the build (--configure-only)" >&2
    exit 0
fi

echo "== Building Qt (about 40 minutes on 2 cores)" >&2
cmake --build "$build" >&2
rm -rf "$prefix"
cmake --install "$build" >&2
mkdir -p "$prefix/share/licenses"
cp "$source_dir"/LICENSES/* "$prefix/share/licenses/" 2>/dev/null ||
    cp "$source_dir"/LICENSE* "$prefix/share/licenses/"
touch "$stamp"
echo "$prefix"

#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ libgtest-dev libgmock-dev
    # Qt 6 Widgets and Qt Test, the offscreen platform, and fonts for it to draw with
    qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-qpa-plugins libgl1-mesa-dev
    fonts-liberation2 fonts-dejavu-core
)

exec "$(dirname "$0")/ensure-packages.sh" "${packages[@]}"

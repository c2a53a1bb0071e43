#!/usr/bin/env bash
# Builds and runs every test. Presets: ci (default; optimised, warnings are errors),
# dev, asan (AddressSanitizer and UndefinedBehaviorSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(ci)
for preset in "${presets[@]}"; do
    echo "=== $preset: configure, build, test"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from what clang-format makes of it with
# the project's .clang-format. `scripts/check-format.sh --fix` formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh clang-format

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
    exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/onyx-format.$$; then
    grep -E '^[^ ].*: (error|warning):' /tmp/onyx-format.$$ | cut -d: -f1 | sort -u |
        sed 's/^/unformatted: /' >&2
    rm -f /tmp/onyx-format.$$
    echo "run scripts/check-format.sh --fix" >&2
    exit 1
fi
rm -f /tmp/onyx-format.$$
echo "Formatting: every C++ file as .clang-format has it"

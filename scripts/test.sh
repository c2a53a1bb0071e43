#!/usr/bin/env bash
# Builds and runs every test. Presets: ci (default; optimised, warnings are errors),
# dev, asan (AddressSanitizer and UndefinedBehaviorSanitizer), tsan (ThreadSanitizer).
#
# The tests run as an ordinary user, as the program's users do: the superuser is
# exempt from a terminal's exclusive mode and from permission bits, so a run as
# root hides just the failures they meet. Each preset has two passes:
#   - the ordinary pass, every test but those labelled "root", as an ordinary user;
#   - the root-only pass, the few cases labelled "root" (they mount a file system
#     of their own), as root.
# Started as root, the script drops to the account onyx-test (created if missing)
# for the build and the ordinary pass, and runs the root-only pass itself. Started
# by an ordinary user, it builds and runs the ordinary pass as that user and says
# that the root-only pass was left out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(ci)

if [ "$(id -u)" -ne 0 ]; then
    for preset in "${presets[@]}"; do
        echo "=== $preset: configure, build, ordinary pass (as $(id -un))"
        if [ -e "build/$preset" ] && [ ! -w "build/$preset" ]; then
            echo "build/$preset belongs to another account: remove it first" >&2
            exit 1
        fi
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset"
        ctest --preset "$preset" --label-exclude '^root$'
    done
    # Set when root started this script for the ordinary pass only.
    if [ -z "${ONYX_ORDINARY_PASS_ONLY:-}" ]; then
        echo "=== root-only pass: left out, it needs root (sudo scripts/test.sh ${presets[*]})"
    fi
    exit 0
fi

user=onyx-test
if ! id -u "$user" >/dev/null 2>&1; then
    useradd --create-home --shell /usr/sbin/nologin --comment "Wellscribe Onyx tests" "$user"
fi
home=$(getent passwd "$user" | cut -d: -f6)
if [ ! -d "$home" ] || [ "$(stat -c %U "$home")" != "$user" ]; then
    echo "the account $user has no home folder of its own ($home)" >&2
    exit 1
fi

# A private runtime folder, where the tests publish their virtual ports and Qt
# keeps its runtime files, as a desktop session would give one.
runtime=$(runuser -u "$user" -- mktemp -d /tmp/onyx-test-runtime.XXXXXX)
trap 'rm -rf "$runtime"' EXIT
as_user() {
    runuser -u "$user" -- env -u TMPDIR XDG_RUNTIME_DIR="$runtime" "$@"
}

# The clone may sit where onyx-test cannot reach (CI clones under /root, which is
# 0700). Rather than open the owner's folders to others, the sources are copied
# into a folder onyx-test owns, and onyx-test builds and tests there: every file
# the build and the tests write is then its own. The build folders stay between
# runs, so builds are incremental (tar keeps the files' times).
tree="$home/$(basename "$PWD")-$(pwd | sha256sum | cut -c1-8)"
as_user mkdir -p "$tree"
as_user find "$tree" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
tar -cf - --exclude=./build --exclude=./.git . | as_user tar -xf - -C "$tree"
echo "=== tests run as $user in $tree"

# The root-only pass runs even when the ordinary pass failed, so that one run
# reports both; the script then stops with the failure.
for preset in "${presets[@]}"; do
    status=0
    as_user ONYX_ORDINARY_PASS_ONLY=1 "$tree/scripts/test.sh" "$preset" || status=1
    echo "=== root-only pass: $preset, as root (cases that mount a file system of their own)"
    (cd "$tree" && ctest --preset "$preset" --label-regex '^root$') || status=1
    # What CTest and the tests wrote as root goes back to onyx-test for the next run.
    chown -R "$user:" "$tree/build/$preset"
    [ "$status" -eq 0 ] || exit 1
done

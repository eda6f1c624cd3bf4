#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration, and runs the whole
# test suite under both inside a private network namespace: every datagram a test sends, broadcasts
# included, stays inside it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

if [ "${1:-}" = "--inside-namespace" ]; then
    ip link set lo up
    ip route add default dev lo
    status=0
    for preset in default asan; do
        echo "== tests: $preset"
        ctest --preset "$preset" || status=1
    done
    exit $status
fi

ensure_packages "${BUILD_PACKAGES[@]}" iproute2 util-linux
build_preset default
build_preset asan
# The arrival path under libFuzzer for a bounded time (TARVIK_FUZZ_SECONDS, 60 by default).
scripts/fuzz.sh "${TARVIK_FUZZ_SECONDS:-60}"

if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net -- "$0" --inside-namespace
else
    exec unshare --map-root-user --net -- "$0" --inside-namespace
fi

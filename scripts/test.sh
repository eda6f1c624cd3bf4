#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration, and runs the whole
# test suite under both inside a private network namespace: every datagram a test sends, broadcasts
# included, stays inside it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

# Whether named network namespaces joined by a veth pair can be made here: what the demo needs.
# Only real root can (a root mapped into a user namespace cannot mount them), with `ip netns` and
# the veth driver. Nothing is left behind.
can_run_demo() {
    local probe=tarvik-probe-$$ status=0
    ip netns add "$probe" 2>/dev/null || return 1
    ip -n "$probe" link add tvkp$$ type veth peer name tvkq$$ 2>/dev/null || status=1
    ip netns del "$probe" 2>/dev/null || true
    return $status
}

if [ "${1:-}" = "--inside-namespace" ]; then
    private_netns_up
    status=0
    for preset in default asan; do
        echo "== tests: $preset"
        ctest --preset "$preset" || status=1
    done
    # The demo as a new user runs it: the tool and three simulated modules in two more namespaces
    # of their own, in different IP subnets, joined only by a veth pair; then the tool with two
    # cards to two module networks and no default route.
    if can_run_demo; then
        echo "== demo check"
        scripts/demo.sh --check --no-build || status=1
        echo "== demo check: two networks, two cards, no default route"
        scripts/demo.sh --check --two-lans --no-build || status=1
    else
        echo "== demo check: skipped (needs root and named network namespaces with a veth pair)"
    fi
    exit $status
fi

# desktop-file-utils, appstream, dpkg-dev, file, libxml2-utils: the package test (skipped without them).
# fonts-noto-cjk: the window tests measure the fields and labels with the fonts the window is shown in.
ensure_packages "${BUILD_PACKAGES[@]}" iproute2 util-linux desktop-file-utils appstream dpkg-dev file libxml2-utils \
    fonts-noto-cjk
build_preset default
build_preset asan
# The three fuzz targets one after the other, for a bounded time in all (TARVIK_FUZZ_SECONDS, 60 by default).
scripts/fuzz.sh "${TARVIK_FUZZ_SECONDS:-60}"

in_private_netns "$0" --inside-namespace

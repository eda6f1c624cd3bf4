#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configuration and the fuzz targets,
# and runs the whole test suite under both builds, each inside a private network namespace of its
# own (every datagram a test sends, broadcasts included, stays inside it), beside a short fuzz run.
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
    preset=$2
    private_netns_up
    status=0
    ctest --preset "$preset" || status=1
    # The demo as a new user runs it: the tool and three simulated modules in two more namespaces
    # of their own, in different IP subnets, joined only by a veth pair; then the tool with two
    # cards to two module networks and no default route.
    if [ "$preset" = default ]; then
        if can_run_demo; then
            echo "== demo check"
            scripts/demo.sh --check --no-build || status=1
            echo "== demo check: two networks, two cards, no default route"
            scripts/demo.sh --check --two-lans --no-build || status=1
        else
            echo "== demo check: skipped (needs root and named network namespaces with a veth pair)"
        fi
    fi
    exit $status
fi

# desktop-file-utils, appstream, dpkg-dev, file, libxml2-utils: the package test (skipped without them).
# fonts-noto-cjk: the window tests measure the fields and labels with the fonts the window is shown in.
ensure_packages "${BUILD_PACKAGES[@]}" iproute2 util-linux desktop-file-utils appstream dpkg-dev file libxml2-utils \
    fonts-noto-cjk
build_preset default
build_preset asan
scripts/fuzz.sh --build-only

# Then, side by side: the suite of each build in a private network namespace of its own (both bind
# the tool's port, and they spend most of their time waiting for replies and time-outs), and the three
# fuzz targets one after the other for a bounded time in all (TARVIK_FUZZ_SECONDS, 60 by default).
# Each writes to a log of its own, shown whole when all have ended.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
run_logged() {
    local name=$1
    shift
    local status=0
    ("$@") >"$logs/$name.log" 2>&1 || status=$?
    echo "$status" >"$logs/$name.status"
}
run_logged default in_private_netns "$0" --inside-namespace default &
run_logged asan in_private_netns "$0" --inside-namespace asan &
run_logged fuzz scripts/fuzz.sh "${TARVIK_FUZZ_SECONDS:-60}" &
wait

status=0
for name in default asan fuzz; do
    case $name in
    fuzz) echo "== fuzzing" ;;
    *) echo "== tests: $name" ;;
    esac
    cat "$logs/$name.log"
    if [ "$(cat "$logs/$name.status")" != 0 ]; then
        echo "== $name: FAILED"
        status=1
    fi
done
exit $status

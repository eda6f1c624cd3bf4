#!/usr/bin/env bash
# Installs what is missing, builds the dev configuration (the normal one, every warning an error),
# the sanitizer configuration and the fuzz targets, and runs the whole test suite under both builds,
# each inside a private network namespace of its own (every datagram a test sends, broadcasts
# included, stays inside it), beside a short fuzz run.
# Then, when a Qt for Windows is at hand, the Windows build under Wine (see windows_tests below).
# It also runs clang-tidy over src/ and tools/ beside the suites (scripts/tidy.sh; TARVIK_TIDY=0 skips it).
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
    # A test that fails is run once more (the suites share two cores with the fuzzers and clang-tidy,
    # and a test of real sockets and time-outs may lose a race to them); every failed attempt is
    # listed again at the end of the output.
    ctest --preset "$preset" --repeat until-pass:2 || status=1
    # The demo as a new user runs it: the tool and three simulated modules in two more namespaces
    # of their own, in different IP subnets, joined only by a veth pair; then the tool with two
    # cards to two module networks and no default route.
    if [ "$preset" = dev ]; then
        if can_run_demo; then
            echo "== demo check"
            scripts/demo.sh --check --no-build --build-dir build/dev || status=1
            echo "== demo check: two networks, two cards, no default route"
            scripts/demo.sh --check --two-lans --no-build --build-dir build/dev || status=1
        else
            echo "== demo check: skipped (needs root and named network namespaces with a veth pair)"
        fi
    fi
    exit $status
fi

if [ "${1:-}" = "--inside-wine-namespace" ]; then
    # The Windows test programs under Wine, in a namespace of their own with the loopback alone.
    # Wine's server opens the programs' sockets, so it starts in here; and Wine's own processes
    # start before the tests, or each would hold a test's output open and ctest wait for them.
    private_netns_up
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    status=0
    ctest --preset windows || status=1
    wineserver -k
    exit $status
fi

# The Windows programs, tests and packages under Wine, when there is a Qt for Windows to build them
# with (scripts/test.sh never builds Qt itself).
windows_tests() {
    local started=$SECONDS status=0
    echo "== Windows: build with the Qt for Windows in $windows_qt"
    windows_build "$windows_qt" >"$logs/windows-build.log" 2>&1 || { cat "$logs/windows-build.log"; return 1; }
    # One Wine prefix, made once, for every test, in a namespace of its own like everything after;
    # no desktop menu entries made by Wine, no .NET or HTML engine asked for.
    WINEPREFIX=$(mktemp -d /tmp/tarvik-wine.XXXXXX)
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
    unshare --net -- sh -c 'wineboot -i >/dev/null 2>&1; wineserver -w'
    echo "== Windows: test programs under Wine"
    (in_private_netns "$0" --inside-wine-namespace) || status=1
    echo "== Windows: tarvik-cli.exe against tarvik-sim, the console, tarvik.exe's command line"
    tests/windows/check_programs.sh build/dev build/windows "$windows_qt" || status=1
    echo "== Windows: the zip and the installer"
    scripts/windows.sh --no-build --check || status=1
    rm -rf "$WINEPREFIX"
    echo "== Windows: $((SECONDS - started)) s"
    return $status
}

# desktop-file-utils, appstream, dpkg-dev, file, libxml2-utils, lintian: the package test (skipped without them).
# tshark: the Wireshark dissector's test reads a capture with it; nftables: tarvik-cli doctor's tests
# set up a firewall in their private namespaces.
# fonts-noto-cjk: the window tests measure the fields and labels with the fonts the window is shown in.
ensure_packages xz-utils
windows_packages=()
if windows_qt=$(windows_qt_prefix); then
    windows_packages=("${WINDOWS_PACKAGES[@]}")
else
    [ $? = 1 ] || exit 1 # TARVIK_QT_WINDOWS names no Qt
    windows_qt=
fi
tidy=()
[ "${TARVIK_TIDY:-1}" = 0 ] || tidy=(clang-tidy)
ensure_packages "${BUILD_PACKAGES[@]}" clang-format "${tidy[@]}" iproute2 util-linux desktop-file-utils appstream dpkg-dev file libxml2-utils lintian \
    fonts-noto-cjk tshark nftables "${windows_packages[@]}"
# The project's own formatting: every C++ file as .clang-format lays it out.
echo "== format (clang-format)"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
build_preset dev
build_preset asan
scripts/fuzz.sh --build-only

# Then, side by side: the suite of each build in a private network namespace of its own (both bind
# the tool's port, and they spend most of their time waiting for replies and time-outs), and the three
# fuzz targets one after the other for a bounded time in all (TARVIK_FUZZ_SECONDS, 60 by default;
# the same mutations every time, TARVIK_FUZZ_SEED=1, so that the suite's verdict does not depend on
# luck: exploring is for scripts/fuzz.sh's long runs), and clang-tidy when asked for. Each writes to a log of its own, shown whole when all have ended.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
run_logged() {
    local name=$1
    shift
    local status=0 started=$SECONDS
    ("$@") >"$logs/$name.log" 2>&1 || status=$?
    echo "$status" >"$logs/$name.status"
    echo "$((SECONDS - started))" >"$logs/$name.seconds"
}
run_logged dev in_private_netns "$0" --inside-namespace dev &
run_logged asan in_private_netns "$0" --inside-namespace asan &
run_logged fuzz env TARVIK_FUZZ_SEED="${TARVIK_FUZZ_SEED:-1}" scripts/fuzz.sh "${TARVIK_FUZZ_SECONDS:-60}" &
names=(dev asan fuzz)
if [ ${#tidy[@]} -gt 0 ]; then
    run_logged tidy scripts/tidy.sh build/dev &
    names+=(tidy)
fi
wait

status=0
for name in "${names[@]}"; do
    case $name in
    fuzz) echo "== fuzzing" ;;
    tidy) echo "== clang-tidy" ;;
    *) echo "== tests: $name" ;;
    esac
    cat "$logs/$name.log"
    if [ "$(cat "$logs/$name.status")" != 0 ]; then
        echo "== $name: FAILED"
        status=1
    fi
    echo "== $name: $(cat "$logs/$name.seconds") s"
done

[ ${#tidy[@]} -gt 0 ] || echo "== clang-tidy: not run (TARVIK_TIDY=0)"
if [ -n "$windows_qt" ]; then
    windows_tests || { echo "== Windows: FAILED"; status=1; }
else
    echo "== Windows: skipped: no Qt for Windows (neither ../shared/qt-windows/ nor build/qt-windows/); to enable it, run scripts/windows-qt.sh once (about half an hour) or set TARVIK_QT_WINDOWS to a Qt for Windows (prefix or tarball)"
fi
# Last, where the end of a long output shows it: every test attempt that failed, and why the run failed.
for name in "${names[@]}"; do
    if grep -qE '\*\*\*(Failed|Exception|Timeout)|  Failed  |broken rule|ERROR: ' "$logs/$name.log"; then
        echo "== $name: failed attempts:"
        grep -E '\*\*\*(Failed|Exception|Timeout)|  Failed  |^FAIL!|^   Loc: |broken rule|ERROR: ' "$logs/$name.log" | head -40
    fi
    [ "$(cat "$logs/$name.status")" = 0 ] || echo "== $name: FAILED"
done
echo "== scripts/test.sh: $SECONDS s"
exit $status

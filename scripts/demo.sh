#!/usr/bin/env bash
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

usage() {
    cat <<'EOF'
Demo: the configuration tool and three simulated modules (tarvik-sim), each side in a network
namespace of its own, joined only by a veth pair and in different IP subnets -- the setting the
tool is made for. Nothing leaves the machine: neither namespace is connected to any real network.

  scripts/demo.sh                  install what is missing, build, open the tool with 3 modules
  scripts/demo.sh --check          the same without a display: checks that the namespaces, the
                                   veth pair and the modules come up and that the tool (offscreen)
                                   finds the 3 modules and reads one
  scripts/demo.sh --count 5        five modules
  scripts/demo.sh -- --drop 'PT1?#1'   everything after -- goes to tarvik-sim (see tarvik-sim --help)
  --no-build, --build-dir DIR      use an existing build (default build/default)

Needs root for the namespaces (it asks through sudo); the tool and the modules themselves run as
the invoking user.
EOF
}

TOOL_ADDRESS=172.20.0.1/24      # the PC
MODULE_ADDRESS=192.168.1.100/24 # the modules' side, the subnet of their factory addresses

mode=window
count=3
build=1
build_dir=build/default
sim_args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --check) mode=check ;;
    --count) count=$2; shift ;;
    --no-build) build=0 ;;
    --build-dir) build_dir=$2; shift ;;
    --) shift; sim_args=("$@"); break ;;
    -h | --help) usage; exit 0 ;;
    *) echo "demo.sh: unknown option $1 (try --help)" >&2; exit 1 ;;
    esac
    shift
done

if [ "$build" = 1 ]; then
    ensure_packages "${BUILD_PACKAGES[@]}" iproute2 util-linux fonts-noto-cjk
    if [ "$build_dir" = build/default ]; then
        build_preset default
    else
        cmake --build "$build_dir" -j "$(nproc)"
    fi
fi
for program in src/tarvik tools/sim/tarvik-sim tools/sim/tarvik-demo-check; do
    [ -x "$build_dir/$program" ] || { echo "demo.sh: $build_dir/$program is missing; build first" >&2; exit 1; }
done

# The namespaces need root; the build above stays the user's.
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "demo.sh: root is needed for the network namespaces" >&2; exit 1; }
    args=(--no-build --build-dir "$build_dir" --count "$count")
    [ "$mode" = check ] && args+=(--check)
    exec sudo --preserve-env=DISPLAY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,XAUTHORITY "$0" "${args[@]}" -- "${sim_args[@]}"
fi

# The tool and the modules run as the user who started the demo through sudo (root otherwise).
as_user=()
if [ -n "${SUDO_UID:-}" ] && [ "${SUDO_UID}" != 0 ]; then
    command -v setpriv >/dev/null 2>&1 || ensure_packages util-linux
    as_user=(setpriv --reuid="$SUDO_UID" --regid="$SUDO_GID" --init-groups --)
fi

# The window goes to the user's display. A network namespace keeps the filesystem sockets: X11's
# /tmp/.X11-unix/X<n> (but not its abstract socket, hence unix:<n>) and Wayland's socket.
display_env=()
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    display_env+=("WAYLAND_DISPLAY=$WAYLAND_DISPLAY" "XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-}")
fi
if [ -n "${DISPLAY:-}" ]; then
    case "$DISPLAY" in
    :* | unix:*) display_env+=("DISPLAY=unix:${DISPLAY#*:}") ;;
    *) echo "demo.sh: DISPLAY=$DISPLAY is reached over TCP, which the namespace cannot; use a local display" >&2 ;;
    esac
    if [ -n "${XAUTHORITY:-}" ]; then
        display_env+=("XAUTHORITY=$XAUTHORITY")
    elif [ -n "${SUDO_USER:-}" ]; then
        display_env+=("XAUTHORITY=$(getent passwd "$SUDO_USER" | cut -d: -f6)/.Xauthority")
    fi
fi
if [ "$mode" = window ] && [ ${#display_env[@]} -eq 0 ]; then
    echo "demo.sh: no display (DISPLAY or WAYLAND_DISPLAY); try scripts/demo.sh --check" >&2
    exit 1
fi

id=$$
ns_tool=tarvik-tool-$id
ns_modules=tarvik-modules-$id
veth_tool=tvkt$id    # names beginning with tvk: tarvik-sim accepts them as the demo's own links
veth_modules=tvkm$id
work=$(mktemp -d /tmp/tarvik-demo.XXXXXX)
chmod 755 "$work"
pids=()

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    # Deleting a namespace deletes its end of the veth pair, and with it the other end.
    ip netns del "$ns_tool" 2>/dev/null || true
    ip netns del "$ns_modules" 2>/dev/null || true
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== network: tool $TOOL_ADDRESS ($ns_tool) <-veth-> modules $MODULE_ADDRESS ($ns_modules)"
ip netns add "$ns_tool"
ip netns add "$ns_modules"
ip link add "$veth_tool" netns "$ns_tool" type veth peer name "$veth_modules" netns "$ns_modules"
for side in "$ns_tool $veth_tool $TOOL_ADDRESS" "$ns_modules $veth_modules $MODULE_ADDRESS"; do
    read -r ns link address <<<"$side"
    ip -n "$ns" link set lo up
    ip -n "$ns" address add "$address" dev "$link"
    ip -n "$ns" link set "$link" up
    # The limited broadcast 255.255.255.255 leaves by the default route: over the veth.
    ip -n "$ns" route add default dev "$link"
done

echo "== modules: tarvik-sim --count $count ${sim_args[*]}"
sim_log=$work/sim.log
ip netns exec "$ns_modules" "${as_user[@]}" "$build_dir/tools/sim/tarvik-sim" --count "$count" "${sim_args[@]}" >"$sim_log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -qx ready "$sim_log" && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.1
done
if ! grep -qx ready "$sim_log"; then
    cat "$sim_log" >&2
    echo "demo.sh: the simulated modules did not start" >&2
    exit 1
fi

if [ "$mode" = check ]; then
    status=0
    # The window opens and stays up (offscreen) until it is stopped.
    set +e
    ip netns exec "$ns_tool" env QT_QPA_PLATFORM=offscreen timeout 3 "${as_user[@]}" "$build_dir/src/tarvik" >"$work/tool.log" 2>&1
    tool_status=$?
    set -e
    if [ "$tool_status" -eq 124 ]; then
        echo "tool: started in $ns_tool and ran until stopped"
    else
        echo "tool: exited with status $tool_status" >&2
        cat "$work/tool.log" >&2
        status=1
    fi
    # The tool's window scans across the veth pair and reads a module.
    if ip netns exec "$ns_tool" env QT_QPA_PLATFORM=offscreen "${as_user[@]}" \
        "$build_dir/tools/sim/tarvik-demo-check" --expect "$count"; then
        echo "tool: found $count modules and read one"
    else
        status=1
    fi
    # The modules saw the tool's datagrams come from the other subnet.
    if [[ " ${sim_args[*]} " == *" --quiet "* ]]; then
        echo "modules: --quiet, their datagrams are not shown"
    elif grep -q " RX ${TOOL_ADDRESS%/*}:65002 " "$sim_log"; then
        echo "modules: heard the tool from ${TOOL_ADDRESS%/*}"
    else
        echo "modules: never heard the tool from ${TOOL_ADDRESS%/*}" >&2
        status=1
    fi
    [ "$status" -eq 0 ] && echo "demo check passed" || echo "demo check FAILED" >&2
    exit "$status"
fi

echo "== tool: in $ns_tool; the modules' datagrams follow (close the window to end the demo)"
tail -n +1 -f "$sim_log" &
pids+=($!)
ip netns exec "$ns_tool" env "${display_env[@]}" "${as_user[@]}" "$build_dir/src/tarvik" || true

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
  scripts/demo.sh --two-lans       two module networks in different subnets, each behind a card
                                   of its own, and no default route on the tool's side; --check
                                   then also writes, restores and resets a module behind each card
                                   and checks that no frame for it reached the other network
  scripts/demo.sh --count 5        five modules (on each network)
  scripts/demo.sh -- --drop 'PT1?#1'   everything after -- goes to tarvik-sim (see tarvik-sim --help)
  --no-build, --build-dir DIR      use an existing build (default build/default)

Needs root for the namespaces (it asks through sudo); the tool and the modules themselves run as
the invoking user.
EOF
}

TOOL_ADDRESS=172.20.0.1/24      # the PC
MODULE_ADDRESS=192.168.1.100/24 # the modules' side, the subnet of their factory addresses
# --two-lans: the second network, its modules and the PC's second card.
TOOL_ADDRESS2=172.21.0.1/24
MODULE_ADDRESS2=192.168.2.100/24
FIRST_ID2=0102030A0B0C # the first module identity on the second network

mode=window
count=3
lans=1
build=1
build_dir=build/default
sim_args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --check) mode=check ;;
    --two-lans) lans=2 ;;
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
    [ "$lans" = 2 ] && args+=(--two-lans)
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
work=$(mktemp -d /tmp/tarvik-demo.XXXXXX)
chmod 755 "$work"
pids=()
namespaces=("$ns_tool")

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    # Deleting a namespace deletes its end of each veth pair, and with it the other end.
    for ns in "${namespaces[@]}"; do
        ip netns del "$ns" 2>/dev/null || true
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$ns_tool"
ip -n "$ns_tool" link set lo up
# A module network: its namespace, a veth pair to the tool's namespace (names beginning with tvk:
# tarvik-sim accepts them as the demo's own links), addresses on both ends.
#   add_lan N TOOL_ADDRESS MODULE_ADDRESS
add_lan() {
    local n=$1 tool_address=$2 module_address=$3
    local ns=tarvik-modules$n-$id veth_tool=tvkt$n-$id veth_modules=tvkm$n-$id
    [ "$lans" = 1 ] && ns=tarvik-modules-$id veth_tool=tvkt$id veth_modules=tvkm$id
    namespaces+=("$ns")
    echo "== network $n: tool $tool_address ($ns_tool, $veth_tool) <-veth-> modules $module_address ($ns)"
    ip netns add "$ns"
    ip link add "$veth_tool" netns "$ns_tool" type veth peer name "$veth_modules" netns "$ns"
    ip -n "$ns_tool" address add "$tool_address" dev "$veth_tool"
    ip -n "$ns_tool" link set "$veth_tool" up
    ip -n "$ns" link set lo up
    ip -n "$ns" address add "$module_address" dev "$veth_modules"
    ip -n "$ns" link set "$veth_modules" up
    # The modules' replies to the limited broadcast leave by their default route: over the veth.
    ip -n "$ns" route add default dev "$veth_modules"
    if [ "$lans" = 1 ]; then
        # One card: the tool's broadcasts may leave by a default route too, as on most PCs.
        ip -n "$ns_tool" route add default dev "$veth_tool"
    fi
}

# start_modules N ARGS...: tarvik-sim in the namespace of network N, its output in $work/simN.log.
start_modules() {
    local n=$1
    shift
    local ns=tarvik-modules$n-$id log=$work/sim$n.log
    [ "$lans" = 1 ] && ns=tarvik-modules-$id
    echo "== modules on network $n: tarvik-sim $*"
    ip netns exec "$ns" "${as_user[@]}" "$build_dir/tools/sim/tarvik-sim" "$@" >"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        grep -qx ready "$log" && break
        kill -0 "$!" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -qx ready "$log"; then
        cat "$log" >&2
        echo "demo.sh: the simulated modules did not start" >&2
        exit 1
    fi
}

add_lan 1 "$TOOL_ADDRESS" "$MODULE_ADDRESS"
if [ "$lans" = 2 ]; then
    add_lan 2 "$TOOL_ADDRESS2" "$MODULE_ADDRESS2"
    # Two cards and no default route on the tool's side: each broadcast leaves through each card.
    # The modules sit in other subnets than the cards, and no route leads back to them: Linux's
    # reverse-path filter (rp_filter 1 or 2, as many distributions set it) would drop their
    # replies, so it is off here, as it must be on such a PC (README: "Several network cards").
    ip netns exec "$ns_tool" sysctl -q -w net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
    for link in $(ip -n "$ns_tool" -o link show | awk -F': ' '{print $2}' | cut -d@ -f1 | grep '^tvk'); do
        ip netns exec "$ns_tool" sysctl -q -w "net.ipv4.conf.$link.rp_filter=0"
    done
    echo "== tool's routes (no default route):"
    ip -n "$ns_tool" route show | sed 's/^/   /'
fi

start_modules 1 --count "$count" "${sim_args[@]}"
[ "$lans" = 2 ] && start_modules 2 --count "$count" --first-id "$FIRST_ID2" "${sim_args[@]}"

# hex_id HEX: an identity as the modules print the bytes they receive ("00 1A 2B 3C 4D 5E").
hex_id() { echo "$1" | tr a-f A-F | sed 's/../& /g; s/ $//'; }

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
    if [ "$lans" = 1 ]; then
        # The tool's window scans across the veth pair and reads a module.
        if ip netns exec "$ns_tool" env QT_QPA_PLATFORM=offscreen "${as_user[@]}" \
            "$build_dir/tools/sim/tarvik-demo-check" --expect "$count"; then
            echo "tool: found $count modules and read one"
        else
            status=1
        fi
    else
        # The window scans through both cards, then reads, writes, restores and resets the last
        # module of each network, each through its own card.
        last1=$(printf '%012X' $((0x001A2B3C4D5E + count - 1)))
        last2=$(printf '%012X' $((0x$FIRST_ID2 + count - 1)))
        if ip netns exec "$ns_tool" env QT_QPA_PLATFORM=offscreen "${as_user[@]}" \
            "$build_dir/tools/sim/tarvik-demo-check" --expect $((2 * count)) --operate "$last1" --operate "$last2"; then
            echo "tool: found $((2 * count)) modules on two networks; read, wrote, restored and reset $last1 and $last2"
        else
            status=1
        fi
        # Nothing for a module of one network went out on the other.
        for pair in "1 $FIRST_ID2" "2 001A2B3C4D5E"; do
            read -r n other_first <<<"$pair"
            leaked=0
            for i in $(seq 0 $((count - 1))); do
                other=$(printf '%012X' $((0x$other_first + i)))
                if grep " RX " "$work/sim$n.log" | grep -q "$(hex_id "$other")"; then
                    echo "network $n: received a frame for $other of the other network" >&2
                    leaked=1
                fi
            done
            if [ "$leaked" = 0 ]; then
                echo "network $n: $(grep -c ' RX ' "$work/sim$n.log") datagrams received, none for a module of the other network"
            else
                status=1
            fi
        done
    fi
    # The modules saw the tool's datagrams come from the other subnet.
    for n in $(seq "$lans"); do
        address=$TOOL_ADDRESS
        [ "$n" = 2 ] && address=$TOOL_ADDRESS2
        if [[ " ${sim_args[*]} " == *" --quiet "* ]]; then
            echo "modules: --quiet, their datagrams are not shown"
        elif grep -q " RX ${address%/*}:65002 " "$work/sim$n.log"; then
            echo "modules on network $n: heard the tool from ${address%/*}"
        else
            echo "modules on network $n: never heard the tool from ${address%/*}" >&2
            status=1
        fi
    done
    [ "$status" -eq 0 ] && echo "demo check passed" || echo "demo check FAILED" >&2
    exit "$status"
fi

echo "== tool: in $ns_tool; the modules' datagrams follow (close the window to end the demo)"
tail -n +1 -f "$work"/sim*.log &
pids+=($!)
ip netns exec "$ns_tool" env "${display_env[@]}" "${as_user[@]}" "$build_dir/src/tarvik" || true

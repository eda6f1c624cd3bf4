#!/usr/bin/env bash
# The Windows programs under Wine, as a user runs them (scripts/test.sh runs this as root):
#   check_programs.sh LINUX_BUILD WINDOWS_BUILD QT_PREFIX
# - tarvik-cli.exe scans, reads, writes (and reads back) and resets a module of the Linux tarvik-sim,
#   across a veth pair from a network namespace of its own; the same run with the Linux tarvik-cli
#   against a fresh simulator must send the modules the same frames, byte for byte (the simulator's
#   record of what it received);
# - cards by the name people see and by Windows' own name, the port held by another program, Chinese
#   text and the progress line in a console window, tarvik.exe's command line without a display;
# - doctor: the modules found, the program holding the port named, and with no module the Windows
#   Firewall line (Wine's firewall cannot say whether a profile is on: "could not check").
# WINEPREFIX: a Wine prefix of the caller's own. Nothing here reaches a real network.
set -uo pipefail
linux=$1
windows=$2
qt=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/results.sh"
id=$$
ns_tool=tvk-wtool-$id
ns_modules=tvk-wmod-$id
veth=tvkw$id
work=$(mktemp -d /tmp/tarvik-wine.XXXXXX)
sim_pid=

cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    ip netns exec "$ns_tool" wineserver -k 2>/dev/null
    ip netns del "$ns_tool" 2>/dev/null
    ip netns del "$ns_modules" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT


# A Unix path as Windows programs see it (Wine's drive Z: is /).
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Wine opens its sockets in the namespace its server started in: none may be running elsewhere.
wineserver -k 2>/dev/null
wineserver -w

# The PC's namespace and the modules', joined by a veth pair, in different subnets. The PC's
# default route has a gateway: without one Wine lists no network card at all. `ip netns exec`
# mounts /sys for the namespace, where Wine looks the cards up.
ip netns add "$ns_tool"
ip netns add "$ns_modules"
ip -n "$ns_tool" link set lo up
ip -n "$ns_modules" link set lo up
ip link add "$veth" netns "$ns_tool" type veth peer name "${veth}m" netns "$ns_modules"
ip -n "$ns_tool" address add 172.20.0.1/24 dev "$veth"
ip -n "$ns_tool" link set "$veth" up
ip -n "$ns_tool" route add default via 172.20.0.254 dev "$veth"
ip -n "$ns_modules" address add 192.168.1.100/24 dev "${veth}m"
ip -n "$ns_modules" link set "${veth}m" up
ip -n "$ns_modules" route add default dev "${veth}m"
# Windows names the card ethernet_N, N its interface index, which Wine takes from Linux.
system_name=ethernet_$(ip -n "$ns_tool" -o link show "$veth" | cut -d: -f1)

start_sim() {
    [ -n "$sim_pid" ] && kill "$sim_pid" && wait "$sim_pid" 2>/dev/null
    : >"$work/sim.log"
    ip netns exec "$ns_modules" "$linux/tools/sim/tarvik-sim" --count 2 >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
        grep -qx ready "$work/sim.log" && return 0
        sleep 0.1
    done
    fail "tarvik-sim did not start: $(cat "$work/sim.log")"
    return 1
}

# cli PLATFORM ARGS...: tarvik-cli of that build in the PC's namespace; stdout, stderr and status
# in $work/out, $work/err, $status.
cli() {
    local platform=$1
    shift
    if [ "$platform" = linux ]; then
        # The journal of its changes stays with the check (Wine's keeps to its private prefix).
        TARVIK_JOURNAL="$work/journal" ip netns exec "$ns_tool" "$linux/src/tarvik-cli" "$@" >"$work/out" 2>"$work/err"
    else
        ip netns exec "$ns_tool" sh "$here/wine.sh" --qt "$qt" "$windows/tarvik-cli.exe" "$@" >"$work/out" 2>"$work/err"
    fi
    status=$?
}

# expect NAME STATUS [PATTERN [FILE]]: the last run ended with STATUS, and FILE ($work/out by
# default) holds the fixed string PATTERN.
expect() {
    local name=$1 expected=$2 pattern=${3:-} file=${4:-$work/out}
    if [ "$status" != "$expected" ] || { [ -n "$pattern" ] && ! grep -qF -- "$pattern" "$file"; }; then
        fail "$name: status $status (expected $expected${pattern:+, and \"$pattern\"}); out, err:"
        sed 's/^/    /' "$work/out" "$work/err"
    else
        ok "$name"
    fi
}

# A parameter file named in Chinese, Chinese drop-down entries in it, and the values as a read
# shows them, so that the read back can be compared line by line.
changes=$work/参数.json
cat >"$changes" <<'EOF'
{
    "Ethernet_Mode": "10M半双工手动握手",
    "UART_BaudRate": "115200bps",
    "UART_Parity": "偶校验",
    "UART_TimeDeli": "0150",
    "Ch1_SOCK_Mode": "UDP模式1",
    "Ch2_D_IP": "010.001.002.009",
    "Ch4_D_Port": "00001"
}
EOF
file_of() { if [ "$1" = linux ]; then echo "$2"; else windows_path "$2"; fi; }

# The same conversation from both builds; the simulator's record of it kept per build.
for platform in linux windows; do
    start_sim || break
    card=$veth
    [ "$platform" = windows ] && card=$system_name
    cli $platform scan --json
    expect "$platform: scan" 0 "\"interface\": \"$veth\""
    grep -q 001A2B3C4D5F "$work/out" || fail "$platform: scan: the second module is missing"
    cli $platform read 001A2B3C4D5E --interface "$card" --out "$(file_of $platform "$work/$platform-before.json")"
    expect "$platform: read through the card named $card" 0 "Ch4_SOCK_Mode   端口关闭"
    cli $platform write 001A2B3C4D5E --from "$(file_of $platform "$changes")"
    expect "$platform: write" 0 "001A2B3C4D5E  ok"
    cli $platform read 001A2B3C4D5E --json
    expect "$platform: read back" 0
    grep -q ' modules ' "$work/err" && fail "$platform: a progress line went into a pipe"
    while IFS= read -r line; do
        case "$line" in *'": "'*) grep -qF -- "${line%,}" "$work/out" || fail "$platform: read back lacks ${line%,}" ;; esac
    done <"$changes"
    cli $platform reset 001A2B3C4D5E
    expect "$platform: reset" 0 "001A2B3C4D5E  ok"
    cut -d' ' -f2- "$work/sim.log" | grep '^RX ' >"$work/$platform.record"
done
if [ -s "$work/linux.record" ] && cmp -s "$work/linux.record" "$work/windows.record"; then
    ok "the modules received the same $(wc -l <"$work/linux.record") frames from both builds"
else
    fail "the modules received other frames from tarvik-cli.exe than from tarvik-cli:"
    diff "$work/linux.record" "$work/windows.record" | head -20 | sed 's/^/    /'
fi
cmp -s "$work/linux-before.json" "$work/windows-before.json" ||
    fail "read --out wrote other files on Windows: $(diff "$work/linux-before.json" "$work/windows-before.json" | head -5)"

# doctor with the modules there, and without them: the firewall's line for the card's network.
start_sim >/dev/null
cli windows doctor
expect "doctor: the modules answer" 0 "replies: ok: 8 datagrams (8 on $veth from 192.168.1.100); 8 discovery replies from 2 modules"
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null
sim_pid=
cli windows doctor
expect "doctor: nothing arrives" 1 "replies: problem: nothing arrived at UDP port 65002"
grep -q "^Windows Firewall $veth " "$work/out" || fail "doctor: no Windows Firewall line for $veth: $(cat "$work/out")"

# The port held by the window (offscreen): tarvik-cli.exe stops with the one line Linux gives.
ip netns exec "$ns_tool" env QT_QPA_PLATFORM=offscreen sh "$here/wine.sh" --qt "$qt" "$windows/tarvik.exe" \
    >/dev/null 2>&1 &
holder=$!
for _ in $(seq 100); do
    ip netns exec "$ns_tool" ss -Huln 'sport = 65002' | grep -q . && break
    sleep 0.05
done
cli windows scan
expect "port held by another program" 2 \
    "tarvik-cli: cannot use UDP port 65002: The bound address is already in use (is Tarvik or another tarvik-cli running?)" \
    "$work/err"
[ "$(wc -l <"$work/err")" = 1 ] || fail "port held: more than one line"
cli windows doctor
expect "doctor: the program holding the port" 2 "port 65002: problem: held by process"
grep -q "(tarvik.exe)" "$work/out" || fail "doctor: the holder is not named tarvik.exe: $(head -1 "$work/out")"
kill "$holder"
wait "$holder" 2>/dev/null

# A console window (Wine makes one for a terminal): Chinese shows as Chinese whatever the console's
# code page, and the progress line is drawn; into a pipe (above) no progress at all.
start_sim >/dev/null
console() {
    ip netns exec "$ns_tool" script -qec "sh '$here/wine.sh' --qt '$qt' '$windows/tarvik-cli.exe' $*" /dev/null </dev/null |
        sed 's/\x1b\[[0-9;?]*[A-Za-z]/ /g' >"$work/out"
    status=${PIPESTATUS[0]}
}
console --help
expect "console: --help" 0 "Usage: tarvik-cli COMMAND [options] [ID...]"
console read 001A2B3C4D5E
expect "console: the progress line" 0 "1/1 modules"
printf '{"UART_Parity": "奇校验X"}' >"$work/坏.json"
console write 001A2B3C4D5E --from "'$(windows_path "$work/坏.json")'"
expect "console: Chinese file name and value in the message" 2 '坏.json: line 1: key "UART_Parity": "奇校验X"'

# tarvik.exe: a window program. Its command line answers on the console; without any display
# variable it still opens its window (Windows has no display server), so a stray argument is
# what stops it.
tarvik() {
    ip netns exec "$ns_tool" env -u DISPLAY -u WAYLAND_DISPLAY sh "$here/wine.sh" --qt "$qt" "$windows/tarvik.exe" "$@" >"$work/out" 2>&1
    status=$?
}
tarvik --version
expect "tarvik.exe --version" 0 "tarvik "
tarvik --help
expect "tarvik.exe --help" 0 "--lang <language>"
tarvik stray
expect "tarvik.exe without DISPLAY: no display needed" 1 "tarvik: unexpected argument 'stray'"

report "Windows programs under Wine"

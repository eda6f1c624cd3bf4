#!/usr/bin/env bash
# Takes docs/windows-screenshot.png: tarvik.exe from the portable zip, under Wine on a virtual X
# display (Xvfb), scanning three simulated modules (the Linux tarvik-sim, across a veth pair in
# network namespaces of their own) and showing the first one's parameters. Needs root (namespaces).
#   scripts/windows-screenshot.sh [--no-build] [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

build=1
[ "${1:-}" = --no-build ] && { build=0; shift; }
output=${1:-docs/windows-screenshot.png}
ensure_packages "${WINDOWS_PACKAGES[@]}" xvfb xdotool imagemagick x11-utils
if [ "$build" = 1 ]; then
    build_preset default
    scripts/windows.sh
fi
zip=$(ls build/windows/package/tarvik-*-win64.zip)

id=$$
ns_tool=tvk-shot-$id
ns_modules=tvk-shotm-$id
work=$(mktemp -d /tmp/tarvik-shot.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
pids=()
cleanup() {
    ip netns exec "$ns_tool" wineserver -k 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    ip netns del "$ns_tool" 2>/dev/null || true
    ip netns del "$ns_modules" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

unzip -q "$zip" -d "$work"
folder=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'tarvik-*')

# The PC and the modules, as in the demo; the PC's default route has a gateway, or Wine lists no card.
ip netns add "$ns_tool"
ip netns add "$ns_modules"
ip -n "$ns_tool" link set lo up
ip -n "$ns_modules" link set lo up
ip link add tvks$id netns "$ns_tool" type veth peer name tvksm$id netns "$ns_modules"
ip -n "$ns_tool" address add 172.20.0.1/24 dev tvks$id
ip -n "$ns_tool" link set tvks$id up
ip -n "$ns_tool" route add default via 172.20.0.254 dev tvks$id
ip -n "$ns_modules" address add 192.168.1.100/24 dev tvksm$id
ip -n "$ns_modules" link set tvksm$id up
ip -n "$ns_modules" route add default dev tvksm$id
ip netns exec "$ns_modules" build/default/tools/sim/tarvik-sim --count 3 --quiet >"$work/sim.log" 2>&1 &
pids+=($!)

# A display of its own; the namespace reaches its filesystem socket (unix:N), not the abstract one.
display=$((90 + id % 100))
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=unix:$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

ip netns exec "$ns_tool" sh -c 'wineboot -i >/dev/null 2>&1'
# Wine's server ends the window with SIGKILL at the end: the shell need not report it.
ip netns exec "$ns_tool" wine "$folder/tarvik.exe" >"$work/tarvik.log" 2>&1 &
disown $!
window=$(timeout 60 xdotool search --sync --onlyvisible --name 'Tarvik' | head -n 1)
[ -n "$window" ] || { cat "$work/tarvik.log" >&2; echo "windows-screenshot.sh: the window did not open" >&2; exit 1; }
sleep 2
# 扫描设备 (scan), then the first module of the list, whose parameters are read.
xdotool mousemove --window "$window" 72 25 click 1
sleep 3
xdotool mousemove --window "$window" 80 58 click 1
sleep 3
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "Screenshot: $output ($(identify -format '%wx%h' "$output"))"

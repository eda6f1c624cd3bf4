# Shared by run.sh and test.sh: install what is missing, configure and build.
# shellcheck shell=bash

repo_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"
    elif command -v sudo >/dev/null 2>&1; then sudo "$@"
    else echo "需要 root 权限安装软件包 / root is needed to install: $*" >&2; return 1
    fi
}

# ensure_packages PKG...: installs those of the Debian packages that are not installed yet.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake make g++ qt6-base-dev libgl-dev qt6-tools-dev qt6-l10n-tools)

# in_private_netns SCRIPT ARGS...: runs SCRIPT again, with ARGS, inside a network namespace of its
# own, which holds only the loopback until SCRIPT adds more. Whatever SCRIPT sends there, broadcasts
# included, stays there. SCRIPT is expected to call private_netns_up first.
in_private_netns() {
    if [ "$(id -u)" -eq 0 ]; then
        exec unshare --net -- "$@"
    else
        exec unshare --map-root-user --net -- "$@"
    fi
}

# private_netns_up: inside the namespace, brings the loopback up and sends the limited broadcast
# 255.255.255.255 through it (there is no other card for it to leave by).
private_netns_up() {
    ip link set lo up
    ip route add default dev lo
}

# build_preset NAME: configures (once) and builds build/NAME.
build_preset() {
    local preset=$1
    if [ ! -f "build/$preset/CMakeCache.txt" ]; then
        cmake --preset "$preset" >/dev/null
    fi
    cmake --build --preset "$preset" -j "$(nproc)"
}

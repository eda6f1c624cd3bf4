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

BUILD_PACKAGES=(cmake make g++ python3 qt6-base-dev libgl-dev qt6-tools-dev qt6-l10n-tools)

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

# ---- The Windows build (scripts/windows.sh, scripts/windows-qt.sh, scripts/test.sh) -------------

# Debian's MinGW-w64 GCC with posix threads (Qt needs them), Qt's host tools of the same version as
# the Qt for Windows, Wine to run the programs and tests, NSIS and zip for the packages, librsvg
# and icoutils for the icon, groff for the manual pages as text.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix cmake ninja-build qt6-base-dev qt6-tools-dev qt6-l10n-tools
    wine64 wine nsis zip unzip librsvg2-bin icoutils groff-base xz-utils iproute2 util-linux fonts-noto-cjk)
QT_WINDOWS_SHARED=../shared/qt-windows/qt6-mingw64-6.4.2.tar.xz
QT_WINDOWS_CACHE=build/qt-windows

is_qt_windows_prefix() { [ -f "$1/lib/cmake/Qt6/Qt6Config.cmake" ] && [ -f "$1/bin/Qt6Core.dll" ]; }

# unpack_qt_windows TARBALL: unpacks a Qt for Windows once into build/qt-windows/ (again only when
# the tarball changes) and prints its prefix.
unpack_qt_windows() {
    local tarball=$1 dir config
    dir=$QT_WINDOWS_CACHE/unpacked-$(sha256sum "$tarball" | cut -c1-16)
    if [ ! -f "$dir/.complete" ]; then
        echo "Unpacking $tarball into $dir" >&2
        rm -rf "$dir"
        mkdir -p "$dir"
        tar -C "$dir" -xf "$tarball" || { echo "cannot unpack $tarball" >&2; return 1; }
        touch "$dir/.complete"
    fi
    config=$(find "$dir" -maxdepth 5 -path '*/lib/cmake/Qt6/Qt6Config.cmake' | head -n 1)
    [ -n "$config" ] || { echo "$tarball holds no Qt 6 (lib/cmake/Qt6/Qt6Config.cmake)" >&2; return 1; }
    (cd "${config%/lib/cmake/Qt6/Qt6Config.cmake}" && pwd)
}

# windows_qt_prefix: prints the prefix of a Qt built for Windows, from (in this order)
# TARVIK_QT_WINDOWS (a prefix or a tarball), the tarball in ../shared/qt-windows/, or the one
# scripts/windows-qt.sh built before; status 1, quietly, when there is none.
windows_qt_prefix() {
    local given=${TARVIK_QT_WINDOWS:-} built
    if [ -n "$given" ]; then
        if [ -d "$given" ] && is_qt_windows_prefix "$given"; then
            (cd "$given" && pwd)
        elif [ -f "$given" ]; then
            unpack_qt_windows "$given"
        else
            echo "TARVIK_QT_WINDOWS=$given is neither a Qt for Windows (lib/cmake/Qt6, bin/Qt6Core.dll) nor a tarball of one" >&2
            return 2
        fi
        return
    fi
    if [ -f "$QT_WINDOWS_SHARED" ]; then
        unpack_qt_windows "$QT_WINDOWS_SHARED"
        return
    fi
    for built in "$QT_WINDOWS_CACHE"/built-*/; do
        if is_qt_windows_prefix "$built"; then
            (cd "$built" && pwd)
            return
        fi
    done
    return 1
}

# windows_build QT_PREFIX [TARGET...]: configures build/windows for that Qt (a release build) and
# builds the targets (all of them, tests included, without any).
windows_build() {
    local qt=$1 host_version qt_version
    shift
    # Qt's host tools (moc, rcc, uic) must be of exactly the version of the Qt they build for.
    host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed 's/[+~-].*//')
    qt_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$qt/lib/cmake/Qt6/Qt6ConfigVersionImpl.cmake")
    if [ "$host_version" != "$qt_version" ]; then
        echo "The Qt for Windows in $qt is $qt_version, Debian's Qt (the host tools) is $host_version: they must be the same; build one with scripts/windows-qt.sh" >&2
        return 1
    fi
    if ! grep -qx "TARVIK_QT_PREFIX:[A-Z]*=$qt" build/windows/CMakeCache.txt 2>/dev/null; then
        rm -rf build/windows/CMakeCache.txt build/windows/CMakeFiles
        cmake --preset windows -DTARVIK_QT_PREFIX="$qt" >/dev/null
    fi
    if [ $# -eq 0 ]; then
        cmake --build --preset windows -j "$(nproc)"
    else
        cmake --build --preset windows -j "$(nproc)" --target "$@"
    fi
}

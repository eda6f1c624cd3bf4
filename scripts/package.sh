#!/usr/bin/env bash
# Builds the Debian package of the tool: installs what is missing, configures a release build in
# build/package (the programs alone, no tests), builds it and runs CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

usage() {
    cat <<'HELP'
Usage: scripts/package.sh [--build-dir DIR]

Builds tarvik_<version>_<architecture>.deb: tarvik, tarvik-sim, the menu entry, the icon, the
AppStream metainfo, the manual pages and the firewalld service for UDP port 65002. Its
dependencies are those of the programs' libraries (found by dpkg-shlibdeps) and fonts-noto-cjk.

  --build-dir DIR   build and put the package in DIR (default build/package)
  -h, --help        this help

Install the package with:   sudo apt install ./build/package/tarvik_*.deb
HELP
}

build_dir=build/package
while [ $# -gt 0 ]; do
    case "$1" in
    --build-dir) [ $# -ge 2 ] || { echo "package.sh: --build-dir needs a directory" >&2; exit 1; }
                 build_dir=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "package.sh: unknown option $1 (try --help)" >&2; exit 1 ;;
    esac
    shift
done

# dpkg-dev: dpkg-shlibdeps and dpkg-deb; file: CPack finds the programs to compute dependencies for.
ensure_packages "${BUILD_PACKAGES[@]}" dpkg-dev file

cmake --preset package -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
(cd "$build_dir" && cpack -G DEB)

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
deb=$build_dir/tarvik_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
case "$deb" in /*) ;; *) deb=./$deb ;; esac # apt takes a path, not a bare file name
echo
echo "Package: $deb"
echo "Install: sudo apt install $deb"

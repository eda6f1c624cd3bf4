#!/usr/bin/env bash
# Builds the Qt for Windows that scripts/windows.sh builds the programs with, from Debian's own Qt
# source, once: about half an hour on two cores (nothing else of Qt has to be fetched: Debian's host
# tools build it). scripts/windows.sh runs this itself when it finds no Qt for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

usage() {
    cat <<'HELP'
Usage: scripts/windows-qt.sh [--pack]

Cross-builds qtbase (Core, Gui, Widgets, Network, Test; the windows, offscreen and minimal platform
plugins; the windowsvista style) for Windows x86_64 with MinGW-w64 (posix threads), shared and
release, from the source of the qt6-base package that Debian's installed Qt comes from (so that the
host tools match it exactly), and installs it into build/qt-windows/built-<version>/, where
scripts/windows.sh and scripts/test.sh find it. A build that is there already is kept.

  --pack      also pack the result as build/qt-windows/qt6-mingw64-<version>.tar.xz, for
              TARVIK_QT_WINDOWS on another machine
  -h, --help  this help

Bundled zlib, pcre2, libpng, harfbuzz and freetype; no OpenSSL (TLS would go through Schannel), ICU,
D-Bus, OpenGL, Vulkan, SQL, print support, XML or Concurrent.
HELP
}

pack=0
while [ $# -gt 0 ]; do
    case "$1" in
    --pack) pack=1 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "windows-qt.sh: unknown option $1 (try --help)" >&2; exit 1 ;;
    esac
    shift
done

ensure_packages "${WINDOWS_PACKAGES[@]}" dpkg-dev perl debian-archive-keyring
debian_version=$(dpkg-query -W -f='${Version}' qt6-base-dev) # 6.4.2+dfsg-10
version=${debian_version%%[+~-]*}                            # 6.4.2
prefix=$PWD/$QT_WINDOWS_CACHE/built-$version
work=$PWD/$QT_WINDOWS_CACHE/work
toolchain=$PWD/cmake/mingw-w64.cmake
triple=x86_64-w64-mingw32

if is_qt_windows_prefix "$prefix"; then
    echo "Qt $version for Windows is built already: $prefix"
else
    start=$(date +%s)
    rm -rf "$work" "$prefix"
    mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/sources.list.d"

    # The source through an apt state of our own with a deb-src entry: the system's apt
    # configuration is not touched.
    cat >"$work/apt/sources.list.d/debian-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    apt=(apt-get -o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$work/apt/sources.list.d"
        -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache" -o APT::Sandbox::User=root)
    echo "== the source of qt6-base $debian_version"
    "${apt[@]}" update -qq
    (cd "$work" && "${apt[@]}" source --download-only -qq "qt6-base=$debian_version")
    # dpkg-source applies Debian's patches (security fixes among them). apt has checked the files
    # against the signed archive; the .dsc's own signature needs keys that are not installed.
    (cd "$work" && dpkg-source -x qt6-base_*.dsc src >/dev/null 2>&1)

    # Qt 6.4's Windows platform plugin uses the DirectWrite font database whenever directwrite3 is
    # on, but QtGui has it only with direct2d, which is off here (it needs the wintab sources that
    # Debian's tarball leaves out): the plugin asks what QtGui asks, and draws with the GDI font
    # engine, Qt's default.
    sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
        "$work/src/src/plugins/platforms/windows/qwindowsintegration.cpp"
    [ "$(grep -c 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' \
        "$work/src/src/plugins/platforms/windows/qwindowsintegration.cpp")" = 2 ] ||
        { echo "windows-qt.sh: qwindowsintegration.cpp is not as expected; the patch does not apply" >&2; exit 1; }

    echo "== configure"
    mkdir -p "$work/build"
    (cd "$work/build" && nice -n 19 "$work/src/configure" -prefix "$prefix" -release -shared \
        -xplatform win32-g++ -qt-host-path /usr -nomake examples -nomake tests -no-pkg-config \
        -qt-zlib -qt-pcre -qt-libpng -qt-harfbuzz -qt-freetype -qt-doubleconversion -no-libjpeg \
        -no-openssl -no-icu -no-dbus -no-opengl -no-feature-vulkan -no-feature-sql \
        -no-feature-printsupport -no-feature-concurrent -no-feature-xml \
        -no-feature-tabletevent -no-feature-direct2d -no-feature-androiddeployqt -no-feature-zstd \
        -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >"$work/configure.log" 2>&1) ||
        { tail -n 40 "$work/configure.log" >&2; exit 1; }

    echo "== build (about half an hour on two cores; the log: $work/build.log)"
    nice -n 19 cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 ||
        { tail -n 40 "$work/build.log" >&2; exit 1; }
    cmake --install "$work/build" --strip >"$work/install.log" 2>&1 || { tail -n 40 "$work/install.log" >&2; exit 1; }

    # The GCC runtime every program built with it needs, beside Qt's DLLs, without debug information.
    runtime=$(dirname "$($triple-g++-posix -print-file-name=libstdc++-6.dll)")
    cp "$runtime/libstdc++-6.dll" "$runtime/libgcc_s_seh-1.dll" "/usr/$triple/lib/libwinpthread-1.dll" "$prefix/bin/"
    "$triple-strip" --strip-debug "$prefix/bin/libstdc++-6.dll" "$prefix/bin/libgcc_s_seh-1.dll" \
        "$prefix/bin/libwinpthread-1.dll"
    rm -rf "$work"
    echo "Qt $version for Windows built in $(( ($(date +%s) - start) / 60 )) minutes: $prefix"
fi

if [ "$pack" = 1 ]; then
    tarball=$PWD/$QT_WINDOWS_CACHE/qt6-mingw64-$version.tar.xz
    tar -C "$(dirname "$prefix")" -cf - "$(basename "$prefix")" | xz -T"$(nproc)" -9 >"$tarball"
    echo "Packed: $tarball (use it with TARVIK_QT_WINDOWS=$tarball)"
fi

#!/usr/bin/env bash
# Cross-builds the Windows programs and packs them: a portable zip and an installer.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

usage() {
    cat <<'HELP'
Usage: scripts/windows.sh [--check] [--no-build]

Cross-builds tarvik.exe, tarvik-cli.exe and tarvik-sim.exe for Windows x86_64 (release, in
build/windows) and makes, in build/windows/package:
  tarvik-<version>-win64.zip         portable: the programs, the Qt and GCC runtime DLLs and Qt
                                     plugins they load, the manual pages as text, README.txt,
                                     LICENSE.txt (MIT) and the licences of Qt and GCC's runtime
  tarvik-<version>-win64-setup.exe   the installer (NSIS): Program Files, Start menu, Apps &
                                     features, the firewall rule for UDP port 65002; /S is silent

Qt for Windows comes from TARVIK_QT_WINDOWS (a prefix or a tarball), else from
../shared/qt-windows/qt6-mingw64-6.4.2.tar.xz, else from an earlier scripts/windows-qt.sh; with
none of them, scripts/windows-qt.sh builds it first (once, about half an hour on two cores).

  --check     then install, check and uninstall the installer under Wine, and run the programs
              from the unpacked zip (tests/windows/check_packages.sh)
  --no-build  pack what build/windows holds (scripts/test.sh builds it)
  -h, --help  this help
HELP
}

check=0
build=1
while [ $# -gt 0 ]; do
    case "$1" in
    --check) check=1 ;;
    --no-build) build=0 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "windows.sh: unknown option $1 (try --help)" >&2; exit 1 ;;
    esac
    shift
done

ensure_packages "${WINDOWS_PACKAGES[@]}"
if ! qt=$(windows_qt_prefix); then
    [ -n "${TARVIK_QT_WINDOWS:-}" ] && exit 1
    echo "No Qt for Windows yet: building it (scripts/windows-qt.sh)"
    scripts/windows-qt.sh
    qt=$(windows_qt_prefix)
fi
programs=(tarvik tarvik-cli tarvik-sim)
if [ "$build" = 1 ]; then
    windows_build "$qt" "${programs[@]}" tarvik_lua
fi

build_dir=$PWD/build/windows
version=$(sed -n 's/^#define TARVIK_VERSION "\(.*\)"$/\1/p' "$build_dir/generated/tarvik_version.h")
qt_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$qt/lib/cmake/Qt6/Qt6ConfigVersionImpl.cmake")
name=tarvik-$version-win64
package_dir=$build_dir/package
stage=$package_dir/$name
triple=x86_64-w64-mingw32
rm -rf "$package_dir"
mkdir -p "$stage/manual" "$stage/licenses"

# ---- What the programs load ----------------------------------------------------------------------
# Each program and plugin brings the DLLs it imports, and they theirs: from Qt, else from the
# compiler's runtime. What neither has must be part of Windows: an API set (api-ms-win-...), or a
# DLL Wine has its own of.
# The plugins are loaded at run time, not imported: a window program needs its platform plugin,
# and the Windows style draws the controls as Windows does.
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll)
gcc_runtime=$(dirname "$($triple-g++-posix -print-file-name=libstdc++-6.dll)")
search=("$qt/bin" "$gcc_runtime" "/usr/$triple/lib")
windows_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

imports() { "$triple-objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }
find_dll() {
    local dir found
    for dir in "${search[@]}"; do
        found=$(find "$dir" -maxdepth 1 -iname "$1" -print -quit 2>/dev/null)
        [ -n "$found" ] && { echo "$found"; return 0; }
    done
    return 1
}

for program in "${programs[@]}"; do
    cp "$build_dir/$program.exe" "$stage/"
done
# The Wireshark dissector, for the user to copy into Wireshark's plugin folder (README.txt says where).
mkdir -p "$stage/wireshark"
cp "$build_dir/packaging/wireshark/tarvik.lua" "$stage/wireshark/"
for plugin in "${plugins[@]}"; do
    mkdir -p "$stage/$(dirname "$plugin")"
    cp "$qt/plugins/$plugin" "$stage/$plugin"
done
pending=("${programs[@]/%/.exe}" "${plugins[@]}")
declare -A seen=()
while [ ${#pending[@]} -gt 0 ]; do
    file=${pending[0]}
    pending=("${pending[@]:1}")
    for dll in $(imports "$stage/$file"); do
        key=${dll,,}
        [ -n "${seen[$key]:-}" ] && continue
        seen[$key]=1
        if source=$(find_dll "$dll"); then
            cp "$source" "$stage/$dll"
            pending+=("$dll")
        elif [[ $key != api-ms-win-* ]] && ! find "$windows_dlls" -maxdepth 1 -iname "$dll" | grep -q .; then
            echo "windows.sh: $file needs $dll, which is neither in Qt, nor in the GCC runtime, nor part of Windows" >&2
            exit 1
        fi
    done
done
# Debian's GCC runtime carries its debug information (libstdc++ 23 MB instead of 2).
"$triple-strip" --strip-debug "$stage"/lib*.dll

# ---- Manual pages, README, licences ----------------------------------------------------------------
# Windows text: CRLF line ends, UTF-8 with a byte order mark (for Notepad before Windows 10 1903).
windows_text() { printf '\357\273\277'; sed 's/$/\r/'; }
for page in "${programs[@]}"; do
    groff -k -man -Tutf8 -P-cbou -rLL=100n "$build_dir/packaging/man/$page.1" 2>/dev/null |
        windows_text >"$stage/manual/$page.txt"
done
sed -e "s/@VERSION@/$version/g" -e "s/@QT_VERSION@/$qt_version/g" packaging/windows/README.txt.in |
    windows_text >"$stage/README.txt"
windows_text <LICENSE >"$stage/LICENSE.txt"
windows_text </usr/share/common-licenses/LGPL-3 >"$stage/licenses/LGPL-3.txt"
windows_text </usr/share/common-licenses/GPL-3 >"$stage/licenses/GPL-3.txt"

# ---- The zip ----------------------------------------------------------------------------------------
(cd "$package_dir" && zip -q -r -9 "$name.zip" "$name")

# ---- The installer ----------------------------------------------------------------------------------
# The files, one line each, for the installer to put and the uninstaller to take away (the deepest
# folders first, each removed only when empty).
files=$package_dir/files.nsh
{
    echo '!macro InstallFiles'
    (cd "$stage" && find . -type f | sort) | while read -r file; do
        dir=$(dirname "${file#./}" | sed 's/^\.$//' | tr / '\\')
        echo "    SetOutPath \"\$INSTDIR${dir:+\\$dir}\""
        echo "    File \"$stage/${file#./}\""
    done
    echo '    SetOutPath "$INSTDIR"'
    echo '!macroend'
    echo '!macro UninstallFiles'
    (cd "$stage" && find . -type f | sort) | while read -r file; do
        echo "    Delete \"\$INSTDIR\\$(echo "${file#./}" | tr / '\\')\""
    done
    (cd "$stage" && find . -mindepth 1 -type d | sort -r) | while read -r dir; do
        echo "    RMDir \"\$INSTDIR\\$(echo "${dir#./}" | tr / '\\')\""
    done
    echo '!macroend'
} >"$files"
size_kb=$(du -sk "$stage" | cut -f1)
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$files" -DSIZE_KB="$size_kb" \
    -DICON="$build_dir/packaging/windows/tarvik.ico" -DOUTFILE="$package_dir/$name-setup.exe" \
    packaging/windows/tarvik.nsi

echo
echo "Windows packages (Qt $qt_version from $qt):"
for artefact in "$package_dir/$name.zip" "$package_dir/$name-setup.exe"; do
    printf '  %-70s %6s\n' "${artefact#"$PWD"/}" "$(du -h "$artefact" | cut -f1)"
done
echo "  unpacked: $(du -sh "$stage" | cut -f1), $(find "$stage" -type f | wc -l) files"

if [ "$check" = 1 ]; then
    tests/windows/check_packages.sh "$package_dir/$name.zip" "$package_dir/$name-setup.exe"
fi

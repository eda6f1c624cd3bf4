#!/usr/bin/env bash
# The Windows packages as a user gets them:
#   check_packages.sh ZIP SETUP_EXE
# - the zip: the three programs, every DLL in it loaded by a program or plugin in it (no Qt module
#   they do not load), their file properties and subsystems, and the programs run from the
#   unpacked folder alone (no Qt elsewhere), the window program saying so when its platform plugin
#   is missing;
# - the installer under Wine: `/S` installs silently into Program Files, both Start-menu shortcuts
#   point at the installed tarvik.exe, Apps & features has the uninstaller, the firewall rule is
#   added for tarvik.exe and tarvik-cli.exe; `uninstall.exe /S` removes every file the installer
#   put there, the entry and the rule.
# WINEPREFIX: a Wine prefix of the caller's own; without it one is made (and removed) here.
set -uo pipefail
zip=$(realpath "$1")
setup=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
triple=x86_64-w64-mingw32
. "$here/results.sh"
work=$(mktemp -d /tmp/tarvik-packages.XXXXXX)
own_prefix=0
if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$work/prefix
    own_prefix=1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml=;netsh.exe=n"
# Nothing of Qt outside the package: the programs must find all they need beside them.
unset WINEPATH
cleanup() {
    wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# check NAME CONDITION...: runs the condition, a failure named NAME when it fails.
check() {
    local name=$1
    shift
    if "$@"; then ok "$name"; else fail "$name"; fi
}

# ---- The zip ----------------------------------------------------------------------------------------
unzip -q "$zip" -d "$work/zip"
folder=$(find "$work/zip" -mindepth 1 -maxdepth 1 -type d)
check "unzip -l lists the three programs" test "$(unzip -l "$zip" | grep -cE '/tarvik(-cli|-sim)?\.exe$')" = 3
check "the zip carries the Wireshark dissector, and README.txt says where it goes" \
    sh -c "grep -q 'name = \"Ch4_D_Port\"' '$folder/wireshark/tarvik.lua' && grep -q 'Wireshark\\\\plugins' '$folder/README.txt'"

imports() { "$triple-objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr A-Z a-z; }
all_imports=$(find "$folder" -iname '*.exe' -o -iname '*.dll' | while read -r pe; do imports "$pe"; done | sort -u)
for dll in $(cd "$folder" && ls -- *.dll); do
    grep -qx "${dll,,}" <<<"$all_imports" || fail "zip holds $dll, which nothing in it loads"
done
ok "every DLL in the zip is loaded by a program or plugin in it: $(cd "$folder" && ls -- Qt6*.dll | tr '\n' ' ')"

# The licences: the programs' own, as LICENSE has it, and those of Qt and GCC's runtime.
plain() { sed -e '1s/^\xef\xbb\xbf//' -e 's/\r$//' "$1"; }
check "LICENSE.txt in the zip is the programs' licence" diff <(plain "$folder/LICENSE.txt") "$here/../../LICENSE"
for licence in LGPL-3 GPL-3; do
    check "licenses\\$licence.txt in the zip" grep -q "GNU .*GENERAL PUBLIC LICENSE" "$folder/licenses/$licence.txt"
done

subsystem() { "$triple-objdump" -p "$folder/$1" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*//p'; }
check "tarvik.exe is a window program" test "$(subsystem tarvik.exe)" = "(Windows GUI)"
check "tarvik-cli.exe is a console program" test "$(subsystem tarvik-cli.exe)" = "(Windows CUI)"
version=$(sed -n 's/^tarvik-\(.*\)-win64\.zip$/\1/p' <<<"$(basename "$zip")")
for program in tarvik.exe tarvik-cli.exe tarvik-sim.exe; do
    # The version resource's strings are UTF-16: key, padding, value.
    properties=$(iconv -c -f UTF-16LE -t UTF-8 <"$folder/$program" 2>/dev/null | tr -d '\000')
    check "$program: product name and version in its file properties" \
        grep -q "ProductNameTarvik网络配置工具.*ProductVersion$version" <<<"$properties"
done

# Run from the unpacked folder only, without a display, in a network namespace of their own
# (nothing here sends): run NAME PATTERN PROGRAM ARGS... checks that the output holds PATTERN.
run() {
    local name=$1 pattern=$2
    shift 2
    env -u DISPLAY unshare --net -- wine "$@" >"$work/out" 2>&1
    if grep -qF -- "$pattern" "$work/out"; then ok "$name"; else fail "$name: $(cat "$work/out")"; fi
}
for program in tarvik-cli tarvik-sim; do
    run "$program.exe runs from the zip" "$program $version" "$folder/$program.exe" --version
done
run "tarvik.exe loads its platform plugin from the zip" "unexpected argument 'stray'" "$folder/tarvik.exe" stray
mv "$folder/platforms" "$work/platforms"
run "tarvik.exe without its platform plugin says so" 'platforms\qwindows.dll, beside tarvik.exe, is missing' \
    "$folder/tarvik.exe"
mv "$work/platforms" "$folder/platforms"

# ---- The installer ----------------------------------------------------------------------------------
if [ "$own_prefix" = 1 ]; then
    wineboot -i >/dev/null 2>&1
fi
drive=$WINEPREFIX/drive_c
"$triple-gcc-posix" -O2 -s "$here/netsh.c" -o "$drive/windows/system32/netsh.exe"
rm -f "$drive/windows/netsh.log"
# What Wine itself writes as it runs (its own folder, temporary files) is left out.
snapshot() { (cd "$drive" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -print | sort); }
snapshot >"$work/before"
wine "$setup" /S
wineserver -w
snapshot >"$work/installed"
comm -13 "$work/before" "$work/installed" >"$work/added"

installed="$drive/Program Files/Tarvik"
check "installed into Program Files\\Tarvik: the files of the zip and uninstall.exe" \
    diff <(cd "$folder" && (find . -type f; echo ./uninstall.exe) | sort) <(cd "$installed" && find . -type f | sort)
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs"
for shortcut in "Tarvik网络配置工具.lnk" "Tarvik Configuration Tool (English).lnk"; do
    target=$(strings -a "$menu/$shortcut" 2>/dev/null | grep -m1 -o 'C:\\.*\.exe')
    unix=$drive/$(echo "${target#C:\\}" | tr '\\' /)
    check "shortcut $shortcut points at an installed program ($target)" \
        test "$target" = 'C:\Program Files\Tarvik\tarvik.exe' -a -f "$unix"
done
check "the English shortcut starts it with --lang en" \
    grep -q -- '--lang en' <(strings -a -el "$menu/Tarvik Configuration Tool (English).lnk")
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvik'
check "Apps & features lists Tarvik with its uninstaller" \
    grep -q 'UninstallString.*C:\\Program Files\\Tarvik\\uninstall.exe' <(wine reg query "$key" 2>/dev/null)
for program in tarvik.exe tarvik-cli.exe; do
    check "firewall rule added: inbound UDP 65002 for $program" grep -q \
        "add rule name=\"Tarvik: module replies (UDP 65002)\" dir=in action=allow protocol=UDP localport=65002 program=\"C:\\\\Program Files\\\\Tarvik\\\\$program\"" \
        "$drive/windows/netsh.log"
done

rm -f "$drive/windows/netsh.log"
wine "$installed/uninstall.exe" /S
wineserver -w # the uninstaller runs on from a copy of itself
snapshot >"$work/after"
left=$(comm -12 "$work/added" "$work/after")
check "uninstalled: every file and folder the installer made is gone${left:+ (left: $left)}" test -z "$left"
check "uninstalled: Apps & features entry removed" sh -c "! wine reg query '$key' >/dev/null 2>&1"
check "uninstalled: firewall rule removed" \
    grep -q 'delete rule name="Tarvik: module replies (UDP 65002)"' "$drive/windows/netsh.log"
rm -f "$drive/windows/system32/netsh.exe" "$drive/windows/netsh.log"

report "Windows packages"

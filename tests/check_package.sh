#!/usr/bin/env bash
# The Debian package as scripts/package.sh makes it, here from the programs already built (cpack
# only installs and packs them): its name and control fields, its files, and the menu entry,
# metainfo, manual pages and firewalld service inside it, checked by their validators, and the
# whole package by lintian: no error, no warning.
#   check_package.sh BUILD_DIR VERSION
# Exits 77 (skipped) when a tool is missing.
set -uo pipefail
build=$1
version=$2

source=$(cd "$(dirname "$0")/.." && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli xmllint lintian; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is missing (apt-get install dpkg-dev file desktop-file-utils appstream libxml2-utils lintian)"
        exit 77
    fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -B "$tmp" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log"
    exit 1
fi
deb=$tmp/tarvik_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { fail "no $(basename "$deb") among: $(cd "$tmp" && echo *.deb)"; exit 1; }

# Control fields.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = tarvik ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), the project is $version"
[ -n "$(field Maintainer)" ] && [ -n "$(field Section)" ] && [ -n "$(field Description)" ] ||
    fail "Maintainer, Section or Description missing"
depends=$(field Depends)
for needed in fonts-noto-cjk libqt6widgets6 libqt6network6; do
    grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# Files: all that make the installed tool, nothing from the tests or the build.
contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
desktop=usr/share/applications/io.github.tarvik.Tarvik.desktop
metainfo=usr/share/metainfo/io.github.tarvik.Tarvik.metainfo.xml
firewall=usr/lib/firewalld/services/tarvik.xml
dissector=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)/wireshark/plugins/tarvik.lua
doc=usr/share/doc/tarvik
for path in usr/bin/tarvik usr/bin/tarvik-sim "$desktop" "$metainfo" usr/share/icons/hicolor/scalable/apps/tarvik.svg \
    usr/share/man/man1/tarvik.1.gz usr/share/man/man1/tarvik-sim.1.gz "$firewall" "$dissector" "$doc/copyright" "$doc/changelog.gz"; do
    grep -qxF "./$path" <<<"$contents" || fail "$path is not in the package"
done
if grep -qxF ./usr/bin/tarvik-cli <<<"$contents" && ! grep -qxF ./usr/share/man/man1/tarvik-cli.1.gz <<<"$contents"; then
    fail "tarvik-cli without its manual page"
fi
if ! grep -qxF ./usr/bin/tarvik-cli <<<"$contents" && grep -qxF ./usr/share/man/man1/tarvik-cli.1.gz <<<"$contents"; then
    fail "the manual page of tarvik-cli without the program"
fi
stray=$(grep -vE '^\./usr/(bin/tarvik(-sim|-cli)?|lib/firewalld/services/tarvik\.xml|lib/[^/]+-linux-[^/]+(/wireshark(/plugins(/tarvik\.lua)?)?)?|share/doc/tarvik/(copyright|changelog\.gz)|share/(applications|metainfo|icons|man)(/.*)?|bin|lib|lib/firewalld|lib/firewalld/services|share|share/doc|share/doc/tarvik)?/?$' <<<"$contents")
[ -z "$stray" ] || fail "unexpected files in the package: $stray"

# What is inside, through the validators.
root=$tmp/root
dpkg-deb --extract "$deb" "$root"
desktop-file-validate "$root/$desktop" || fail "desktop-file-validate"
grep -q '^Name=Tarvik网络配置工具$' "$root/$desktop" || fail "the menu entry's name"
while read -r program; do
    [ -x "$root/usr/bin/$program" ] || fail "the menu entry runs $program, which is not in usr/bin"
done < <(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$root/$desktop")
grep -q '^Exec=tarvik --lang en$' "$root/$desktop" || fail "no English action in the menu entry"
icon=$(sed -n 's/^Icon=//p' "$root/$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the icon $icon is not installed"
xmllint --noout "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" || fail "the icon is not well-formed"

appstreamcli validate --no-net "$root/$metainfo" || fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$root/$metainfo" ||
    fail "the metainfo does not launch $(basename "$desktop")"
newest=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$root/$metainfo" | head -n 1)
[ "$newest" = "$version" ] || fail "the metainfo's newest release is $newest, the project is $version"

xmllint --noout "$root/$firewall" || fail "the firewalld service is not well-formed"
grep -q '<port protocol="udp" port="65002"/>' "$root/$firewall" || fail "the firewalld service does not open UDP 65002"

for page in "$root"/usr/share/man/man1/*.1.gz; do
    zcat "$page" | grep -q "^\.TH .*\"tarvik $version\"" || fail "$(basename "$page") does not name version $version"
    if command -v groff >/dev/null; then
        warnings=$(zcat "$page" | groff -k -man -Tutf8 -ww -z 2>&1)
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    fi
done

# The licence: the copyright file in the machine-readable format, with the text of LICENSE; the
# changelog's newest entry is this version.
head -n 1 "$root/$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"
licence=$(awk -v RS= '/^License: Expat\n/' "$root/$doc/copyright" | sed -e 1d -e 's/^ //' -e 's/^\.$//')
[ "$(tr -s ' \n' ' ' <<<"$licence")" = "$(sed -n '/^Permission/,$ p' "$source/LICENSE" | tr -s ' \n' ' ')" ] ||
    fail "the copyright file's licence is not the text of LICENSE"
newest=$(zcat "$root/$doc/changelog.gz" | sed -n '1s/^tarvik (\([^)]*\)).*/\1/p')
[ "$newest" = "$version" ] || fail "the changelog's newest entry is ${newest:-none}, the project is $version"

# lintian: no error and no warning (information and pedantic tags are its advice). Its note that
# it runs as root is left out.
lintian --fail-on error,warning --no-tag-display-limit "$deb" 2>&1 | grep -vx 'running with root privileges is not recommended!'
[ "${PIPESTATUS[0]}" = 0 ] || fail "lintian"

[ "$failures" = 0 ] && echo "ok: $(basename "$deb")"
[ "$failures" = 0 ]

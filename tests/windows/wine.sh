#!/bin/sh
# wine.sh --qt PREFIX PROGRAM.exe [ARGS...]: runs a Windows program under Wine the way ctest runs a
# Linux one: Qt's DLLs and plugins from PREFIX, Qt's variables passed on (Wine hides QT_* from
# Windows programs; it hands WINEQT_* on as QT_*), and Qt's log on stderr rather than in Windows'
# debug channel. WINEPREFIX must name a Wine prefix of the caller's own (scripts/test.sh makes one).
set -eu
if [ "${1:-}" = --qt ]; then
    qt=$2
    shift 2
else
    echo "wine.sh: usage: wine.sh --qt PREFIX PROGRAM.exe [ARGS...]" >&2
    exit 2
fi
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine.sh: WINEPREFIX is not set: give the tests a Wine prefix of their own (scripts/test.sh does)" >&2
    exit 2
fi
# A Unix path as Windows programs see it: on drive Z:, Wine's view of /.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

export WINEPATH="$(windows_path "$qt/bin")"
export WINEQT_PLUGIN_PATH="$(windows_path "$qt/plugins")"
export WINEQT_FORCE_STDERR_LOGGING=1
# Without fontconfig, Qt's offscreen platform reads the fonts of one directory: the CJK ones.
export WINEQT_QPA_FONTDIR="$(windows_path "${QT_QPA_FONTDIR:-/usr/share/fonts/opentype/noto}")"
for variable in $(env | sed -n 's/^\(QT_[A-Za-z0-9_]*\)=.*/\1/p'); do
    [ "$variable" = QT_QPA_FONTDIR ] || export "WINE$variable=$(printenv "$variable")"
done
export WINEDEBUG="${WINEDEBUG:--all}"
# No desktop menu entries made by Wine, no .NET or HTML engine asked for.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=;mshtml=}"
exec wine "$@"

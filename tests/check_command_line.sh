#!/usr/bin/env bash
# tarvik's command line and start-up without a display, run as a user would: one row per case.
#   check_command_line.sh TARVIK VERSION
set -uo pipefail
tarvik=$1
version=$2
failures=0

# row NAME STATUS LINES PATTERN [VAR=VALUE...] -- ARGS...
# Runs tarvik with DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM cleared (then VAR=VALUE set) and
# checks its exit status, that its whole output (standard output and error) has LINES lines, and
# that one of them matches the extended regular expression PATTERN.
row() {
    local name=$1 expected=$2 expected_lines=$3 pattern=$4
    shift 4
    local vars=()
    while [ "$1" != -- ]; do vars+=("$1"); shift; done
    shift
    local output status
    output=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${vars[@]}" "$tarvik" "$@" 2>&1)
    status=$?
    local lines
    lines=$(printf '%s\n' "$output" | wc -l)
    if [ "$status" != "$expected" ] || [ "$lines" != "$expected_lines" ] || ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "FAIL $name: status $status (expected $expected), output:"
        printf '%s\n' "$output" | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

no_display='^tarvik: no display .*desktop session.*`ssh -X`.*`scripts/run\.sh --demo --check`$'
version_line="^tarvik ${version//./\\.}\$"
runtime=$(mktemp -d) # for Qt's offscreen platform, which wants one of mode 0700
trap 'rmdir "$runtime"' EXIT

row version           0 1 "$version_line" -- --version
row version-short     0 1 "$version_line" -- -v
row no-display        1 1 "$no_display" --
row no-display-en     1 1 "$no_display" -- --lang en
row no-display-xcb    1 1 "$no_display" QT_QPA_PLATFORM=xcb --
row wayland-then-xcb  1 1 "$no_display" "QT_QPA_PLATFORM=wayland;xcb" --
# A display that is named but not there (nothing listens at :9999 in the test's namespace).
row unreachable       1 1 '^tarvik: the display DISPLAY=:9999 cannot be reached; .*`ssh -X`' DISPLAY=:9999 --
# A wrong command line: the error, then "Try tarvik --help.".
row unknown-language  1 2 "^tarvik: unknown language 'fr' for --lang" -- --lang fr
# Qt's own options are taken by Qt, tarvik's are checked once the application exists.
row unknown-option    1 2 "^tarvik: Unknown option 'bogus'\.$" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" -- --bogus
row unknown-with-qt   1 2 "^tarvik: Unknown option 'bogus'\.$" XDG_RUNTIME_DIR="$runtime" -- -platform offscreen --bogus
row extra-argument    1 2 "^tarvik: unexpected argument 'x'$" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" -- x
# A capture that cannot be written: one line, before the window and its endpoint open.
row trace-refused     1 1 "^tarvik: cannot write the capture /nonexistent/trace\.pcapng: " QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" -- --trace /nonexistent/trace.pcapng

# --help: more than one line, on standard output, with the usage line and --lang.
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tarvik" --help 2>/dev/null)
status=$?
if [ "$status" = 0 ] && grep -q "^Usage: .*tarvik \[options\]" <<<"$help" && grep -q -- "--lang <language>" <<<"$help" &&
    grep -q -- "--trace <file>" <<<"$help"; then
    echo "ok   help"
else
    echo "FAIL help: status $status, output:"; printf '%s\n' "$help" | sed 's/^/    /'
    failures=$((failures + 1))
fi

[ "$failures" = 0 ]

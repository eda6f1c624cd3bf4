#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over every source file of src/ and tools/ that a build
# compiles, as its compile_commands.json compiles it, several files at a time, and fails on any
# finding. Each finding is shown once, however many files include the header it is in.
#
#   scripts/tidy.sh              over build/dev (scripts/test.sh builds it)
#   scripts/tidy.sh BUILD_DIR    over another build, configured and built before
#   scripts/tidy.sh -j N         N files at a time (default: as many as there are cores)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

build=build/dev
jobs=$(nproc)
while [ $# -gt 0 ]; do
    case "$1" in
    -j) [ $# -ge 2 ] || { echo "tidy.sh: -j needs a number" >&2; exit 2; }
        jobs=$2; shift ;;
    -h | --help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "tidy.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
    *) build=$1 ;;
    esac
    shift
done

ensure_packages clang-tidy
database=$build/compile_commands.json
# The sources include what the build generates (moc's output, the version header), so the build
# must have run, not only been configured.
if [ ! -f "$database" ] || [ ! -f "$build/generated/tarvik_version.h" ]; then
    echo "tidy.sh: $database is missing; build first: cmake --preset dev && cmake --build --preset dev" >&2
    exit 2
fi

repo=$PWD
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database" |
    grep -E "^$repo/(src|tools)/.*\.cpp$" | sort -u)
[ ${#files[@]} -gt 0 ] || { echo "tidy.sh: $database compiles nothing of src/ or tools/" >&2; exit 2; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
started=$SECONDS
# One log per source file, its status beside it; clang-tidy's count of the compiler's own
# warnings in Qt's headers (none of them shown) is left out.
tidy_one() {
    local file=$1 log
    log=$2/$(echo "${file#"$3"/}" | tr / _).log
    if clang-tidy -p "$4" --quiet --header-filter="^$3/(src|tools)/" "$file" >"$log" 2>&1; then
        echo 0 >"$log.status"
    else
        echo $? >"$log.status"
    fi
}
export -f tidy_one
printf '%s\0' "${files[@]}" | xargs -0 -P "$jobs" -I{} bash -c 'tidy_one "$@"' _ {} "$out" "$repo" "$build"

# A finding is its line (file:line:column: warning: ... [check]) and the lines after it up to the
# next one: the code, the notes, the fix offered.
findings=$(cat "$out"/*.log |
    { grep -vE '^[0-9]+ (warnings?|errors?)( and [0-9]+ (warnings?|errors?))? generated\.$' || true; } |
    awk -v root="$repo/" '
        function flush() { if (block != "" && !(block in seen)) { seen[block] = 1; printf "%s", block; count++ } block = "" }
        /^[^ ].*:[0-9]+:[0-9]+: (warning|error): / { flush() }
        { gsub(root, ""); block = block $0 "\n" }
        END { flush(); print count + 0 > "/dev/stderr" }' 2>"$out/count")
count=$(cat "$out/count")
failed=$(grep -Lx 0 "$out"/*.status | wc -l)
[ -z "$findings" ] || printf '%s\n' "$findings"
echo "== clang-tidy: ${#files[@]} files, $count findings, $((SECONDS - started)) s"
[ "$count" = 0 ] && [ "$failed" = 0 ]

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz, and fuzzes for a bounded time, one target after the other on one core.
#
#   scripts/fuzz.sh                    # all three targets, 60 seconds in all (a third each)
#   scripts/fuzz.sh 3600               # an hour in all, split the same way
#   scripts/fuzz.sh 3600 batch         # an hour on one target: arrival, paramfile or batch
#   scripts/fuzz.sh --fast 3600 arrival
#                                      # the same, several times faster: a build with
#                                      # UndefinedBehaviorSanitizer alone and edge coverage
#                                      # without comparisons (build/fuzz-fast); every
#                                      # input the run keeps is then run again under both sanitizers
#   scripts/fuzz.sh 0 batch FILE...    # replays the given inputs of one target (a crash file, say)
#   scripts/fuzz.sh --build-only       # builds the targets (AddressSanitizer build) and stops
#
# The corpus each target grows is kept in build/fuzz/corpus/<target> between runs (both builds
# share it); it starts from the seeds the build writes from the parameter table and the inputs
# earlier runs found, kept in tests/fuzz/corpus/<target>. A crash, a sanitizer report or a broken rule of the target stops the run with a
# non-zero status and leaves the input as build/fuzz/crash-* (or leak-*, timeout-*, oom-*).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

fast=0
build_only=0
case "${1:-}" in
--fast) fast=1 && shift ;;
--build-only) build_only=1 && shift ;;
esac
seconds=${1:-60}
shift || true
targets=(arrival paramfile batch)
if [ $# -gt 0 ]; then
    case "$1" in
    arrival | paramfile | batch) targets=("$1") ;;
    *) [ "$seconds" = 0 ] || { echo "fuzz.sh: unknown target '$1' (arrival, paramfile, batch)" >&2; exit 2; } ;;
    esac
    [ "$1" != "${targets[0]}" ] || shift
fi

# clang with its sanitizer and libFuzzer runtimes; llvm for llvm-symbolizer, so that reports name lines.
FUZZ_PACKAGES=(clang libclang-rt-14-dev llvm)
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
if [ ! -f build/fuzz/CMakeCache.txt ]; then
    cmake --preset fuzz >/dev/null
fi
# The seeds are written from the parameter table by the build (build/fuzz/tests/fuzz/seeds), as a
# dependency of every target.
cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}" -j "$(nproc)"
seeds=build/fuzz/tests/fuzz/seeds
[ "$build_only" = 0 ] || exit 0
bin=build/fuzz/tests/fuzz
if [ "$fast" = 1 ]; then
    # Assertions stay on (a Debug build), optimised as a release would be.
    if [ ! -f build/fuzz-fast/CMakeCache.txt ]; then
        cmake --preset fuzz-fast >/dev/null
    fi
    cmake --build --preset fuzz-fast --target "${targets[@]/#/fuzz_}" -j "$(nproc)"
    bin=build/fuzz-fast/tests/fuzz
fi

# The largest input of each target: 4 KB. A parameter file is about 1 KB and a conversation a few
# hundred actions; the arrival target makes its datagrams of up to 65,507 bytes from a short pattern,
# so long raw inputs would only slow every run.
max_len() { echo 4096; }
options=(-timeout=20 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build/fuzz/)
# TARVIK_FUZZ_SEED: the mutations' seed (libFuzzer's -seed; unset or 0: a new one every run).
[ "${TARVIK_FUZZ_SEED:-0}" = 0 ] || options+=(-seed="$TARVIK_FUZZ_SEED")
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

if [ "$seconds" = 0 ]; then
    target=${targets[0]}
    exec "$bin/fuzz_$target" -max_len="$(max_len "$target")" "${options[@]}" "$@"
fi
# Sequentially, so the run takes one core; the time is shared out, at least a few seconds each,
# less the second or so each target takes to load its corpus, so that the whole stays within it.
share=$((seconds / ${#targets[@]} - 1))
[ "$share" -ge 5 ] || share=5
for target in "${targets[@]}"; do
    mkdir -p "build/fuzz/corpus/$target"
    echo "== fuzzing $target for ${share} s"
    "$bin/fuzz_$target" -max_len="$(max_len "$target")" "${options[@]}" -max_total_time="$share" \
        "build/fuzz/corpus/$target" "$seeds/$target" "tests/fuzz/corpus/$target"
    if [ "$fast" = 1 ]; then
        # What the fast build cannot see (a read past the end of a datagram, a leak), the full build
        # sees in every input the run found worth keeping.
        echo "== replaying the corpus of $target under AddressSanitizer and UndefinedBehaviorSanitizer"
        "build/fuzz/tests/fuzz/fuzz_$target" -max_len="$(max_len "$target")" "${options[@]}" -runs=0 \
            "build/fuzz/corpus/$target" "$seeds/$target" "tests/fuzz/corpus/$target"
    fi
done

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz, and fuzzes the arrival path for a bounded time.
#
#   scripts/fuzz.sh            # 60 seconds
#   scripts/fuzz.sh 3600       # an hour; the corpus grown in build/fuzz/corpus is kept between runs
#   scripts/fuzz.sh 0 FILE...  # replays the given inputs (a crash file, say) and stops
#
# A crash, a sanitizer report or a broken rule of the target stops the run with a non-zero status
# and leaves the input as build/fuzz/crash-* (or leak-*, timeout-*, oom-*).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

seconds=${1:-60}
shift || true

# clang with its sanitizer and libFuzzer runtimes; llvm for llvm-symbolizer, so that reports name lines.
FUZZ_PACKAGES=(clang libclang-rt-14-dev llvm)
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
if [ ! -f build/fuzz/CMakeCache.txt ]; then
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DTARVIK_FUZZ=ON -DTARVIK_SANITIZE=ON -DTARVIK_BENCH=OFF >/dev/null
fi
cmake --build build/fuzz --target fuzz_arrival -j "$(nproc)"

target=build/fuzz/tests/fuzz/fuzz_arrival
# Datagrams up to 65,507 bytes, with room for the target's header and action bytes.
options=(-max_len=70000 -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build/fuzz/)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

if [ "$seconds" = 0 ]; then
    exec "$target" "${options[@]}" "$@"
fi
mkdir -p build/fuzz/corpus
echo "== fuzzing the arrival path for ${seconds} s"
"$target" "${options[@]}" -max_total_time="$seconds" build/fuzz/corpus tests/fuzz/corpus/arrival

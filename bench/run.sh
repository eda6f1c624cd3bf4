#!/usr/bin/env bash
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

usage() {
    cat <<'EOF'
Builds the benchmarks (build/bench, optimised with debug information) and runs each of them
inside a private network namespace that holds only the loopback. Figures go to stdout;
bench/RESULTS.md records them.

  bench/run.sh            every benchmark once
  bench/run.sh 3          every benchmark three times
  bench/run.sh soak [CYCLES [LOSS_PERCENT]]
                          the soak under loss alone (300 cycles, 2 % loss: several minutes)
  bench/run.sh cli-soak [ROUNDS [LOSS_PERCENT]]
                          tarvik-cli's engine reading 50 modules ROUNDS times (100, 2 % loss)
EOF
}
case "${1:-}" in -h | --help) usage; exit 0 ;; esac

runs=${1:-1}
if [ "$runs" = soak ] && [ "${2:-}" = "--inside-namespace" ]; then
    private_netns_up
    QT_QPA_PLATFORM=offscreen exec build/bench/bench/bench_soak "${@:3}"
fi
if [ "$runs" = cli-soak ] && [ "${2:-}" = "--inside-namespace" ]; then
    private_netns_up
    exec build/bench/bench/bench_cli_soak "${@:3}"
fi
if [ "${2:-}" = "--inside-namespace" ]; then
    private_netns_up
    export QT_QPA_PLATFORM=offscreen
    for ((i = 1; i <= runs; i++)); do
        echo "== run $i of $runs"
        build/bench/bench/bench_arrival
        build/bench/bench/bench_startup
        build/bench/bench/bench_readwrite
        TARVIK_BENCH_HIDDEN=1 build/bench/bench/bench_readwrite | sed 's/^/[window not shown] /'
        build/bench/bench/bench_cli 5 2
    done
    exit 0
fi

ensure_packages "${BUILD_PACKAGES[@]}" iproute2 util-linux
if [ ! -f build/bench/CMakeCache.txt ]; then
    cmake --preset bench >/dev/null
fi
cmake --build --preset bench --target bench_arrival bench_startup bench_readwrite bench_soak bench_cli bench_cli_soak tarvik tarvik-sim -j "$(nproc)"
echo "== $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), Linux $(uname -r)"
if [ "$runs" = soak ] || [ "$runs" = cli-soak ]; then
    in_private_netns "$0" "$runs" --inside-namespace "${@:2}"
fi
in_private_netns "$0" "$runs" --inside-namespace

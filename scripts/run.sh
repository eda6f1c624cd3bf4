#!/usr/bin/env bash
# Installs what is missing, builds, and starts the configuration tool.
#   scripts/run.sh --demo [options]   the tool with three simulated modules, in private network
#                                     namespaces (see scripts/demo.sh --help)
#   scripts/run.sh --demo --two-lans  the tool with two cards to two module networks, no default route
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

if [ "${1:-}" = "--demo" ]; then
    shift
    exec scripts/demo.sh "$@"
fi

ensure_packages "${BUILD_PACKAGES[@]}" fonts-noto-cjk
build_preset default
exec build/default/src/tarvik "$@"

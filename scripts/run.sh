#!/usr/bin/env bash
# Installs what is missing, builds, and starts the configuration tool.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh

ensure_packages "${BUILD_PACKAGES[@]}" fonts-noto-cjk
build_preset default
exec build/default/src/tarvik "$@"

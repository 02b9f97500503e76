#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (windows on the offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
cd build && ctest --output-on-failure -j"$(nproc)" --timeout 300

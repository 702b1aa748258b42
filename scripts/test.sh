#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages), builds everything and runs
# every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/packages.sh
# Unformatted code fails the run (clang-format with the repository's .clang-format).
bash scripts/check-format.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" --parallel "$(nproc)"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600

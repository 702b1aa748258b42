#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (packages), builds, and starts vantora.
# Without a display it runs offscreen and says where to look.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/packages.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)"
BIN="$BUILD_DIR/bin"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display found: vantora runs offscreen (test pattern when there is no camera)."
fi
exec "$BIN/vantora"

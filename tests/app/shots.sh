#!/usr/bin/env bash
# Renders every screen of BrenmorOps to <build>/shots/*.png against a prepared temporary home:
# tasks of every schedule kind (some disabled) and a few system job plists in
# ~/Library/LaunchAgents. Usage: bash tests/app/shots.sh [build folder]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
DATA="$ROOT/tests/data/app/shots"

cmake --build "$BUILD" --target BrenmorOpsShots -j "${JOBS:-1}" >/dev/null
SHOTS="$BUILD/tests/BrenmorOpsShots"
[ -x "$SHOTS" ] || { echo "BrenmorOpsShots was not built (configure with tests and the GUI on)" >&2; exit 1; }

HOME_DIR=$(mktemp -d)
trap 'rm -rf "$HOME_DIR"' EXIT
mkdir -p "$HOME_DIR/Library/LaunchAgents" "$HOME_DIR/.local/share/BrenmorOps" \
  "$HOME_DIR/.config" "$HOME_DIR/.cache" "$HOME_DIR/runtime"
chmod 700 "$HOME_DIR/runtime"
cp "$DATA/tasks.json" "$HOME_DIR/.local/share/BrenmorOps/tasks.json"
cp "$DATA"/*.plist "$HOME_DIR/Library/LaunchAgents/"

OUT="$BUILD/shots"
rm -rf "$OUT"
mkdir -p "$OUT"
env HOME="$HOME_DIR" XDG_DATA_HOME="$HOME_DIR/.local/share" XDG_CONFIG_HOME="$HOME_DIR/.config" \
  XDG_CACHE_HOME="$HOME_DIR/.cache" XDG_RUNTIME_DIR="$HOME_DIR/runtime" \
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 \
  "$SHOTS" "$OUT" "$DATA/import.json"
ls "$OUT"

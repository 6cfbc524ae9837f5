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

# Every screen in each look: the light palette, a dark palette and a font 1.5 times larger.
OUT="$BUILD/shots"
rm -rf "$OUT"
for VARIANT in light dark large; do
  HOME_DIR=$(mktemp -d)
  mkdir -p "$HOME_DIR/Library/LaunchAgents" "$HOME_DIR/.local/share/BrenmorOps" \
    "$HOME_DIR/.config" "$HOME_DIR/.cache" "$HOME_DIR/runtime"
  chmod 700 "$HOME_DIR/runtime"
  cp "$DATA/tasks.json" "$HOME_DIR/.local/share/BrenmorOps/tasks.json"
  cp "$DATA"/*.plist "$HOME_DIR/Library/LaunchAgents/"
  mkdir -p "$OUT/$VARIANT"
  status=0
  env HOME="$HOME_DIR" XDG_DATA_HOME="$HOME_DIR/.local/share" XDG_CONFIG_HOME="$HOME_DIR/.config" \
    XDG_CACHE_HOME="$HOME_DIR/.cache" XDG_RUNTIME_DIR="$HOME_DIR/runtime" \
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 \
    "$SHOTS" "$OUT/$VARIANT" "$DATA/import.json" "$VARIANT" || status=$?
  rm -rf "$HOME_DIR"
  [ "$status" -eq 0 ] || { echo "BrenmorOpsShots failed for $VARIANT" >&2; exit "$status"; }
done
ls "$OUT"/*

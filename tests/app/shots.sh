#!/usr/bin/env bash
# Renders every screen of BrenmorOps to <build>/shots/*.png against a prepared temporary home
# and refreshes the README's pictures (docs/main-window.png, docs/timeline.png) from them:
# tasks of every schedule kind (some disabled) and a few system job plists in
# ~/Library/LaunchAgents. Usage: bash tests/app/shots.sh [build folder]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
DATA="$ROOT/tests/data/app/shots"

cmake --build "$BUILD" --target BrenmorOpsShots -j "${JOBS:-1}" >/dev/null
SHOTS="$BUILD/tests/BrenmorOpsShots"
[ -x "$SHOTS" ] || { echo "BrenmorOpsShots was not built (configure with tests and the GUI on)" >&2; exit 1; }

# A fresh home for one run: the task file, the system job plists, and runs and output as of the
# fixed moment the shots are taken (Monday 30 November 2026, 14:20, the last day of a month, in
# UTC): a nightly run with its wake, a failed report among twelve, interval runs with a gap
# while the machine slept, a missed stand-up, and a long log.
NOW=2026-11-30T14:20:00
prepare_home() { # prepare_home DIR
  local HOME_DIR=$1
  mkdir -p "$HOME_DIR/Library/LaunchAgents" "$HOME_DIR/.local/share/BrenmorOps" \
    "$HOME_DIR/.config" "$HOME_DIR/.cache" "$HOME_DIR/runtime"
  chmod 700 "$HOME_DIR/runtime"
  cp "$DATA/tasks.json" "$HOME_DIR/.local/share/BrenmorOps/tasks.json"
  cp "$DATA"/*.plist "$HOME_DIR/Library/LaunchAgents/"
  local LOGS="$HOME_DIR/.local/share/BrenmorOps/Logs"
  mkdir -p "$LOGS"
  run 2026-11-30 03:00:04 03:12:40 0 >>"$LOGS/3f2a9c11.runs"
  run 2026-11-24 17:30:01 17:30:40 0 >"$LOGS/3f2a9c12.runs"
  for day in 25 26 27 28 29; do
    run 2026-11-$day 09:00:02 09:01:10 0
    [ "$day" = 29 ] || run 2026-11-$day 17:30:01 17:30:40 0
  done >>"$LOGS/3f2a9c12.runs"
  run 2026-11-29 17:30:01 17:32:15 0 >>"$LOGS/3f2a9c12.runs"
  run 2026-11-30 09:00:02 09:00:09 1 >>"$LOGS/3f2a9c12.runs"
  for hour in 00 01 02 03 07 08 09 10 11 12 13 14; do
    for minute in 00 30; do
      [ "$hour$minute" = 1430 ] && continue
      status=0; [ "$hour$minute" = 1130 ] && status=7
      run 2026-11-30 "$hour:$minute:01" "$hour:$(printf %02d $((10#$minute + 4))):30" "$status"
    done
  done >"$LOGS/3f2a9c14.runs"
  for i in $(seq 1 500); do printf '2026-11-30 09:00:%02d fetched order %d\n' $((i % 60)) "$i"; done \
    >"$LOGS/3f2a9c12.stdout.log"
  printf 'warning: 3 rows without a region\nerror: upload refused (HTTP 503)\n' >"$LOGS/3f2a9c12.stderr.log"
}
run() { printf '%sT%sZ\t%sT%sZ\t%s\n' "$1" "$2" "$1" "$3" "$4"; }

# Every screen in each look: the light palette, a dark palette and a font 1.5 times larger.
OUT="$BUILD/shots"
rm -rf "$OUT"
for VARIANT in light dark large; do
  HOME_DIR=$(mktemp -d)
  prepare_home "$HOME_DIR"
  mkdir -p "$OUT/$VARIANT"
  rc=0
  env HOME="$HOME_DIR" XDG_DATA_HOME="$HOME_DIR/.local/share" XDG_CONFIG_HOME="$HOME_DIR/.config" \
    XDG_CACHE_HOME="$HOME_DIR/.cache" XDG_RUNTIME_DIR="$HOME_DIR/runtime" \
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1 TZ=UTC SHOTS_NOW="$NOW" \
    "$SHOTS" "$OUT/$VARIANT" "$DATA/import.json" "$VARIANT" || rc=$?
  rm -rf "$HOME_DIR"
  [ "$rc" -eq 0 ] || { echo "BrenmorOpsShots failed for $VARIANT" >&2; exit "$rc"; }
done
ls "$OUT"/*
# The README shows the real window: the light main window with a task's detail, and the timeline.
cp "$OUT/light/00-main-window.png" "$ROOT/docs/main-window.png"
cp "$OUT/light/05b-timeline-wide.png" "$ROOT/docs/timeline.png"
echo "updated docs/main-window.png docs/timeline.png"

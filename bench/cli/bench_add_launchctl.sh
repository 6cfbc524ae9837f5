#!/usr/bin/env bash
# `add` into 1,000 tasks with our launchctl and agent runner (not a test), against `list` of the
# same file: CPU time of the tool and the processes it waits for (launchctl), medians of the same
# run. The runner holds the 1,000 agents loaded, as it would for a real user. For the record the
# parts are shown too: `add` with launchctl replaced by /bin/true, and `launchctl load` of one
# plist on its own.
#   bench/cli/bench_add_launchctl.sh BUILD_DIR
# Goal: `add` at most 2x `list` in CPU time. Exit status 1 when missed.
# Environment: RUNS (default 11), BRENMOR_BENCH_DIR (generated files, default /tmp/brenmor-bench).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
TOOL=$BUILD/bin/brenmor-ops
LAUNCHCTL=$BUILD/libexec/brenmor-ops/launchctl
RUNS=${RUNS:-11}
[ -x "$TOOL" ] && [ -x "$LAUNCHCTL" ] || {
  echo "no brenmor-ops or launchctl in $BUILD (build brenmor-ops, brenmor_launchctl, brenmor_agent_runner)" >&2
  exit 2
}
source "$HERE/measure.sh"

DATA=${BRENMOR_BENCH_DIR:-/tmp/brenmor-bench}/cli
mkdir -p "$DATA"
WORK=$(mktemp -d /tmp/bench-add.XXXXXX)
export HOME=$WORK/home XDG_DATA_HOME=$WORK/home/.local/share XDG_RUNTIME_DIR=$WORK/run \
  XDG_STATE_HOME=$WORK/state
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_STATE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
export BRENMOR_OPS_OSASCRIPT=/bin/true BRENMOR_OPS_PMSET=/bin/true
unset BRENMOR_OPS_LAUNCHCTL
unset DBUS_SESSION_BUS_ADDRESS
cleanup() {
  local pid
  pid=$(cat "$XDG_RUNTIME_DIR/brenmor-ops/agent-runner.lock" 2>/dev/null | tr -d '\n' || true)
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
TASKS=$XDG_DATA_HOME/BrenmorOps/tasks.json
mkdir -p "$(dirname "$TASKS")"
file=$DATA/tasks-1000.json
[ -s "$file" ] || "$PYTHON" "$HERE/make_task_file.py" 1000 "$file"
cp "$file" "$TASKS"

# The agents of the file's enabled tasks, loaded once (none due while the benchmark runs).
AGENTS=$HOME/Library/LaunchAgents
mkdir -p "$AGENTS"
"$PYTHON" - "$TASKS" "$AGENTS" "$(( ($(date +%-H) + 12) % 24 ))" <<'PY'
import json, sys
tasks, folder, hour = sys.argv[1], sys.argv[2], int(sys.argv[3])
for task in json.load(open(tasks, encoding="utf-8"))["tasks"]:
    if not task["isEnabled"]:
        continue
    label = "com.brenmor-ops.task." + task["id"]
    with open("%s/%s.plist" % (folder, label), "w") as out:
        out.write("""<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
    <key>Label</key>
    <string>%s</string>
    <key>ProgramArguments</key>
    <array>
        <string>/bin/true</string>
    </array>
    <key>StartCalendarInterval</key>
    <dict>
        <key>Hour</key>
        <integer>%d</integer>
        <key>Minute</key>
        <integer>0</integer>
    </dict>
</dict>
</plist>
""" % (label, hour))
PY
# A runner started on a busy machine may miss launchctl's first wait: try again once.
(cd "$AGENTS" && "$LAUNCHCTL" load ./*.plist) || (cd "$AGENTS" && "$LAUNCHCTL" load ./*.plist) || {
  echo "cannot load the agents with $LAUNCHCTL" >&2
  exit 2
}
one=$(ls "$AGENTS" | head -1)

echo "add into 1,000 tasks with our launchctl, median of $RUNS runs, CPU ms (wall ms);" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
restore="cp '$file' '$TASKS'"
read -r list list_cpu < <(measure "" "$TOOL" list)
read -r add add_cpu < <(measure "$restore" "$TOOL" add --name Bench --command true --daily 09:00)
read -r bare bare_cpu < <(BRENMOR_OPS_LAUNCHCTL=/bin/true measure "$restore" \
  "$TOOL" add --name Bench --command true --daily 09:00)
read -r load load_cpu < <(measure "" "$LAUNCHCTL" load "$AGENTS/$one")
ratio=$(awk -v a="$add_cpu" -v b="$list_cpu" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }')
echo "floor: list $list_cpu ($list); add $add_cpu ($add); ratio ${ratio}x"
echo "parts: add with /bin/true as launchctl $bare_cpu ($bare); launchctl load of one plist $load_cpu ($load)"
if awk -v r="$ratio" 'BEGIN { exit !(r <= 2) }'; then
  echo "goal met: add is ${ratio}x list in CPU time (goal 2x)"
else
  echo "goal MISSED: add is ${ratio}x list in CPU time (goal 2x)"
  # Why: the round trip is a second process that starts Qt (QtCore and QtNetwork) before it
  # sends one line to the runner; that start alone costs about what `list` costs.
  awk -v l="$load_cpu" -v b="$bare_cpu" -v s="$list_cpu" 'BEGIN {
    printf "  why: launchctl load of one plist alone costs %.2fx list, the tool without it %.2fx;\n", l / s, b / s
    printf "  meeting 2x needs a launchctl that starts without Qt or a load through the runner socket from the tool\n" }'
  exit 1
fi

#!/usr/bin/env bash
# `next` against `list` on 10,000 enabled tasks (not a test): both read the same file, so what
# `next` adds is the planning (local-time arithmetic for every task). CPU medians of the same run.
#   bench/cli/bench_next.sh BUILD_DIR
# Goal: `next` at most 1.3x `list` in CPU time. Exit status 1 when missed.
# Environment: RUNS (default 11), BRENMOR_BENCH_DIR (generated files, default /tmp/brenmor-bench).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
TOOL=$BUILD/bin/brenmor-ops
RUNS=${RUNS:-11}
[ -x "$TOOL" ] || { echo "no brenmor-ops in $BUILD/bin" >&2; exit 2; }
source "$HERE/measure.sh"

DATA=${BRENMOR_BENCH_DIR:-/tmp/brenmor-bench}/cli
mkdir -p "$DATA"
WORK=$(mktemp -d /tmp/bench-next.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export HOME=$WORK/home XDG_DATA_HOME=$WORK/home/.local/share
export BRENMOR_OPS_LAUNCHCTL=/bin/true BRENMOR_OPS_OSASCRIPT=/bin/true BRENMOR_OPS_PMSET=/bin/true
unset DBUS_SESSION_BUS_ADDRESS
TASKS=$XDG_DATA_HOME/BrenmorOps/tasks.json
mkdir -p "$(dirname "$TASKS")"

file=$DATA/tasks-10000-enabled.json
if [ ! -s "$file" ]; then
  "$PYTHON" "$HERE/make_task_file.py" 10000 "$file.tmp"
  "$PYTHON" - "$file.tmp" "$file" <<'PY'
import json, sys
data = json.load(open(sys.argv[1], encoding="utf-8"))
for task in data["tasks"]:
    task["isEnabled"] = True
json.dump(data, open(sys.argv[2], "w", encoding="utf-8"), indent=4, sort_keys=True, ensure_ascii=False)
PY
  rm -f "$file.tmp"
fi
cp "$file" "$TASKS"

echo "next on 10,000 enabled tasks, median of $RUNS runs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
read -r list list_cpu _ < <(measure "" "$TOOL" list)
read -r next next_cpu _ < <(measure "" "$TOOL" next)
ratio=$(awk -v a="$next_cpu" -v b="$list_cpu" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }')
echo "floor: list $list_cpu ms CPU ($list ms wall); next $next_cpu ms CPU ($next ms wall); ratio ${ratio}x"
if awk -v r="$ratio" 'BEGIN { exit !(r <= 1.3) }'; then
  echo "goal met: next is ${ratio}x list in CPU time (goal 1.3x)"
  echo "GOAL 3 next on 10,000 enabled tasks: goal <= 1.3x list CPU; floor (list) $list_cpu ms; figure $next_cpu ms; ratio ${ratio}x; met"
else
  echo "goal MISSED: next is ${ratio}x list in CPU time (goal 1.3x)"
  why=$(awk -v x="$next_cpu" -v s="$list_cpu" 'BEGIN {
    printf "missed by %.2fx list (%.0f ms): the planning of 10,000 tasks in local time", x / s - 1.3, x - 1.3 * s }')
  echo "GOAL 3 next on 10,000 enabled tasks: goal <= 1.3x list CPU; floor (list) $list_cpu ms; figure $next_cpu ms; ratio ${ratio}x; $why"
  exit 1
fi

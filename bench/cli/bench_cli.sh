#!/usr/bin/env bash
# Speed of brenmor-ops on task files of 10, 1,000 and 10,000 tasks (not a test).
#   bench/cli/bench_cli.sh BUILD_DIR
# Times `list`, `status` and `add` (median wall time of several runs) next to a plain Python
# json.load of the same file. launchctl is a stand-in that loads anything, osascript /bin/true, so `add`
# measures the tool itself (see below). Goals: `list` of 1,000 tasks at least 3x faster than the Python
# load; `add` to a 1,000-task file under 30 ms. Exit status 1 when a goal is missed.
# Environment: RUNS (default 15), BRENMOR_BENCH_DIR (generated files, default /tmp/brenmor-bench).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
TOOL=$BUILD/bin/brenmor-ops
RUNS=${RUNS:-15}
[ -x "$TOOL" ] || { echo "no brenmor-ops in $BUILD/bin (build the brenmor-ops target)" >&2; exit 2; }

DATA=${BRENMOR_BENCH_DIR:-/tmp/brenmor-bench}/cli
mkdir -p "$DATA"
WORK=$(mktemp -d /tmp/bench-cli.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export HOME=$WORK/home XDG_DATA_HOME=$WORK/home/.local/share
# A launchctl that loads anything and cannot tell what is loaded: one that listed nothing would
# make every change reinstall every agent of the file (none would count as loaded).
printf '#!/bin/sh\n[ "$1" = list ] && exit 1\nexit 0\n' > "$WORK/launchctl"
chmod +x "$WORK/launchctl"
export BRENMOR_OPS_LAUNCHCTL=$WORK/launchctl BRENMOR_OPS_OSASCRIPT=/bin/true BRENMOR_OPS_PMSET=/bin/true
# No session bus: the change notification is not part of what is measured.
unset DBUS_SESSION_BUS_ADDRESS
TASKS=$XDG_DATA_HOME/BrenmorOps/tasks.json
mkdir -p "$(dirname "$TASKS")"

# measure and median (shared with the other command-line benchmarks). The wall time includes
# waiting for the disk (the task file, script and plist are synced before they replace the old
# ones), which on a busy shared disk can dwarf the work the tool does itself.
source "$HERE/measure.sh"

status=0
echo "median of $RUNS runs, milliseconds: wall (cpu)"
printf '%8s  %12s  %12s  %12s  %12s  %s\n' tasks list status add "python load" "python/list"
for count in 10 1000 10000; do
  file=$DATA/tasks-$count.json
  [ -s "$file" ] || "$PYTHON" "$HERE/make_task_file.py" "$count" "$file"
  restore="cp '$file' '$TASKS'"
  eval "$restore"
  read -r list list_cpu _ < <(measure "" "$TOOL" list)
  read -r stat stat_cpu _ < <(measure "" "$TOOL" status)
  read -r add add_cpu _ < <(measure "$restore" "$TOOL" add --name Bench --command true --daily 09:00)
  read -r py py_cpu _ < <(measure "" "$PYTHON" -c 'import json,sys; json.load(open(sys.argv[1]))' "$TASKS")
  ratio=$(awk -v p="$py" -v l="$list" 'BEGIN { printf "%.1f", p / (l > 0 ? l : 1) }')
  printf '%8s  %12s  %12s  %12s  %12s  %sx\n' "$count" "$list ($list_cpu)" "$stat ($stat_cpu)" \
    "$add ($add_cpu)" "$py ($py_cpu)" "$ratio"
  if [ "$count" = 1000 ]; then
    goal_list=$ratio goal_add=$add goal_add_cpu=$add_cpu
  fi
done

# Start-up: list of 1,000 tasks against version, version against a bare QtCore program.
BARE=$BUILD/bench/tools/bare_qtcore
if [ -x "$BARE" ]; then
  cp "$DATA/tasks-1000.json" "$TASKS"
  read -r t_list _ _ < <(measure "" "$TOOL" list)
  read -r t_version _ _ < <(measure "" "$TOOL" version)
  read -r t_bare _ _ < <(measure "" "$BARE")
  r_list=$(awk -v a="$t_list" -v b="$t_version" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }')
  r_version=$(awk -v a="$t_version" -v b="$t_bare" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }')
  echo "start-up: list(1,000) $t_list ms, version $t_version ms, bare QtCore $t_bare ms"
  if awk -v r="$r_list" 'BEGIN { exit !(r <= 1.5) }'; then
    echo "goal met: list is ${r_list}x version (goal 1.5x)"
  else
    echo "goal MISSED: list is ${r_list}x version (goal 1.5x)"; status=1
  fi
  if awk -v r="$r_version" 'BEGIN { exit !(r <= 1.2) }'; then
    echo "goal met: version is ${r_version}x the bare QtCore program (goal 1.2x)"
  else
    echo "goal MISSED: version is ${r_version}x the bare QtCore program (goal 1.2x)"; status=1
  fi
fi

if awk -v r="$goal_list" 'BEGIN { exit !(r >= 3) }'; then
  echo "goal met: list of 1,000 tasks is ${goal_list}x faster than the Python load (goal 3x)"
else
  echo "goal MISSED: list of 1,000 tasks is only ${goal_list}x faster than the Python load (goal 3x)"
  status=1
fi
if awk -v a="$goal_add" 'BEGIN { exit !(a < 30) }'; then
  echo "goal met: add to a 1,000-task file takes ${goal_add} ms (goal under 30 ms)"
else
  echo "goal MISSED: add to a 1,000-task file takes ${goal_add} ms wall, ${goal_add_cpu} ms CPU (goal under 30 ms wall)"
  status=1
fi
exit $status

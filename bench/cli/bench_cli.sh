#!/usr/bin/env bash
# Speed of brenmor-ops on task files of 10, 1,000 and 10,000 tasks (not a test).
#   bench/cli/bench_cli.sh BUILD_DIR
# Times `list`, `status` and `add` (median wall time of several runs) next to a plain Python
# json.load of the same file. launchctl and osascript are replaced by /bin/true, so `add`
# measures the tool itself. Goals: `list` of 1,000 tasks at least 3x faster than the Python
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
export BRENMOR_OPS_LAUNCHCTL=/bin/true BRENMOR_OPS_OSASCRIPT=/bin/true BRENMOR_OPS_PMSET=/bin/true
# No session bus: the change notification is not part of what is measured.
unset DBUS_SESSION_BUS_ADDRESS
TASKS=$XDG_DATA_HOME/BrenmorOps/tasks.json
mkdir -p "$(dirname "$TASKS")"


# median_ms SETUP COMMAND...: runs SETUP (untimed) then COMMAND, RUNS times; prints the median
# wall time in milliseconds with one decimal. Times come from bash's EPOCHREALTIME, so reading
# the clock starts no process.
median_ms() {
  local setup=$1; shift
  local samples=() start end
  for _ in $(seq "$RUNS"); do
    eval "$setup"
    start=${EPOCHREALTIME/./}
    "$@" > /dev/null
    end=${EPOCHREALTIME/./}
    samples+=($((end - start)))
  done
  printf '%s\n' "${samples[@]}" | sort -n |
    awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                              printf "%.1f", m / 1000 }'
}

status=0
printf '%8s  %10s  %10s  %10s  %12s  %s\n' tasks "list ms" "status ms" "add ms" "python ms" \
  "python/list"
for count in 10 1000 10000; do
  file=$DATA/tasks-$count.json
  [ -s "$file" ] || python3 "$HERE/make_task_file.py" "$count" "$file"
  restore="cp '$file' '$TASKS'"
  eval "$restore"
  list=$(median_ms "" "$TOOL" list)
  stat=$(median_ms "" "$TOOL" status)
  add=$(median_ms "$restore" "$TOOL" add --name Bench --command true --daily 09:00)
  py=$(median_ms "" python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$TASKS")
  ratio=$(awk -v p="$py" -v l="$list" 'BEGIN { printf "%.1f", p / l }')
  printf '%8s  %10s  %10s  %10s  %12s  %sx\n' "$count" "$list" "$stat" "$add" "$py" "$ratio"
  if [ "$count" = 1000 ]; then
    goal_list=$ratio goal_add=$add
  fi
done

if awk -v r="$goal_list" 'BEGIN { exit !(r >= 3) }'; then
  echo "goal met: list of 1,000 tasks is ${goal_list}x faster than the Python load (goal 3x)"
else
  echo "goal MISSED: list of 1,000 tasks is only ${goal_list}x faster than the Python load (goal 3x)"
  status=1
fi
if awk -v a="$goal_add" 'BEGIN { exit !(a < 30) }'; then
  echo "goal met: add to a 1,000-task file takes ${goal_add} ms (goal under 30 ms)"
else
  echo "goal MISSED: add to a 1,000-task file takes ${goal_add} ms (goal under 30 ms)"
  status=1
fi
exit $status

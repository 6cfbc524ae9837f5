#!/usr/bin/env bash
# Runs every benchmark: each executable BUILD_DIR/bench/bench_* and each script
# bench/*/bench_*.sh (given BUILD_DIR as its argument). Extra arguments go to the programs
# (e.g. --benchmark_filter=Tail). Benchmark data is generated under $BRENMOR_BENCH_DIR
# (default /tmp/brenmor-bench) and reused by later runs.
set -uo pipefail
if [ $# -lt 1 ]; then
  echo "usage: bash bench/run.sh BUILD_DIR [benchmark options...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
shift
here=$(cd "$(dirname "$0")" && pwd)
export BRENMOR_BENCH_DIR=${BRENMOR_BENCH_DIR:-/tmp/brenmor-bench}
mkdir -p "$BRENMOR_BENCH_DIR"

# Every benchmark's output is kept: the speed goals' lines ("GOAL <n> ...") are summed up at
# the end, one or more per goal, each saying met or by how much and why it missed.
log=$(mktemp /tmp/brenmor-bench-log.XXXXXX)
trap 'rm -f "$log"' EXIT

status=0
ran=0
for program in "$build"/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" "$@" 2>&1 | tee -a "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  ran=$((ran + 1))
done
for script in "$here"/*/bench_*.sh; do
  [ -f "$script" ] || continue
  echo "== ${script#"$here"/}"
  bash "$script" "$build" 2>&1 | tee -a "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  ran=$((ran + 1))
done
if [ "$ran" -eq 0 ]; then
  echo "No benchmarks found in $build/bench or $here/*/" >&2
  exit 1
fi

# The speed goals and the benchmark that measures each.
goals=(
  "1|the script upgrade after an update|bench_script_upgrade"
  "2|add into 1,000 tasks against list|cli/bench_add_launchctl.sh"
  "3|next against list at 10,000 tasks|cli/bench_next.sh"
  "4|jobs --all: linear, and against plistlib at 10,000|systemjobs/bench_jobs_all.sh"
  "5|one timeline frame|bench_task_views"
)
echo
echo "== speed goals (load average $(cut -d' ' -f1-3 /proc/loadavg))"
for goal in "${goals[@]}"; do
  IFS='|' read -r number what bench <<< "$goal"
  lines=$(grep "^GOAL $number " "$log" | sed "s/^GOAL $number /goal $number: /")
  if [ -n "$lines" ]; then
    echo "$lines"
  else
    echo "goal $number: $what: not measured: $bench did not print its result (see its output above)"
    status=1
  fi
done
exit $status

#!/usr/bin/env bash
# `brenmor-ops jobs --all` over 1,000 and 10,000 property lists in the user's LaunchAgents
# folder (not a test), against `version` (the start-up every command pays) and a plain Python
# plistlib script doing the same reading. CPU medians of the same run.
#   bench/systemjobs/bench_jobs_all.sh BUILD_DIR
# Goals: linear, at most x10.5 (above `version`) from 1,000 to 10,000 plists; at 10,000 at
# least 5x faster than plistlib. Exit status 1 when missed.
# Environment: RUNS (default 7), BRENMOR_BENCH_DIR (generated files, default /tmp/brenmor-bench).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
TOOL=$BUILD/bin/brenmor-ops
RUNS=${RUNS:-7}
[ -x "$TOOL" ] || { echo "no brenmor-ops in $BUILD/bin" >&2; exit 2; }
source "$ROOT/bench/cli/measure.sh"

DATA=${BRENMOR_BENCH_DIR:-/tmp/brenmor-bench}/jobs
unset DBUS_SESSION_BUS_ADDRESS
status=0
echo "jobs --all, median of $RUNS runs, CPU ms (wall ms); load average $(cut -d' ' -f1-3 /proc/loadavg)"
export HOME=$DATA/home-1000
read -r version version_cpu < <(measure "" "$TOOL" version)
for count in 1000 10000; do
  home=$DATA/home-$count
  agents=$home/Library/LaunchAgents
  if [ "$(ls "$agents" 2>/dev/null | wc -l)" != "$count" ]; then
    rm -rf "$home"
    "$PYTHON" "$HERE/make_plists.py" "$agents" "$count"
  fi
  export HOME=$home
  read -r jobs jobs_cpu < <(measure "" "$TOOL" jobs --all)
  read -r py py_cpu < <(measure "" "$PYTHON" "$HERE/plistlib_baseline.py" "$agents" \
    /Library/LaunchAgents /Library/LaunchDaemons)
  eval "jobs_$count=$jobs_cpu py_$count=$py_cpu"
  echo "$count plists: jobs --all $jobs_cpu ($jobs), plistlib $py_cpu ($py), version $version_cpu ($version)"
done
growth=$(awk -v a="$jobs_10000" -v b="$jobs_1000" -v v="$version_cpu" \
  'BEGIN { d = b - v; printf "%.1f", (a - v) / (d > 0 ? d : 1) }')
speedup=$(awk -v p="$py_10000" -v j="$jobs_10000" 'BEGIN { printf "%.1f", p / (j > 0 ? j : 1) }')
if awk -v g="$growth" 'BEGIN { exit !(g <= 10.5) }'; then
  echo "goal met: above version, 1,000 -> 10,000 plists grows x$growth (goal x10.5)"
else
  echo "goal MISSED: above version, 1,000 -> 10,000 plists grows x$growth (goal x10.5)"; status=1
fi
if awk -v s="$speedup" 'BEGIN { exit !(s >= 5) }'; then
  echo "goal met: at 10,000 plists ${speedup}x faster than plistlib (goal 5x)"
else
  echo "goal MISSED: at 10,000 plists only ${speedup}x faster than plistlib (goal 5x)"; status=1
fi
exit $status

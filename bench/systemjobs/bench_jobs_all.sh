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
read -r version version_cpu _ < <(measure "" "$TOOL" version)
for count in 1000 10000; do
  home=$DATA/home-$count
  agents=$home/Library/LaunchAgents
  if [ "$(ls "$agents" 2>/dev/null | wc -l)" != "$count" ]; then
    rm -rf "$home"
    "$PYTHON" "$HERE/make_plists.py" "$agents" "$count"
  fi
  export HOME=$home
  read -r jobs jobs_cpu jobs_sys < <(measure "" "$TOOL" jobs --all)
  read -r py py_cpu _ < <(measure "" "$PYTHON" "$HERE/plistlib_baseline.py" "$agents" \
    /Library/LaunchAgents /Library/LaunchDaemons)
  eval "jobs_$count=$jobs_cpu py_$count=$py_cpu sys_$count=$jobs_sys"
  echo "$count plists: jobs --all $jobs_cpu ($jobs), plistlib $py_cpu ($py), version $version_cpu ($version)"
done
growth=$(awk -v a="$jobs_10000" -v b="$jobs_1000" -v v="$version_cpu" \
  'BEGIN { d = b - v; printf "%.1f", (a - v) / (d > 0 ? d : 1) }')
speedup=$(awk -v p="$py_10000" -v j="$jobs_10000" 'BEGIN { printf "%.1f", p / (j > 0 ? j : 1) }')
if awk -v g="$growth" 'BEGIN { exit !(g <= 10.5) }'; then
  echo "goal met: above version, 1,000 -> 10,000 plists grows x$growth (goal x10.5)"
  verdict=met
else
  echo "goal MISSED: above version, 1,000 -> 10,000 plists grows x$growth (goal x10.5)"; status=1
  # Per plist, above the start-up: when the 1,000 figure is close to `version` the machine's
  # noise alone moves the ratio by several units.
  verdict=$(awk -v g="$growth" -v a="$jobs_10000" -v b="$jobs_1000" -v v="$version_cpu" 'BEGIN {
    printf "missed by x%.1f: per plist %.1f us at 1,000 against %.1f us at 10,000", g - 10.5, (b - v), (a - v) / 10
    if (b - v < 20) printf " (the 1,000 figure is only %.0f ms above version: within this machine'"'"'s noise)", b - v
    else printf " (more memory or a sort growing with the count)" }')
fi
echo "GOAL 4 jobs --all, 1,000 -> 10,000 plists: goal growth <= x10.5 above version; floor (version) $version_cpu ms; figure $jobs_1000 -> $jobs_10000 ms; ratio x$growth; $verdict"
if awk -v s="$speedup" 'BEGIN { exit !(s >= 5) }'; then
  echo "goal met: at 10,000 plists ${speedup}x faster than plistlib (goal 5x)"
  verdict=met
else
  echo "goal MISSED: at 10,000 plists only ${speedup}x faster than plistlib (goal 5x)"; status=1
  verdict=$(awk -v s="$speedup" -v j="$jobs_10000" -v k="$sys_10000" -v v="$version_cpu" -v p="$py_10000" 'BEGIN {
    printf "missed by %.1fx (%.0f ms over %.0f ms): %.0f ms of it is the kernel opening and reading 10,000 files, %.0f ms the start-up every command pays", 5 - s, j - p / 5, p / 5, k, v }')
fi
echo "GOAL 4 jobs --all at 10,000 plists: goal >= 5x faster than plistlib; floor (plistlib) $py_10000 ms; figure $jobs_10000 ms; ratio ${speedup}x; $verdict"
exit $status

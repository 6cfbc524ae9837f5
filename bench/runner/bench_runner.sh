#!/usr/bin/env bash
# Benchmarks of the Linux agent runner (not a test: it takes about three minutes).
#   bench/runner/bench_runner.sh [BUILD_DIR]      (default: build)
# Goals: a calendar job starts within 1 second of its minute; an idle runner with 100 loaded
# jobs uses under 0.1% of one core.
# Environment: IDLE_SECONDS (default 30), CALENDAR_RUNS (default 2).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
LAUNCHCTL=$BUILD/libexec/brenmor-ops/launchctl
IDLE_SECONDS=${IDLE_SECONDS:-30}
CALENDAR_RUNS=${CALENDAR_RUNS:-2}
[ -x "$LAUNCHCTL" ] || { echo "no launchctl in $BUILD (build the brenmor_launchctl and brenmor_agent_runner targets)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/bench-runner.XXXXXX)
export HOME=$WORK/home XDG_RUNTIME_DIR=$WORK/run XDG_STATE_HOME=$WORK/state
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$XDG_STATE_HOME" "$WORK/agents"
chmod 700 "$XDG_RUNTIME_DIR"

runner_pid() { cat "$XDG_RUNTIME_DIR/brenmor-ops/agent-runner.lock" 2>/dev/null | tr -d '\n'; }
cleanup() {
  local pid; pid=$(runner_pid)
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  sleep 0.5
  rm -rf "$WORK"
}
trap cleanup EXIT

plist() { # plist LABEL SCRIPT SCHEDULE_XML
  cat > "$WORK/agents/$1.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
    <key>Label</key>
    <string>$1</string>
    <key>ProgramArguments</key>
    <array>
        <string>/bin/sh</string>
        <string>-c</string>
        <string>$2</string>
    </array>
$3
</dict>
</plist>
PLIST
  echo "$WORK/agents/$1.plist"
}

cpu_ticks() { # utime + stime of a process, in clock ticks
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

status=0

# 1. Idle cost with 100 jobs: daily and weekly calendar jobs and long intervals, none due now.
hour=$(( ($(date +%-H) + 12) % 24 ))
for i in $(seq 1 100); do
  case $((i % 3)) in
    0) schedule="<key>StartCalendarInterval</key><dict><key>Hour</key><integer>$hour</integer><key>Minute</key><integer>$((i % 60))</integer></dict>" ;;
    1) schedule="<key>StartCalendarInterval</key><array><dict><key>Weekday</key><integer>$((i % 7))</integer><key>Hour</key><integer>$hour</integer><key>Minute</key><integer>0</integer></dict><dict><key>Day</key><integer>31</integer><key>Month</key><integer>2</integer></dict></array>" ;;
    2) schedule="<key>StartInterval</key><integer>86400</integer>" ;;
  esac
  "$LAUNCHCTL" load "$(plist "bench.idle.$i" "true" "$schedule")"
done
pid=$(runner_pid)
loaded=$("$LAUNCHCTL" list | grep -c 'bench\.idle\.' || true)
sleep 2
before=$(cpu_ticks "$pid")
sleep "$IDLE_SECONDS"
after=$(cpu_ticks "$pid")
hz=$(getconf CLK_TCK)
idle=$(awk -v t=$((after - before)) -v hz="$hz" -v s="$IDLE_SECONDS" 'BEGIN { printf "%.4f", t / hz / s * 100 }')
rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
echo "idle: $loaded jobs loaded, $((after - before)) ticks in ${IDLE_SECONDS}s = ${idle}% of a core (goal < 0.1%), RSS ${rss} kB"
awk -v v="$idle" 'BEGIN { exit !(v < 0.1) }' || { echo "idle: GOAL MISSED"; status=1; }

# 2. Calendar latency: a job every minute records when it started.
stamps=$WORK/calendar.stamps
"$LAUNCHCTL" load "$(plist bench.calendar "date +%s.%N >> '$stamps'" "<key>StartCalendarInterval</key><dict/>")"
deadline=$(( $(date +%s) + 70 * CALENDAR_RUNS + 10 ))
while [ "$(cat "$stamps" 2>/dev/null | wc -l)" -lt "$CALENDAR_RUNS" ] && [ "$(date +%s)" -lt "$deadline" ]; do
  sleep 1
done
if [ ! -s "$stamps" ]; then
  echo "calendar: no run recorded"; status=1
else
  awk '{ s = $1 - int($1 / 60) * 60; printf "calendar: run %d started %.3f s after its minute\n", NR, s;
         if (s > max) max = s }
       END { printf "calendar: worst %.3f s (goal < 1 s)\n", max; exit !(max < 1) }' "$stamps" \
    || { echo "calendar: GOAL MISSED"; status=1; }
fi
exit $status

# Shared by the command-line benchmarks (sourced, not run).
# measure SETUP COMMAND...: runs SETUP (untimed) then COMMAND, RUNS times; prints the median
# wall time, the median CPU time (user + system, with the processes it waited for) and the
# median system time in milliseconds.
measure() {
  local setup=$1; shift
  local walls=() cpus=() syss=() line TIMEFORMAT='%R %U %S'
  for _ in $(seq "$RUNS"); do
    eval "$setup"
    line=$( { time "$@" > /dev/null 2>&1; } 2>&1 )
    walls+=("$(echo "$line" | awk '{ print $1 * 1000 }')")
    cpus+=("$(echo "$line" | awk '{ print ($2 + $3) * 1000 }')")
    syss+=("$(echo "$line" | awk '{ print $3 * 1000 }')")
  done
  printf '%s %s %s\n' "$(median "${walls[@]}")" "$(median "${cpus[@]}")" "$(median "${syss[@]}")"
}

median() {
  printf '%s\n' "$@" | sort -n |
    awk '{ v[NR] = $1 } END { printf "%.0f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The real interpreter: python3 on PATH may be a slow shim (pyenv) that would inflate baselines.
if [ -x /usr/bin/python3 ]; then
  PYTHON=/usr/bin/python3
else
  PYTHON=$(python3 -c 'import sys; print(sys.executable)')
fi

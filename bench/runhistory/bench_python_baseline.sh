#!/usr/bin/env bash
# Python baseline for bench_run_history: the same history and log files read the way a short
# script would (datetime.fromisoformat per field, readlines()[-100:]).
# Usage: bash bench/runhistory/bench_python_baseline.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench_python_baseline.sh BUILD_DIR}
program=$build/bench/bench_run_history
if [ ! -x "$program" ]; then
  echo "skipped: $program not built" >&2
  exit 0
fi
mapfile -t files < <("$program" --generate-only)
exec python3 "$(dirname "$0")/python_baseline.py" "${files[0]}" "${files[1]}"

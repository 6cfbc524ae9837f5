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

status=0
ran=0
for program in "$build"/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" "$@" || status=1
  ran=$((ran + 1))
done
for script in "$here"/*/bench_*.sh; do
  [ -f "$script" ] || continue
  echo "== ${script#"$here"/}"
  bash "$script" "$build" || status=1
  ran=$((ran + 1))
done
if [ "$ran" -eq 0 ]; then
  echo "No benchmarks found in $build/bench or $here/*/" >&2
  exit 1
fi
exit $status

#!/usr/bin/env python3
"""Times the Python way of reading a run history and a log tail: usage HISTORY LOG."""
import sys
import time
from datetime import datetime


def parse_history(path):
    records = []
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for line in text.split("\n"):
        fields = [p for p in line.split("\t") if p]
        try:
            if len(fields) == 3:
                records.append((datetime.fromisoformat(fields[0]),
                                datetime.fromisoformat(fields[1]), int(fields[2])))
            elif len(fields) == 2:
                t = datetime.fromisoformat(fields[0])
                records.append((t, t, int(fields[1])))
        except ValueError:
            pass
    return records


def tail(path, n):
    with open(path, encoding="utf-8") as f:
        return "".join(f.readlines()[-n:]).strip()


def best_of(runs, fn, *args):
    """Best wall-clock and CPU time of `runs` calls (CPU time is what Google Benchmark's CPU
    column shows, and is less disturbed by a busy machine)."""
    walls, cpus = [], []
    result = None
    for _ in range(runs):
        wall, cpu = time.perf_counter(), time.process_time()
        result = fn(*args)
        walls.append(time.perf_counter() - wall)
        cpus.append(time.process_time() - cpu)
    return min(walls), min(cpus), result


def main():
    history, log = sys.argv[1], sys.argv[2]
    wall, cpu, records = best_of(5, parse_history, history)
    print(f"python parse_history (fromisoformat)   {wall * 1000:10.1f} ms wall "
          f"{cpu * 1000:10.1f} ms CPU  ({len(records)} records, best of 5)")
    wall, cpu, text = best_of(2, tail, log, 100)
    print(f"python readlines()[-100:] of 1 GiB log {wall * 1000:10.1f} ms wall "
          f"{cpu * 1000:10.1f} ms CPU  ({text.count(chr(10)) + 1} lines, best of 2)")


if __name__ == "__main__":
    main()

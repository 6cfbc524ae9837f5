#!/usr/bin/env python3
"""Writes a tasks.json with COUNT tasks of mixed schedules, in the task file's own layout
(version 2 envelope, keys sorted, four-space indentation).

    make_task_file.py COUNT OUTPUT [SEED]
"""
import json
import random
import sys
import uuid


def times(rng):
    return [{"hour": rng.randrange(24), "minute": rng.randrange(60)}
            for _ in range(rng.choice([1, 1, 1, 2, 3]))]


def schedule(rng, index):
    kind = index % 7
    if kind == 0:
        return {"runAtLoad": {}}
    if kind == 1:
        return {"interval": {"minutes": rng.choice([5, 15, 30, 60, 240])}}
    if kind == 2:
        return {"daily": {"times": times(rng)}}
    if kind == 3:
        return {"weekly": {"weekdays": sorted(rng.sample(range(1, 8), rng.randrange(1, 6))),
                           "times": times(rng)}}
    if kind == 4:
        return {"monthly": {"day": rng.randrange(1, 32), "times": times(rng)}}
    if kind == 5:
        return {"monthlyLastDay": {"times": times(rng)}}
    return {"monthlyNthWeekday": {"nth": rng.randrange(1, 5), "weekday": rng.randrange(1, 8),
                                  "times": times(rng)}}


def task(rng, index):
    entry = {
        "id": str(uuid.UUID(int=rng.getrandbits(128), version=4)).upper(),
        "name": "Task %05d %s" % (index, rng.choice(["backup", "report", "sync", "Über-Job"])),
        "command": "rsync -av ~/docs/%d /backup/%d && echo \"done $(date)\"" % (index, index),
        "useLoginShell": rng.random() < 0.8,
        "wakeBeforeRun": rng.random() < 0.2,
        "isEnabled": rng.random() < 0.9,
        "logs": [],
        "schedule": schedule(rng, index),
    }
    if rng.random() < 0.3:
        entry["workingDirectory"] = "/Users/someone/Projects/%d" % index
    if rng.random() < 0.1:
        entry["envFilePath"] = "/Users/someone/.env.%d" % index
    return entry


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    count = int(sys.argv[1])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) == 4 else count)
    envelope = {"version": 2, "tasks": [task(rng, i) for i in range(count)]}
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        json.dump(envelope, out, indent=4, sort_keys=True, ensure_ascii=False)


if __name__ == "__main__":
    main()

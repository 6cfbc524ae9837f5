#!/usr/bin/python3
"""Polls every /proc/<pid>/cmdline until SIGTERM, looking for a secret read from standard input
(so it never stands in this program's own arguments), and for a marker that proves the polling
saw the processes it watched. Prints "READY" once polling, then at the end
"SCANS <n> MARKER <sightings> SECRET <sightings>"."""
import os
import signal
import sys

secret = sys.stdin.readline().rstrip("\n").encode()
marker = sys.argv[1].encode()
stop = False


def on_term(_signum, _frame):
    global stop
    stop = True


signal.signal(signal.SIGTERM, on_term)
own = str(os.getpid())
scans = marker_seen = secret_seen = 0
print("READY", flush=True)
while not stop:
    for name in os.listdir("/proc"):
        if not name.isdigit() or name == own:
            continue
        try:
            with open("/proc/" + name + "/cmdline", "rb") as f:
                line = f.read()
        except OSError:
            continue
        if secret in line:
            secret_seen += 1
        if marker in line:
            marker_seen += 1
    scans += 1
print("SCANS %d MARKER %d SECRET %d" % (scans, marker_seen, secret_seen), flush=True)

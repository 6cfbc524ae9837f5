#!/usr/bin/env python3
"""Writes COUNT launchd property lists into FOLDER (three quarters XML, one quarter binary),
with the keys a well-used machine's jobs carry.

    make_plists.py FOLDER COUNT
"""
import os
import plistlib
import sys


def job(n):
    label = "org.example.service%d" % n
    entry = {
        "Label": label,
        "ProgramArguments": ["/usr/local/libexec/" + label, "--config", "/usr/local/etc/%s.conf" % label],
        "EnvironmentVariables": {"PATH": "/usr/local/bin:/usr/bin:/bin", "LANG": "en_US.UTF-8"},
        "RunAtLoad": True,
        "StandardOutPath": "/usr/local/var/log/%s.log" % label,
        "StandardErrorPath": "/usr/local/var/log/%s.err" % label,
    }
    if n % 3 == 0:
        entry["StartInterval"] = 60 * (n % 90 + 1)
    elif n % 3 == 1:
        entry["StartCalendarInterval"] = {"Hour": n % 24, "Minute": n % 60}
    else:
        entry["KeepAlive"] = {"SuccessfulExit": False}
    return entry


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    for n in range(count):
        fmt = plistlib.FMT_BINARY if n % 4 == 3 else plistlib.FMT_XML
        with open(os.path.join(folder, "org.example.service%d.plist" % n), "wb") as out:
            plistlib.dump(job(n), out, fmt=fmt)


if __name__ == "__main__":
    main()

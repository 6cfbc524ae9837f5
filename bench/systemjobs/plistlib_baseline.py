#!/usr/bin/env python3
"""What `jobs --all` does, written plainly with plistlib: read every *.plist of the folders,
keep those with a text Label, sort by label and print label and folder.

    plistlib_baseline.py FOLDER...
"""
import os
import plistlib
import sys


def main():
    jobs = []
    for folder in sys.argv[1:]:
        try:
            names = sorted(os.listdir(folder))
        except OSError:
            continue
        for name in names:
            if not name.endswith(".plist"):
                continue
            try:
                with open(os.path.join(folder, name), "rb") as handle:
                    data = plistlib.load(handle)
            except Exception:
                continue
            if isinstance(data, dict) and isinstance(data.get("Label"), str):
                jobs.append((data["Label"].casefold(), data["Label"], folder))
    jobs.sort()
    out = sys.stdout
    for _, label, folder in jobs:
        out.write("%s\t%s\n" % (label, folder))


if __name__ == "__main__":
    main()

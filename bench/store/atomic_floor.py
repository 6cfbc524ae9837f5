#!/usr/bin/env python3
"""The floor of the script upgrade: COUNT scripts and COUNT plists replaced atomically, each set
written to temporaries, the file system synced once, then renamed into place and the folder
synced: the same disk work the upgrade of COUNT tasks cannot avoid. Prints the wall time in
milliseconds.

    atomic_floor.py FOLDER COUNT
"""
import ctypes
import os
import sys
import tempfile
import time

libc = ctypes.CDLL(None, use_errno=True)


def replace_all(folder, names, payload):
    temporaries = []
    for name in names:
        fd, temporary = tempfile.mkstemp(prefix=name + ".", dir=folder)
        os.fchmod(fd, 0o700)
        os.write(fd, payload)
        os.close(fd)
        temporaries.append((temporary, os.path.join(folder, name)))
    fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    libc.syncfs(fd)
    for temporary, target in temporaries:
        os.rename(temporary, target)
    os.fsync(fd)
    os.close(fd)


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    scripts = os.path.join(folder, "scripts")
    plists = os.path.join(folder, "plists")
    for sub in (scripts, plists):
        os.makedirs(sub, exist_ok=True)
    script = b"#!/bin/zsh\n# script\n" + b"x" * 700
    plist = b"<?xml version=\"1.0\"?>\n<plist>\n" + b"y" * 900
    start = time.monotonic()
    replace_all(scripts, ["s%05d.sh" % i for i in range(count)], script)
    replace_all(plists, ["p%05d.plist" % i for i in range(count)], plist)
    print("%.1f" % ((time.monotonic() - start) * 1000))


if __name__ == "__main__":
    main()

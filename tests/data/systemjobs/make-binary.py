#!/usr/bin/env python3
"""Writes the binary property lists of this folder with Python's own plistlib, so the scanner
is checked against a writer that is not the library it reads with. Run from this folder."""
import datetime
import plistlib

# The same job as backup-xml.plist, in binary form.
with open("backup-xml.plist", "rb") as f:
    job = plistlib.load(f)
with open("backup-binary.plist", "wb") as f:
    plistlib.dump(job, f, fmt=plistlib.FMT_BINARY)

# Every value type a property list can hold.
every_type = {
    "Label": "org.example.everytype",
    "String": "text ü",
    "Integer": 42,
    "Negative": -7,
    "Real": 2.5,
    "True": True,
    "False": False,
    "Date": datetime.datetime(2025, 3, 1, 9, 0, 5),
    "Data": b"\x00\x01binary\xff",
    "Array": ["a", 1, {"Nested": True}],
    "Dict": {"Key": "value"},
    "Uid": plistlib.UID(3),
}
with open("everytype-binary.plist", "wb") as f:
    plistlib.dump(every_type, f, fmt=plistlib.FMT_BINARY)

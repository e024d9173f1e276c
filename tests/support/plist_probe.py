#!/usr/bin/env python3
"""Reads a property-list file with Python's plistlib and prints its content as
canonical JSON, so that tests can check what the code under test wrote with
a reader nobody here wrote.

    plist_probe.py FILE                 the whole root value
    plist_probe.py FILE --drop K1 K2    the root dictionary without those keys

The first output line is the file's form, "xml" or "binary". Exit status 2
when plistlib cannot read the file.
"""
import base64
import datetime
import json
import plistlib
import sys


def plain(value):
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, list):
        return [plain(v) for v in value]
    if isinstance(value, bytes):
        return {"$data": base64.b64encode(value).decode()}
    if isinstance(value, datetime.datetime):
        return {"$date": value.isoformat()}
    if isinstance(value, float):
        return {"$real": repr(value)}
    if isinstance(value, plistlib.UID):
        return {"$uid": value.data}
    return value


def main(argv):
    path = argv[1]
    with open(path, "rb") as f:
        data = f.read()
    try:
        root = plistlib.loads(data)
    except Exception as e:  # any failure to read is the answer
        print(f"unreadable: {e}", file=sys.stderr)
        return 2
    print("binary" if data.startswith(b"bplist00") else "xml")
    if len(argv) > 2 and argv[2] == "--drop":
        root = {k: v for k, v in root.items() if k not in argv[3:]}
    print(json.dumps(plain(root), sort_keys=True))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Writes the preference-file fixtures with Python's plistlib, a property-list
writer independent of the code under test.

Each scenario is a folder holding the main preference file
com.quiloe.vexod.plist and, where it matters, the devices file
com.quiloe.vexod-devices.plist, once as XML (xml/<scenario>/) and once as a
binary property list (binary/<scenario>/). Files that must not parse go to
unreadable/<name>/.

Run from anywhere: python3 tests/data/prefs/make_fixtures.py
"""
import datetime
import pathlib
import plistlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent
MAIN = "com.quiloe.vexod.plist"
DEVICES = "com.quiloe.vexod-devices.plist"

A = "00:11:22:33:44:55"
B = "0a:1b:2c:3d:4e:5f"
C = "fe:dc:ba:98:76:54"
UPPER_B = "0A:1B:2C:3D:4E:5F"

# Keys the system does not know, with every kind of property-list value.
UNKNOWN = {
    "note": "kept as it is",
    "escaped": "\u00dcn\u00efc\u00f8d\u00e9 & <xml> ]]>",
    "count": 42,
    "negative": -5,
    "huge": 2**64 - 1,
    "flag": True,
    "off": False,
    "ratio": 0.25,
    "when": datetime.datetime(2011, 3, 4, 5, 6, 7),
    "blob": b"\x00\x01\xfe\xff",
    "nested": {"list": [1, "two", {"three": 3.0}, [b"4"]], "empty": {}},
}

SCENARIOS = {
    # Two remembered devices, the second one the default.
    "a-then-b": (
        {"remembered": [A, B], "default": B},
        {A: {"device-name": "Receiver A", "device-class": 0x1F00},
         B: {"device-name": "Receiver B", "device-class": 0x240404}},
    ),
    # The default is not among the remembered devices.
    "default-not-remembered": ({"remembered": [A], "default": C}, {}),
    # The same address twice.
    "duplicate": ({"remembered": [A, A]}, {A: {"device-name": "Twice"}}),
    # Entries holding only a name, only a class; a third address has none.
    "partial-entries": (
        {"remembered": [A, B, C]},
        {A: {"device-name": "Name only"}, B: {"device-class": 0x1F00}},
    ),
    # An upper-case element; the devices file uses the lower-case key.
    "upper-case": ({"remembered": [UPPER_B], "default": UPPER_B},
                   {B: {"device-name": "Lower-case key", "device-class": 7}}),
    # Values of unexpected kinds, skipped or taken as absent.
    "odd-types": (
        {"remembered": [A, 42, "not an address", {"x": 1}, B, C], "default": 7},
        {A: {"device-name": 5, "device-class": "x"},
         B: "not a dictionary",
         C: {"device-name": "Wide class", "device-class": 2**32 + 0x1F00}},
    ),
    # Class values beyond 32 bits and below zero.
    "class-values": (
        {"remembered": [A, B]},
        {A: {"device-class": -1}, B: {"device-class": 2**40 + 5}},
    ),
    # Keys nobody here knows, to be carried over by every write.
    "unknown-keys": (dict(UNKNOWN, remembered=[A, UPPER_B, 9], default=A), {}),
    # A main file without a "remembered" list.
    "no-remembered": (dict(UNKNOWN, default=B), {}),
    # "remembered" holding something other than an array.
    "remembered-not-array": ({"remembered": A, "default": A}, {}),
    # The same device twice, and once more in upper case (also the default).
    "copies-of-b": ({"remembered": [B, UPPER_B, A, B], "default": UPPER_B, "other": "x"}, {}),
}


def write(path, value, fmt):
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        plistlib.dump(value, f, fmt=fmt, sort_keys=False)


def main():
    for sub in ("xml", "binary", "unreadable"):
        shutil.rmtree(HERE / sub, ignore_errors=True)
    for form, fmt in (("xml", plistlib.FMT_XML), ("binary", plistlib.FMT_BINARY)):
        for name, (main_prefs, devices) in SCENARIOS.items():
            folder = HERE / form / name
            write(folder / MAIN, main_prefs, fmt)
            if devices:
                write(folder / DEVICES, devices, fmt)

    bad = HERE / "unreadable"
    good_binary = plistlib.dumps({"remembered": [A, B], "default": B, "note": "x"},
                                 fmt=plistlib.FMT_BINARY)
    good_xml = plistlib.dumps({"remembered": [A, B], "default": B, "note": "x"})
    samples = {
        "garbage": b"this is not a property list\n\x00\x01\x02",
        "truncated-binary": good_binary[: len(good_binary) // 2],
        "truncated-xml": good_xml[: len(good_xml) - 30],
        "array-root": plistlib.dumps([A, B]),
        "empty": b"",
    }
    # Keys holding a NUL character (only the binary form can carry one): in
    # UTF-16 (libplist stops the process on it) and in ASCII (libplist cuts
    # the key short).
    samples["nul-key-binary"] = plistlib.dumps(
        {"remembered": [A], "\u00e9\x00b": 1, "a\x00b": 2}, fmt=plistlib.FMT_BINARY)
    # A date some 300,000 years out, beyond what the XML form can write.
    dated = plistlib.dumps({"remembered": [A], "when": datetime.datetime(2001, 1, 1)},
                           fmt=plistlib.FMT_BINARY)
    zero_date = b"\x33" + struct.pack(">d", 0.0)
    assert dated.count(zero_date) == 1
    samples["far-date-binary"] = dated.replace(zero_date, b"\x33" + struct.pack(">d", 1e13))
    for name, data in samples.items():
        (bad / name).mkdir(parents=True, exist_ok=True)
        (bad / name / MAIN).write_bytes(data)
        # A readable devices file beside it, so only the main file is at fault.
        write(bad / name / DEVICES, {A: {"device-name": "Receiver A"}}, plistlib.FMT_XML)


if __name__ == "__main__":
    main()

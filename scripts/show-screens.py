#!/usr/bin/env python3
"""Shows the dumps of a vexod-gps script as a reader wants to see them.

Reads the JSON lines that `vexod-gps --headless --script FILE` prints for
each `dump` command (other lines pass through unchanged) and prints, for
each one, the screen on top: its title and back button, the alert on
screen, the sections of its table with their headers, rows and footers,
and the map.
"""
import json
import sys


def walk(view):
    yield view
    for child in view.get("subviews", []):
        yield from walk(child)


def shown(view):
    return not view.get("hidden", False)


def labels(view):
    """The texts of the labels inside a view, in drawing order."""
    out = []
    for v in walk(view):
        if v["class"] == "UILabel" and shown(v) and v.get("text"):
            out.append(v["text"])
    return out


def cell_line(cell):
    parts = []
    for v in walk(cell):
        cls = v["class"]
        if cls == "UIImageView" and v.get("image") == "checked.png":
            parts.append("[connected]")
        elif cls == "UIActivityIndicatorView" and v.get("animating"):
            parts.append("[spinning]")
    parts.extend(labels(cell))
    for v in walk(cell):
        cls = v["class"]
        if cls == "UISwitch":
            parts.append("[switch on]" if v.get("on") else "[switch off]")
        elif cls == "UIButton" and shown(v):
            image = (v.get("images") or {}).get("normal")
            if image == "bookmark-ribbon-small.png":
                parts.append("[bookmarked]")
            elif image == "bookmark-PDF.png":
                parts.append("[bookmark]")
        elif cls == "MKMapView":
            lat, lon = v["center"]
            pins = [a.get("subtitle") for a in v.get("annotations", [])]
            parts.append("map at %.6f, %.6f" % (lat, lon) + (", pin " + ", ".join(pins) if pins else ", no pin"))
    if cell.get("accessory") == 2:
        parts.append("(>)")
    if cell.get("selected"):
        parts.append("(selected)")
    return " | ".join(parts)


def show(dump, out):
    screens = [s.get("title") or "?" for s in dump.get("screens", [])]
    out.write("---- " + " > ".join(screens) + "\n")
    window = dump.get("window") or {}
    for alert in dump.get("alerts", [])[:1]:
        texts = [t for t in (alert.get("title"), alert.get("message")) if t]
        out.write("  alert: %s  [%s]\n" % (" / ".join(texts) or "(no text)", "] [".join(alert.get("buttons", []))))
    tables = [v for v in walk(window) if v["class"] == "UITableView"]
    for table in tables:
        cells = {}
        for v in table.get("subviews", []):
            path = v.get("indexPath")
            if path is not None:
                cells[tuple(path)] = v
        for number, section in enumerate(table.get("sections", [])):
            if section.get("header"):
                out.write("  " + section["header"] + "\n")
            for row in range(section.get("rows", 0)):
                cell = cells.get((number, row))
                out.write("    " + (cell_line(cell) if cell else "(off screen)") + "\n")
            if section.get("footer"):
                out.write("  " + section["footer"] + "\n")
    for banner in (v for v in walk(window) if v["class"] == "GADBannerView"):
        located = [r["location"] for r in banner.get("requests", []) if r.get("location")]
        note = ", told %.6f, %.6f" % tuple(located[0][:2]) if located else ""
        out.write("  banner: %s%s\n" % (banner.get("text") or "(loading)", note))


def main():
    for line in sys.stdin:
        text = line.rstrip("\n")
        try:
            dump = json.loads(text)
        except ValueError:
            dump = None
        if isinstance(dump, dict) and "screens" in dump:
            show(dump, sys.stdout)
        else:
            sys.stdout.write(line)
        sys.stdout.flush()


if __name__ == "__main__":
    main()

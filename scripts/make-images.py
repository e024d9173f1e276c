#!/usr/bin/env python3
"""Draws the application's images into resources/ (pure Python and zlib):

  bookmark-PDF.png           26x34  a ribbon outline (a device that is not bookmarked)
  bookmark-ribbon-small.png  26x34  a filled ribbon (the bookmarked device)
  checked.png                22x22  a check mark (the connected device)

Each pixel is the coverage of 8x8 samples, so edges are smooth. The output
is the same on every run; run it again after changing a drawing:

  python3 scripts/make-images.py [OUTPUT_FOLDER]
"""
import math
import os
import struct
import sys
import zlib

SAMPLES = 8

RIBBON = [(5, 1), (21, 1), (21, 32), (13, 25), (5, 32)]
CHECK = [(4, 11.5), (9, 16.5), (18, 5)]

RIBBON_RED = (178, 34, 34)
OUTLINE_GRAY = (96, 96, 96)
CHECK_GREEN = (40, 150, 60)


def inside(poly, x, y):
    """Even-odd rule."""
    result = False
    n = len(poly)
    for i in range(n):
        (x0, y0), (x1, y1) = poly[i], poly[(i + 1) % n]
        if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
            result = not result
    return result


def distance_to_segment(x, y, a, b):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (ax + t * dx), y - (ay + t * dy))


def near_path(points, closed, width, x, y):
    segments = list(zip(points, points[1:]))
    if closed:
        segments.append((points[-1], points[0]))
    return any(distance_to_segment(x, y, a, b) <= width / 2 for a, b in segments)


def render(width, height, layers):
    """layers: (colour, test(x, y) -> bool), later ones drawn over earlier."""
    pixels = []
    for py in range(height):
        row = []
        for px in range(width):
            rgba = [0.0, 0.0, 0.0, 0.0]
            for colour, test in layers:
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if test(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES):
                            hits += 1
                a = hits / (SAMPLES * SAMPLES)
                if a == 0:
                    continue
                out_a = a + rgba[3] * (1 - a)
                for c in range(3):
                    rgba[c] = (colour[c] * a + rgba[c] * rgba[3] * (1 - a)) / out_a
                rgba[3] = out_a
            row.append(tuple(int(round(v)) for v in rgba[:3]) + (int(round(rgba[3] * 255)),))
        pixels.append(row)
    return pixels


def png(pixels):
    height, width = len(pixels), len(pixels[0])
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    images = {
        "bookmark-PDF.png": render(26, 34, [
            (OUTLINE_GRAY, lambda x, y: near_path(RIBBON, True, 2.0, x, y)),
        ]),
        "bookmark-ribbon-small.png": render(26, 34, [
            (RIBBON_RED, lambda x, y: inside(RIBBON, x, y)),
            ((120, 20, 20), lambda x, y: near_path(RIBBON, True, 1.2, x, y)),
        ]),
        "checked.png": render(22, 22, [
            (CHECK_GREEN, lambda x, y: near_path(CHECK, False, 3.2, x, y)),
        ]),
    }
    for name, pixels in images.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(png(pixels))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the devices' tool icon: a grey circular emblem cut into six sectors
by three lines through its centre, on a transparent background.

Writes a 40x40, 8-bit RGBA, non-interlaced PNG with nothing but the standard
library, and puts the same file into every type key's images/ directory.
Usage: draw_icon.py [output.png ...]
"""

import math
import os
import struct
import sys
import zlib

SIZE = 40
SUBSAMPLES = 4  # per axis, for smooth edges
CENTRE = SIZE / 2.0
OUTER_RADIUS = 18.5
RIM_WIDTH = 2.5
HUB_RADIUS = 3.5
LINE_HALF_WIDTH = 0.9
LINE_ANGLES = (90.0, 30.0, 150.0)  # degrees; each line runs through the centre

RIM = (88, 88, 88)
FACE = (150, 150, 150)
LINE = (232, 232, 232)
HUB = (88, 88, 88)

TYPE_KEYS = ("com", "canBus", "tcpServer", "tcpClient", "udpClient")


def colour_at(x, y):
    """The colour of one sample point, or None outside the emblem."""
    dx = x - CENTRE
    dy = y - CENTRE
    r = math.hypot(dx, dy)
    if r > OUTER_RADIUS:
        return None
    if r > OUTER_RADIUS - RIM_WIDTH or r <= HUB_RADIUS:
        return RIM if r > HUB_RADIUS else HUB
    for angle in LINE_ANGLES:
        a = math.radians(angle)
        # Distance from the line through the centre with direction a.
        if abs(dx * math.sin(a) - dy * math.cos(a)) <= LINE_HALF_WIDTH:
            return LINE
    return FACE


def pixel(px, py):
    """Averages the samples of one pixel into straight (unpremultiplied) RGBA."""
    total = SUBSAMPLES * SUBSAMPLES
    covered = 0
    sums = [0, 0, 0]
    for sy in range(SUBSAMPLES):
        for sx in range(SUBSAMPLES):
            c = colour_at(px + (sx + 0.5) / SUBSAMPLES, py + (sy + 0.5) / SUBSAMPLES)
            if c is None:
                continue
            covered += 1
            for i in range(3):
                sums[i] += c[i]
    if covered == 0:
        return (0, 0, 0, 0)
    return tuple(round(s / covered) for s in sums) + (round(255 * covered / total),)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_bytes():
    rows = bytearray()
    for py in range(SIZE):
        rows.append(0)  # filter type None
        for px in range(SIZE):
            rows.extend(pixel(px, py))
    # width, height, bit depth 8, colour type 6 (RGBA), deflate, filter 0, no interlace
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def main(argv):
    resources = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    targets = argv[1:] or [os.path.join(resources, key, "images", "toolIcon.png") for key in TYPE_KEYS]
    data = png_bytes()
    for path in targets:
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print("%s: %d bytes" % (path, len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

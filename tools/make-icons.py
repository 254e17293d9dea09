#!/usr/bin/env python3
"""Draws the Wendrix icon, a steering wheel, as 32-bit RGBA PNGs.

    tools/make-icons.py [OUTDIR]     (default: packaging/icons)

Writes wendrix-16.png, -32, -48 and -64. Only the standard library is used:
each pixel is the average of 8 x 8 samples of the shapes below.
"""
import math
import os
import struct
import sys
import zlib

RIM = (38, 42, 50)
SPOKE = (70, 76, 88)
ACCENT = (0, 150, 150)  # the teal of the " connected" status line

def shade(x, y, size):
    """Colour and coverage of the point (x, y) in [-1, 1]^2, y downwards."""
    r = math.hypot(x, y)
    # Thicker strokes at small sizes so that the wheel still reads at 16 px.
    rim_w = 0.24 if size <= 16 else 0.19
    outer = 0.96
    if outer - rim_w <= r <= outer:
        # The top marker of a racing wheel.
        if abs(x) < 0.11 and y < 0:
            return ACCENT
        return RIM
    spoke_w = 0.15 if size <= 16 else 0.11
    if r < outer - rim_w + 0.02:
        if abs(y) < spoke_w and abs(x) > 0.0:  # left and right spokes
            if r >= 0.30:
                return SPOKE
        if abs(x) < spoke_w and y > 0 and r >= 0.30:  # bottom spoke
            return SPOKE
        if r < 0.32:
            return ACCENT if r < 0.16 else SPOKE
    return None

def render(size, samples=8):
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = ((px + (sx + 0.5) / samples) / size) * 2 - 1
                    y = ((py + (sy + 0.5) / samples) / size) * 2 - 1
                    c = shade(x, y, size)
                    if c:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                row += bytes(round(a / hits) for a in acc)
                row.append(round(255 * hits / (samples * samples)))
            else:
                row += b"\0\0\0\0"
        rows.append(bytes(row))
    return b"".join(rows)

def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

def png(size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(render(size), 9)) + chunk(b"IEND", b""))

def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "packaging", "icons")
    os.makedirs(out, exist_ok=True)
    for size in (16, 32, 48, 64):
        with open(os.path.join(out, "wendrix-%d.png" % size), "wb") as f:
            f.write(png(size))

if __name__ == "__main__":
    main()

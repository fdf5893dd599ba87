#!/usr/bin/env python3
"""Draws the server's six icons as 32-bit PNG files (RGBA) next to this script.

Only the standard library is used. Every pixel is sampled 4 x 4 times so edges are smooth.
Run it again after changing a picture; the PNG files are committed.
"""
import math
import os
import struct
import zlib

SUB = 4


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in < (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2

    return inside


def gear(cx, cy, r_tooth, r_body, teeth, hole):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if d <= hole:
            return False
        a = (math.atan2(y - cy, x - cx) / (2 * math.pi) * teeth) % 1.0
        return d <= (r_tooth if 0.25 <= a <= 0.75 else r_body)

    return inside


def render(size, layers):
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    r = g = b = a = 0.0
                    for shape, (cr, cg, cb, ca) in layers:
                        if shape(x, y) and ca == 0:  # a fully clear colour punches a hole
                            r = g = b = a = 0.0
                        elif shape(x, y):
                            al = ca / 255.0
                            r = cr * al + r * (1 - al)
                            g = cg * al + g * (1 - al)
                            b = cb * al + b * (1 - al)
                            a = al + a * (1 - al)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = SUB * SUB
            a = acc[3] / n
            if a > 0:
                row += bytes(round(min(255, acc[i] / n / a)) for i in range(3))
            else:
                row += b"\0\0\0"
            row.append(round(a * 255))
        rows.append(bytes(row))
    return rows


def write_png(path, size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


DARK = (60, 60, 70, 255)
PAPER = (255, 255, 255, 255)
STEEL = (120, 130, 145, 255)

ICONS = {
    # settings: a grey gear with a light hub
    "config.png": (28, [
        (gear(14, 14, 13, 9.5, 8, 0), (85, 95, 110, 255)),
        (circle(14, 14, 7), (170, 180, 195, 255)),
        (circle(14, 14, 3.5), (0, 0, 0, 0)),
    ]),
    # scanner: a magnifying glass
    "scanner.png": (32, [
        (segment(20, 20, 29, 29, 5), (110, 70, 30, 255)),
        (circle(13, 13, 10.5), (30, 70, 150, 255)),
        (circle(13, 13, 7.5), (170, 215, 255, 200)),
        (segment(9, 9, 11, 7, 2), (255, 255, 255, 220)),
    ]),
    # cut: scissors with red handles
    "cut.png": (16, [
        (segment(4.5, 11.5, 11, 1, 1.6), STEEL),
        (segment(11.5, 11.5, 5, 1, 1.6), STEEL),
        (ring(4.5, 12.5, 2.9, 1.5), (200, 30, 30, 255)),
        (ring(11.5, 12.5, 2.9, 1.5), (200, 30, 30, 255)),
    ]),
    # copy: two pages
    "copy.png": (16, [
        (rect(1, 1, 10, 12), DARK),
        (rect(2, 2, 9, 11), PAPER),
        (rect(6, 4, 15, 15), DARK),
        (rect(7, 5, 14, 14), PAPER),
        (rect(8, 7, 13, 8), (130, 130, 140, 255)),
        (rect(8, 9, 13, 10), (130, 130, 140, 255)),
        (rect(8, 11, 12, 12), (130, 130, 140, 255)),
    ]),
    # paste: a clipboard with a page
    "paste.png": (16, [
        (rect(2, 2, 14, 16), (120, 75, 35, 255)),
        (rect(4, 4, 12, 14), PAPER),
        (rect(5, 6, 11, 7), (130, 130, 140, 255)),
        (rect(5, 8, 11, 9), (130, 130, 140, 255)),
        (rect(5, 10, 9, 11), (130, 130, 140, 255)),
        (rect(5, 0, 11, 4), STEEL),
        (rect(6, 1, 10, 3), (200, 205, 215, 255)),
    ]),
    # remove: a red cross
    "remove.png": (16, [
        (segment(3.5, 3.5, 12.5, 12.5, 3), (200, 30, 30, 255)),
        (segment(12.5, 3.5, 3.5, 12.5, 3), (200, 30, 30, 255)),
    ]),
}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, (size, layers) in ICONS.items():
        write_png(os.path.join(here, name), size, render(size, layers))

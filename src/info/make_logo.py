#!/usr/bin/env python3
"""Draws the about window's logo: logo.bmp, 142 x 78, 24-bit, uncompressed.

A navy card with rounded corners on the window's yellow, the I/O symbol (a
ring broken at the top with a bar through the gap) and the name "merkat32".
Python standard library only; run it from this folder to redraw the picture.
"""
import math
import struct

W, H = 142, 78
SS = 4  # subsamples per pixel edge, for smooth edges

YELLOW = (255, 255, 0)
NAVY = (22, 38, 84)
WHITE = (255, 255, 255)
GOLD = (255, 206, 0)

# 5 x 7 glyphs, '#' is ink.
GLYPHS = {
    "m": [".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", ".###."],
    "r": [".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."],
    "k": ["#....", "#....", "#..#.", "#.#..", "##...", "#.#..", "#..#."],
    "a": [".....", ".....", ".###.", "....#", ".####", "#...#", ".####"],
    "t": [".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##."],
    "3": ["####.", "....#", "....#", ".###.", "....#", "....#", "####."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
}


def text_rects(text, x0, y0, scale, gap):
    """Ink rectangles (x, y, w, h) of a string in the pixel font."""
    rects = []
    x = x0
    for ch in text:
        for row, line in enumerate(GLYPHS[ch]):
            for col, cell in enumerate(line):
                if cell == "#":
                    rects.append((x + col * scale, y0 + row * scale, scale, scale))
        x += 5 * scale + gap
    return rects


def in_rects(rects, x, y):
    return any(rx <= x < rx + rw and ry <= y < ry + rh for rx, ry, rw, rh in rects)


def in_card(x, y, r=9.0):
    """Rounded rectangle covering the whole picture."""
    cx = min(max(x, r), W - r)
    cy = min(max(y, r), H - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


RING_C = (35.0, 41.0)


def in_ring(x, y):
    dx, dy = x - RING_C[0], y - RING_C[1]
    d = math.hypot(dx, dy)
    if not 17.0 <= d <= 23.0:
        return False
    angle = math.degrees(math.atan2(dx, -dy))  # 0 at the top
    return abs(angle) > 32.0


def in_bar(x, y):
    return abs(x - RING_C[0]) <= 3.0 and 12.0 <= y <= 42.0


NAME = text_rects("merkat", 68, 16, 2, 2)
NUMBER = text_rects("32", 86, 40, 3, 3)
RULE = [(68, 34, 70, 2)]


def colour_at(x, y):
    if not in_card(x, y):
        return YELLOW
    if in_ring(x, y) or in_bar(x, y) or in_rects(NUMBER, x, y):
        return GOLD
    if in_rects(NAME, x, y) or in_rects(RULE, x, y):
        return WHITE
    return NAVY


def render():
    pixels = []
    for py in range(H):
        row = []
        for px in range(W):
            acc = [0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = colour_at(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    for i in range(3):
                        acc[i] += c[i]
            row.append(tuple(round(v / (SS * SS)) for v in acc))
        pixels.append(row)
    return pixels


def write_bmp(path, pixels):
    stride = (W * 3 + 3) & ~3
    image = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        image += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(image), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + image)


if __name__ == "__main__":
    write_bmp("logo.bmp", render())

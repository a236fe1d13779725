#!/usr/bin/env python3
"""Draws the info window's picture: a circuit board in orange light, 157 x 552 pixels, or
that many times larger with a scale as the argument (2 for screens at 200 %).

Writes a PPM to stdout; resources/make_pictures.sh turns it into a JPEG. The drawing is
seeded, so the picture comes out the same every time, at every scale.
"""
import math
import random
import sys

S = int(sys.argv[1]) if len(sys.argv) > 1 else 1
W, H = 157 * S, 552 * S
rng = random.Random(1999)
px = [[(0, 0, 0)] * W for _ in range(H)]


def put(x, y, c):
    if 0 <= x < W and 0 <= y < H:
        px[y][x] = c


def rect(x0, y0, x1, y1, c):
    for y in range(max(0, y0), min(H, y1)):
        for x in range(max(0, x0), min(W, x1)):
            px[y][x] = c


def disc(cx, cy, r, c):
    for y in range(cy - r, cy + r + 1):
        for x in range(cx - r, cx + r + 1):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                put(x, y, c)


# The board: dark green with a faint weave.
for y in range(H):
    for x in range(W):
        v = 0.5 + 0.5 * math.sin(x * 0.9 / S) * math.sin(y * 0.7 / S)
        px[y][x] = (20 + int(8 * v), 60 + int(14 * v), 30 + int(8 * v))

# Traces: runs along a grid with 45-degree bends, ending in solder pads.
copper = (190, 160, 60)
for _ in range(70):
    x, y = rng.randrange(0, W // S, 6) * S, rng.randrange(0, H // S, 6) * S
    for _ in range(rng.randint(2, 5)):
        dx, dy = rng.choice([(1, 0), (0, 1), (1, 1), (-1, 1), (0, -1), (-1, 0)])
        for _ in range(rng.randint(6, 40) * S):
            rect(x, y, x + 2 * S, y + 2 * S, copper)
            x, y = x + dx, y + dy
    disc(x, y, 3 * S, (210, 200, 170))
    disc(x, y, S, (30, 30, 30))

# Chips with their legs.
for _ in range(9):
    w, h = rng.randint(24, 60), rng.randint(30, 80)
    x, y = rng.randint(0, W // S - w) * S, rng.randint(0, H // S - h) * S
    w, h = w * S, h * S
    for ly in range(y + 4 * S, y + h - 4 * S, 6 * S):
        rect(x - 4 * S, ly, x, ly + 3 * S, (200, 200, 200))
        rect(x + w, ly, x + w + 4 * S, ly + 3 * S, (200, 200, 200))
    rect(x, y, x + w, y + h, (25, 25, 28))
    rect(x + 3 * S, y + 3 * S, x + 7 * S, y + 7 * S, (60, 60, 60))

# Orange light over everything.
out = sys.stdout.buffer
out.write(b"P6 %d %d 255\n" % (W, H))
for row in px:
    for r, g, b in row:
        lum = 0.3 * r + 0.59 * g + 0.11 * b
        out.write(bytes((min(255, int(lum * 1.9 + 40)), min(255, int(lum * 1.05 + 10)),
                         min(255, int(lum * 0.25)))))

#!/usr/bin/env python3
"""Draws Kestrix's two mouse pointers as 32 x 32, 16-colour PNG files.

hand.png      a white hand in black outline, index finger pointing up
initials.png  a yellow lightning bolt in black outline (the initials panel opens
              the About window, which comes with thunder)

Run from anywhere: python3 resources/make-cursors.py
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # leave no __pycache__ among the resources

from pngwrite import write_png  # noqa: E402

SIZE = 32

# The sixteen colours of the classic VGA palette. Magenta stands for "transparent".
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREY, SILVER, YELLOW, CLEAR, WHITE = 0, 8, 7, 11, 13, 15


def outlined(inside, fill):
    """Fills a shape and draws its edge in black: a pixel of the shape with a
    neighbour outside it is edge."""
    pixels = [[CLEAR] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        for x in range(SIZE):
            if not inside(x, y):
                continue
            edge = any(not inside(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            pixels[y][x] = BLACK if edge else fill
    return pixels


def rounded_column(x0, x1, top, bottom):
    """A finger: a column with a round tip."""
    radius = (x1 - x0) / 2
    centre_x, centre_y = x0 + radius - 0.5, top + radius

    def inside(x, y):
        if not (x0 <= x < x1 and top <= y < bottom):
            return False
        if y < centre_y:
            return (x - centre_x) ** 2 + (y - centre_y) ** 2 <= radius ** 2 + 0.5
        return True

    return inside


def hand():
    index = rounded_column(8, 14, 0, 20)
    middle = rounded_column(13, 18, 9, 20)
    ring = rounded_column(17, 22, 10, 20)
    little = rounded_column(21, 25, 12, 21)

    def thumb(x, y):
        # An ellipse leaning out to the left of the palm.
        u, v = x - 6.0, y - 18.5
        return (u * 0.8 + v * 0.6) ** 2 / 20.0 + (-u * 0.6 + v * 0.8) ** 2 / 5.5 <= 1.0

    def palm(x, y):
        if not (8 <= x < 25 and 16 <= y < 27):
            return False
        if y >= 24 and x < 9 + (y - 24):
            return False  # round off the heel of the hand
        return True

    def cuff(x, y):
        return 10 <= x < 24 and 26 <= y < 32

    def shape(x, y):
        if not (0 <= x < SIZE and 0 <= y < SIZE):
            return False
        return any(part(x, y) for part in (index, middle, ring, little, thumb, palm))

    pixels = outlined(shape, WHITE)
    # The gaps between the fingers, down to the knuckles.
    for x, top, bottom in ((13, 10, 17), (17, 11, 17), (21, 13, 18)):
        for y in range(top, bottom):
            pixels[y][x] = BLACK
    # A grey cuff below the palm.
    cuff_pixels = outlined(lambda x, y: 0 <= x < SIZE and 0 <= y < SIZE and cuff(x, y), SILVER)
    for y in range(26, SIZE):
        for x in range(SIZE):
            if cuff_pixels[y][x] != CLEAR:
                pixels[y][x] = cuff_pixels[y][x]
    return pixels


def bolt():
    points = [(19, 0), (6, 17), (14, 17), (9, 31), (26, 12), (17, 12), (24, 0)]

    def inside(x, y):
        if not (0 <= x < SIZE and 0 <= y < SIZE):
            return False
        px, py = x + 0.5, y + 0.5
        crossings = 0
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > py) != (by > py):
                if px < ax + (py - ay) * (bx - ax) / (by - ay):
                    crossings += 1
        return crossings % 2 == 1

    return outlined(inside, YELLOW)


def save(name, pixels):
    write_png(os.path.join(HERE, "cursors", name), SIZE, SIZE, PALETTE, pixels, transparent=CLEAR)


if __name__ == "__main__":
    save("hand.png", hand())
    save("initials.png", bolt())

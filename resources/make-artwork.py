#!/usr/bin/env python3
"""Draws Kestrix's icon and the picture of its About window.

icon/kestrix-32.png  a manila folder with a white lightning bolt across it,
icon/kestrix-16.png  the same drawn again pixel by pixel for small panels
                     (16 VGA colours, black outline, see-through background)
icon/kestrix.svg     the same folder and bolt as shapes, for any size, and
icon/kestrix-N.png   drawn from those shapes at 48, 64, 128 and 256 pixels,
                     smoothed, for docks and software centres
splash.png           400 x 300, 256 colours: a storm at night, a forked bolt,
                     hills, a lone tree with a kestrel on it

The About window writes the name, the version and the credit over the picture,
so those places are kept dark and plain (see TEXT_AREAS).

Run from anywhere: python3 resources/make-artwork.py
The same run always gives the same bytes (fixed seeds, no clock).
"""
import math
import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # leave no __pycache__ among the resources

from pngwrite import write_png, write_rgba_png  # noqa: E402

# ---------------------------------------------------------------- the icon

VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, OLIVE, YELLOW, CLEAR, WHITE = 0, 3, 11, 13, 15

# At 16 pixels a scaled-down drawing turns to mush, so the small icon is
# drawn by hand: the folder first, then the bolt laid over it.
FOLDER_16 = [
    "................",
    "................",
    ".KKKKKK.........",
    "KOOOOOOKKKKKKKK.",
    "KOOOOOOOOOOOOOOK",
    "KKKKKKKKKKKKKKKK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    "KYYYYYYYYYYYYYYK",
    ".KKKKKKKKKKKKKK.",
    "................",
]
BOLT_16 = [
    "..........KKKK..",
    ".........KWWK...",
    "........KWWK....",
    ".......KWWK.....",
    "......KWWKKK....",
    ".....KWWWWWK....",
    ".....KKKKWWK....",
    ".......KWWK.....",
    "......KWWK......",
    ".....KWWK.......",
    "....KWWK........",
    "....KWK.........",
    "...KWK..........",
    "...KK...........",
    "................",
    "................",
]
PIXEL_KEYS = {".": CLEAR, "K": BLACK, "O": OLIVE, "Y": YELLOW, "W": WHITE}


def icon_16():
    rows = []
    for folder, bolt in zip(FOLDER_16, BOLT_16):
        line = "".join(b if b != "." else f for f, b in zip(folder, bolt))
        rows.append([PIXEL_KEYS[c] for c in line])
    return rows


# The 32-pixel bolt as a polygon: top cap, down-left to the bar, right along
# it, the long stroke down to the tip, back up, left along the bar's underside.
BOLT_32 = [(21, 0), (28, 0), (20, 11), (26, 11), (10, 30), (14, 16), (8, 16)]


def inside_polygon(points, x, y):
    px, py = x + 0.5, y + 0.5
    crossings = 0
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > py) != (by > py) and px < ax + (py - ay) * (bx - ax) / (by - ay):
            crossings += 1
    return crossings % 2 == 1


def layer_32(x, y):
    """0 outside, 1 the folder's back and tab, 2 its front, 3 the bolt."""
    if not (0 <= x < 32 and 0 <= y < 32):
        return 0
    if inside_polygon(BOLT_32, x, y):
        return 3
    if 2 <= x < 30 and 11 <= y < 28:
        return 0 if (x, y) in ((2, 27), (29, 27)) else 2
    if 2 <= x < 30 and 7 <= y < 28:
        return 0 if (x, y) == (29, 7) else 1
    if 2 <= x < 14 and 4 <= y < 8:
        return 0 if (x, y) in ((2, 4), (13, 4)) else 1
    return 0


def icon_32():
    fills = {1: OLIVE, 2: YELLOW, 3: WHITE}
    rows = [[CLEAR] * 32 for _ in range(32)]
    for y in range(32):
        for x in range(32):
            layer = layer_32(x, y)
            if not layer:
                continue
            # Each layer outlines itself where it meets anything beneath it,
            # so every edge is one pixel wide.
            edge = any(layer_32(x + dx, y + dy) < layer
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            rows[y][x] = BLACK if edge else fills[layer]
    shaded = [row[:] for row in rows]
    for y in range(32):
        for x in range(32):
            layer = layer_32(x, y)
            if rows[y][x] == BLACK or not layer:
                continue
            # A yellow rim down the bolt's right side, a shadow along the
            # folder's foot: enough to look solid, not enough to look busy.
            if layer == 3 and rows[y][x + 1] == BLACK and layer_32(x + 1, y) == 3:
                shaded[y][x] = YELLOW
            if layer == 2 and rows[y + 1][x] == BLACK and layer_32(x, y + 1) == 0:
                shaded[y][x] = OLIVE
    return shaded


# The large icons: the 32-pixel drawing as shapes on the same 32-unit grid,
# each filled and outlined in black; the SVG and the PNGs drawn from it agree.
SHAPES = [
    ([(2.5, 27.5), (2.5, 4.5), (13.5, 4.5), (13.5, 7.5), (29.5, 7.5), (29.5, 27.5)], OLIVE),
    ([(2.5, 11.5), (29.5, 11.5), (29.5, 27.5), (2.5, 27.5)], YELLOW),
    ([(21.0, 0.6), (27.6, 0.6), (19.8, 11.0), (25.8, 11.0), (10.2, 29.6), (13.8, 16.0),
      (8.4, 16.0)], WHITE),
]
OUTLINE = 0.75
LARGE_SIZES = (48, 64, 128, 256)


def icon_svg():
    paths = []
    for points, fill in SHAPES:
        d = "M" + " L".join("%g %g" % p for p in points) + " Z"
        paths.append('  <path d="%s" fill="#%02x%02x%02x"/>' % ((d,) + VGA[fill]))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
            'viewBox="0 0 32 32">\n'
            ' <g stroke="#000000" stroke-width="%g" stroke-linejoin="miter" '
            'stroke-miterlimit="10">\n%s\n </g>\n</svg>\n' % (OUTLINE, "\n".join(paths)))


def signed_distance(points, x, y):
    """Distance from (x, y) to the polygon's edge, negative inside."""
    best = float("inf")
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        dx, dy = bx - ax, by - ay
        t = clamp(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy))
        best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
    return -best if inside_polygon(points, x - 0.5, y - 0.5) else best


def icon_large(size):
    """The shapes at size pixels, with edges smoothed over one pixel."""
    scale = size / 32.0
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) / scale, (py + 0.5) / scale
            r = g = b = a = 0.0
            for points, fill in SHAPES:
                d = signed_distance(points, x, y) * scale
                for colour, edge in ((VGA[BLACK], OUTLINE / 2), (VGA[fill], -OUTLINE / 2)):
                    cover = clamp(0.5 - d + edge * scale)
                    if cover <= 0:
                        continue
                    # "Over", on colours weighted by their cover.
                    r = colour[0] * cover + r * (1 - cover)
                    g = colour[1] * cover + g * (1 - cover)
                    b = colour[2] * cover + b * (1 - cover)
                    a = cover + a * (1 - cover)
            if a > 0:
                row.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


# ---------------------------------------------------------------- the splash

W, H = 400, 300
# One seed per element, so that reshaping one leaves the others as they are.
SKY_SEED, BOLT_SEED, LAND_SEED = 20202, 11, 77

# Where the About window draws over the picture: x, y, width, height.
TEXT_AREAS = [
    (18, 10, 129, 48),   # "Kestrix"
    (39, 60, 32, 32),    # the icon
    (79, 70, 33, 16),    # the version
    (300, 263, 91, 29),  # the credit
]


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def smoothstep(a, b, v):
    t = clamp((v - a) / (b - a))
    return t * t * (3 - 2 * t)


def mix(c1, c2, t):
    return (c1[0] + (c2[0] - c1[0]) * t,
            c1[1] + (c2[1] - c1[1]) * t,
            c1[2] + (c2[2] - c1[2]) * t)


class ValueNoise:
    """Smooth 2-D noise from random values on a wrapped lattice."""

    def __init__(self, rng, size=256):
        self.size = size
        self.values = [rng.random() for _ in range(size * size)]

    def at(self, x, y):
        n = self.size
        xi, yi = math.floor(x), math.floor(y)
        fx, fy = x - xi, y - yi
        sx = fx * fx * (3 - 2 * fx)
        sy = fy * fy * (3 - 2 * fy)
        x0, x1 = xi % n, (xi + 1) % n
        r0, r1 = (yi % n) * n, ((yi + 1) % n) * n
        v = self.values
        top = v[r0 + x0] + (v[r0 + x1] - v[r0 + x0]) * sx
        bottom = v[r1 + x0] + (v[r1 + x1] - v[r1 + x0]) * sx
        return top + (bottom - top) * sy

    def fractal(self, x, y, octaves):
        total, amplitude, norm = 0.0, 0.5, 0.0
        for i in range(octaves):
            # Shift each octave so their lattices don't line up.
            total += amplitude * self.at(x + i * 37.1, y + i * 19.7)
            norm += amplitude
            amplitude *= 0.5
            x *= 2.03
            y *= 2.03
        return total / norm


def noise_1d(rng, length, step):
    """A smooth random line: random knots every step pixels, eased between."""
    knots = [rng.random() for _ in range(length // step + 3)]
    out = []
    for x in range(length):
        i, f = divmod(x / step, 1.0)
        i = int(i)
        s = f * f * (3 - 2 * f)
        out.append(knots[i] + (knots[i + 1] - knots[i]) * s)
    return out


def calm_mask():
    """1 on and around the text, falling to 0 over a soft border, so the
    clouds thin out there like a natural gap rather than a cut-out box."""
    mask = [[0.0] * W for _ in range(H)]
    feather = 22.0
    for ax, ay, aw, ah in TEXT_AREAS:
        pad = 6
        x0, y0, x1, y1 = ax - pad, ay - pad, ax + aw + pad, ay + ah + pad
        for y in range(max(0, int(y0 - feather)), min(H, int(y1 + feather) + 1)):
            dy = max(y0 - y, 0, y - y1)
            for x in range(max(0, int(x0 - feather)), min(W, int(x1 + feather) + 1)):
                dx = max(x0 - x, 0, x - x1)
                m = 1.0 - smoothstep(0.0, feather, math.hypot(dx, dy))
                if m > mask[y][x]:
                    mask[y][x] = m
    return mask


def running_mean(values, radius):
    """Mean over a window of 2 * radius + 1, the ends held at the edge values."""
    size = 2 * radius + 1
    padded = [values[0]] * radius + values + [values[-1]] * radius
    acc = sum(padded[:size])
    line = [acc / size]
    for i in range(1, len(values)):
        acc += padded[i + size - 1] - padded[i - 1]
        line.append(acc / size)
    return line


def box_blur(grid, radius, passes=3):
    """Near-Gaussian blur from repeated running-sum box blurs."""
    h, w = len(grid), len(grid[0])
    for _ in range(passes):
        grid = [running_mean(row, radius) for row in grid]
        cols = [running_mean([grid[y][x] for y in range(h)], radius) for x in range(w)]
        grid = [[cols[x][y] for x in range(w)] for y in range(h)]
    return grid


def bolt_path(rng, start, end, roughness, depth):
    """Midpoint displacement: split each stretch and push the middle sideways.
    The first two splits push less, so the stroke keeps its heading and the
    jaggedness stays small-scale."""
    points = [start, end]
    for level in range(depth):
        nxt = [points[0]]
        push = roughness * (0.45 if level < 2 else 1.0)
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            length = math.hypot(bx - ax, by - ay)
            offset = rng.gauss(0.0, push * length)
            nx, ny = -(by - ay) / length, (bx - ax) / length
            nxt.append(((ax + bx) / 2 + nx * offset, (ay + by) / 2 + ny * offset))
            nxt.append((bx, by))
        points = nxt
    return points


def in_text_area(x, y, margin):
    return any(ax - margin <= x <= ax + aw + margin and ay - margin <= y <= ay + ah + margin
               for ax, ay, aw, ah in TEXT_AREAS)


def off_limits(path):
    """Forks keep clear of the text, above the hills, near the middle."""
    return any(in_text_area(x, y, 30) or y > 218 or not 150 < x < 320 for x, y in path)


def lightning(rng):
    """The main channel and its forks, as (points, width, brightness)."""
    main = bolt_path(rng, (236.0, 34.0), (206.0, 236.0), 0.22, 7)
    strokes = [(main, 1.9, 1.0)]
    forks = 0
    tries = 0
    while forks < 5 and tries < 300:
        tries += 1
        i = rng.randrange(6, int(len(main) * 0.65))
        sx, sy = main[i]
        angle = math.radians(90 + rng.choice((-1, 1)) * rng.uniform(25, 55))
        length = rng.uniform(45, 110) * (1.0 - i / len(main) * 0.5)
        ex, ey = sx + math.cos(angle) * length, sy + math.sin(angle) * length
        fork = bolt_path(rng, (sx, sy), (ex, ey), 0.2, 5)
        if off_limits(fork):
            continue
        strokes.append((fork, 0.9, 0.7))
        forks += 1
        if rng.random() < 0.5:
            j = rng.randrange(len(fork) // 3, len(fork) - 4)
            tx, ty = fork[j]
            turn = angle + rng.choice((-1, 1)) * math.radians(rng.uniform(20, 40))
            reach = length * rng.uniform(0.3, 0.5)
            twig = bolt_path(rng, (tx, ty), (tx + math.cos(turn) * reach, ty + math.sin(turn) * reach), 0.25, 4)
            if not off_limits(twig):
                strokes.append((twig, 0.6, 0.5))
    return strokes


def draw_strokes(grid, strokes):
    """Anti-aliased thick polylines into a 0..1 grid (brightest wins)."""
    for points, width, bright in strokes:
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            dx, dy = bx - ax, by - ay
            seg2 = dx * dx + dy * dy or 1e-9
            reach = width + 1.5
            for y in range(max(0, int(min(ay, by) - reach)), min(H, int(max(ay, by) + reach) + 1)):
                for x in range(max(0, int(min(ax, bx) - reach)), min(W, int(max(ax, bx) + reach) + 1)):
                    px, py = x + 0.5, y + 0.5
                    t = clamp(((px - ax) * dx + (py - ay) * dy) / seg2)
                    d = math.hypot(px - ax - t * dx, py - ay - t * dy)
                    v = clamp(width - d + 0.5) * bright
                    if v > grid[y][x]:
                        grid[y][x] = v


def draw_tree(rng, cover):
    """A lone storm-bent tree: a trunk, limbs reaching sideways, and a dead
    leader standing bare above the crown for the kestrel. Returns where the
    bird sits."""
    strokes = []

    def branch(x, y, angle, length, width, depth):
        ex = x + math.cos(angle) * length
        ey = y + math.sin(angle) * length
        mid = ((x + ex) / 2 + rng.uniform(-1.2, 1.2), (y + ey) / 2 + rng.uniform(-1.2, 1.2))
        strokes.append(([(x, y), mid, (ex, ey)], width, 1.0))
        if depth == 0 or length < 4:
            return
        for k in range(2):
            turn = rng.uniform(0.3, 0.6) * (1 if k else -1)
            # The wind leans everything a little to the right.
            branch(ex, ey, angle + turn + 0.06, length * rng.uniform(0.6, 0.75),
                   max(0.5, width * 0.62), depth - 1)

    base_x, base_y = 84.0, 264.0
    fork_x, fork_y = 86.0, 228.0
    strokes.append(([(base_x, base_y), (85.0, 246.0), (fork_x, fork_y)], 3.2, 1.0))
    branch(fork_x, fork_y, math.radians(-140), 24, 2.2, 4)
    branch(fork_x, fork_y, math.radians(-48), 26, 2.2, 4)
    branch(fork_x - 2, fork_y + 10, math.radians(-165), 16, 1.4, 3)
    # The dead leader: straight, thin, leaning a little, bare at the top.
    leader = [(fork_x, fork_y), (87.6, 214.0), (87.9, 201.0), (90.4, 189.0), (91.2, 182.0), (93.0, 176.0)]
    for i, width in enumerate((2.2, 1.8, 1.5, 1.2, 1.1)):
        strokes.append((leader[i:i + 2], width, 1.0))
    strokes.append(([(90.0, 193.0), (95.0, 189.0), (99.0, 188.0)], 0.7, 1.0))
    top_x, top_y = leader[-1]
    draw_strokes(cover, strokes)
    return top_x, top_y


def draw_kestrel(cover, x0, y0, scale):
    """A perched falcon seen side-on, facing left, its feet at (x0, y0):
    round head, hooked beak, upright body with the wings folded along it,
    a long tail hanging below the perch."""

    def inside(x, y):
        u, v = (x - x0) / scale, (y - y0) / scale
        head = (u + 0.5) ** 2 + (v + 9.4) ** 2 <= 2.5 ** 2
        beak = -4.0 <= u <= -2.2 and -10.0 <= v <= -8.6
        hook = -4.1 <= u <= -3.3 and -9.0 <= v <= -7.9
        # The body: an ellipse tilted so the breast leads.
        bu, bv = u - 0.1, v + 4.2
        c, s = math.cos(0.28), math.sin(0.28)
        ru, rv = bu * c + bv * s, -bu * s + bv * c
        body = (ru / 3.1) ** 2 + (rv / 5.0) ** 2 <= 1.0
        # The folded wingtips and the tail run on down past the perch.
        tail = -0.2 <= u - (v - 1.0) * 0.12 <= 2.7 - 0.1 * max(v, 0.0) and -3.0 <= v <= 6.5
        feet = -0.7 <= u <= 0.7 and -1.0 <= v <= 0.4
        return head or beak or hook or body or tail or feet

    reach = int(12 * scale) + 2
    for y in range(int(y0 - reach), int(y0 + reach)):
        for x in range(int(x0 - reach), int(x0 + reach)):
            hits = sum(inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4) for i in range(4) for j in range(4))
            if hits:
                cover[y][x] = max(cover[y][x], hits / 16)


def median_cut(colours, size):
    """colours: {(r, g, b): count}. Splits the fullest, widest box until there
    are size boxes, then takes each box's weighted mean."""
    boxes = [list(colours.items())]

    def spread(box):
        lo = [min(c[0][k] for c in box) for k in range(3)]
        hi = [max(c[0][k] for c in box) for k in range(3)]
        ranges = [hi[k] - lo[k] for k in range(3)]
        axis = max(range(3), key=lambda k: ranges[k])
        count = sum(c[1] for c in box)
        return ranges[axis] * math.sqrt(count), axis

    while len(boxes) < size:
        scored = [(spread(b), i) for i, b in enumerate(boxes) if len(b) > 1]
        if not scored:
            break
        (score, axis), i = max(scored, key=lambda s: (s[0][0], -s[1]))
        if score == 0:
            break
        box = sorted(boxes.pop(i), key=lambda c: (c[0][axis], c[0]))
        total = sum(c[1] for c in box)
        acc, cut = 0, 1
        for k, c in enumerate(box):
            acc += c[1]
            if acc >= total / 2:
                cut = min(max(k + 1, 1), len(box) - 1)
                break
        boxes.append(box[:cut])
        boxes.append(box[cut:])
    palette = []
    for box in boxes:
        total = sum(c[1] for c in box)
        palette.append(tuple(int(round(sum(c[0][k] * c[1] for c in box) / total)) for k in range(3)))
    return sorted(set(palette))


def dither(image, palette):
    """Floyd-Steinberg, snaking row by row, into palette indices."""
    cache = {}

    def nearest(r, g, b):
        key = (int(r) >> 2, int(g) >> 2, int(b) >> 2)
        hit = cache.get(key)
        if hit is None:
            cr, cg, cb = (key[0] << 2) + 2, (key[1] << 2) + 2, (key[2] << 2) + 2
            best, hit = None, 0
            for i, (pr, pg, pb) in enumerate(palette):
                # Weighted so the eye's sensitivity to green counts.
                d = 3 * (pr - cr) ** 2 + 4 * (pg - cg) ** 2 + 2 * (pb - cb) ** 2
                if best is None or d < best:
                    best, hit = d, i
            cache[key] = hit
        return hit

    work = [[list(p) for p in row] for row in image]
    rows = []
    for y in range(H):
        row = work[y]
        below = work[y + 1] if y + 1 < H else None
        out = [0] * W
        forward = y % 2 == 0
        xs = range(W) if forward else range(W - 1, -1, -1)
        step = 1 if forward else -1
        for x in xs:
            r, g, b = (clamp(c, 0.0, 255.0) for c in row[x])
            i = nearest(r, g, b)
            out[x] = i
            pr, pg, pb = palette[i]
            err = (r - pr, g - pg, b - pb)
            nx = x + step
            if 0 <= nx < W:
                p = row[nx]
                for k in range(3):
                    p[k] += err[k] * 7 / 16
            if below is not None:
                for ox, wgt in ((x - step, 3 / 16), (x, 5 / 16), (nx, 1 / 16)):
                    if 0 <= ox < W:
                        p = below[ox]
                        for k in range(3):
                            p[k] += err[k] * wgt
        rows.append(out)
    return rows


def cloud_shade(lit, dark):
    """Cloud colour for how much light gets into it: from the cloud's own
    dark, through a violet-grey, to blue-white where the flash is strongest."""
    lit = clamp(lit)
    if lit < 0.6:
        return mix(dark, (96, 92, 138), lit / 0.6)
    return mix((96, 92, 138), (220, 218, 250), (lit - 0.6) / 0.4)


def splash():
    rng = random.Random(SKY_SEED)
    clouds = ValueNoise(rng)
    detail = ValueNoise(rng)
    calm = calm_mask()

    # The lightning first: its glow lights the clouds and the sky behind.
    core = [[0.0] * W for _ in range(H)]
    strokes = lightning(random.Random(BOLT_SEED))
    draw_strokes(core, strokes)
    halo = box_blur(core, 3)
    glow = box_blur(core, 22)
    glow_peak = max(max(row) for row in glow) or 1.0
    glow = [[clamp(v / glow_peak) for v in row] for row in glow]
    wide = box_blur(core, 70, passes=2)
    wide_peak = max(max(row) for row in wide) or 1.0
    wide = [[clamp(v / wide_peak) for v in row] for row in wide]
    # The storm's main mass piles up over the bolt.
    main_points = strokes[0][0]
    bolt_x = sum(p[0] for p in main_points) / len(main_points)

    # Hills: a far ridge in violet-grey haze, a near one in near-black. The
    # near ridge rises on the left for the tree and on the right under the
    # credit, and dips in the middle so the bolt's strike stays in view.
    rng = random.Random(LAND_SEED)
    far_line = noise_1d(rng, W, 23)
    far_wave = noise_1d(rng, W, 61)
    near_line = noise_1d(rng, W, 31)
    far_top = [226 + 18 * (far_wave[x] - 0.5) + 6 * (far_line[x] - 0.5) for x in range(W)]
    # The bolt comes down on a small rise.
    for x in range(W):
        far_top[x] -= 10 * math.exp(-((x - 206) / 18.0) ** 2)
    near_top = []
    for x in range(W):
        shape = (272 - 22 * math.exp(-((x - 86) / 48.0) ** 2)
                 - 32 * smoothstep(220, 330, x))
        near_top.append(shape + 7 * (near_line[x] - 0.5))

    silhouettes = [[0.0] * W for _ in range(H)]
    perch_x, perch_y = draw_tree(rng, silhouettes)
    draw_kestrel(silhouettes, perch_x, perch_y + 0.5, 1.3)

    sky_stops = [(0.0, (6, 8, 26)), (0.35, (20, 20, 52)), (0.7, (58, 50, 88)), (0.8, (78, 66, 104)), (1.0, (70, 60, 96))]

    image = []
    for y in range(H):
        v = y / H
        for k in range(len(sky_stops) - 1):
            if sky_stops[k][0] <= v <= sky_stops[k + 1][0]:
                t = (v - sky_stops[k][0]) / (sky_stops[k + 1][0] - sky_stops[k][0])
                sky = mix(sky_stops[k][1], sky_stops[k + 1][1], t)
                break
        emerge = 0.3 + 0.7 * smoothstep(34.0, 64.0, y)
        row = []
        for x in range(W):
            calm_here = calm[y][x]
            g = glow[y][x]
            flash = wide[y][x]
            colour = mix(sky, (120, 118, 170), 0.45 * g + 0.25 * flash)

            light = clamp(0.9 * g + 0.6 * flash)
            # Open sky in the top-left corner, where the name goes.
            clear = 1.0 - smoothstep(0.55, 1.25, math.hypot((x - 40) / 190.0, (y - 20) / 125.0))
            opening = max(calm_here, clear)

            # Three cloud layers, back to front: a thin high veil, the storm's
            # main mass round the bolt, and ragged low scud. Thin cloud lets
            # the flash through, so edges glow and cores stay dark.
            high = clouds.fractal(x / 130.0, y / 50.0, 5)
            veil = smoothstep(0.40, 0.70, high) * (1.0 - smoothstep(0.5, 0.78, v)) * (1.0 - 0.9 * opening)
            colour = mix(colour, mix((40, 38, 70), (150, 148, 200), light), 0.5 * veil)

            mass = clouds.fractal(x / 92.0 + 50.0, y / 42.0 + 20.0, 6)
            bump = detail.fractal(x / 16.0, y / 10.0, 3) - 0.5
            cover = (0.24 + 0.07 * math.sin(x / 61.0 + 1.0)
                     + 0.25 * math.exp(-(((x - bolt_x) / 70.0) ** 2 + ((y - 25) / 45.0) ** 2))
                     - 0.55 * smoothstep(0.25, 0.55, v)
                     - 0.40 * opening)
            density = mass + cover + 0.05 * bump
            body = smoothstep(0.44, 0.56, density)
            thick = smoothstep(0.50, 0.80, density)
            glow_in = light * (0.35 + 0.9 * (1.0 - thick)) + 0.10 * (1.0 - thick) + 0.12 * bump
            colour = mix(colour, cloud_shade(glow_in, (22, 21, 44)), 0.92 * body)

            scud_n = clouds.fractal(x / 55.0 + 120.0, y / 14.0 + 80.0, 5)
            band = math.exp(-((y - 150.0) / 20.0) ** 2)
            scud = smoothstep(0.50, 0.64, scud_n + 0.28 * band - 0.22) * band
            s_thick = smoothstep(0.55, 0.75, scud_n + 0.28 * band - 0.22)
            glow_in = light * (0.25 + 0.9 * (1.0 - s_thick)) + 0.08 * bump
            colour = mix(colour, cloud_shade(glow_in, (14, 13, 28)), 0.95 * scud)

            # The bolt: a blue-white halo and a white core.
            h = halo[y][x]
            colour = (colour[0] + 150 * h, colour[1] + 150 * h, colour[2] + 230 * h)
            # Near its top the channel is still inside the cloud: dimmer.
            colour = mix(colour, (245, 245, 255), clamp(core[y][x]) * emerge)

            far = clamp(y + 1 - far_top[x])
            if far:
                hill = mix((32, 28, 50), (70, 64, 108), g * 0.8)
                colour = mix(colour, hill, far)
            near = clamp(y + 1 - near_top[x])
            if near:
                colour = mix(colour, (9, 8, 15), near)
            s = silhouettes[y][x]
            if s:
                colour = mix(colour, (7, 6, 12), s)
            # Keep the text's ground dark: pull the text areas toward night.
            if calm_here:
                colour = mix(colour, (10, 10, 28), 0.35 * calm_here)
            row.append(colour)
        image.append(row)

    counts = {}
    for row in image:
        for r, g, b in row:
            key = (int(clamp(r, 0, 255)) >> 2 << 2, int(clamp(g, 0, 255)) >> 2 << 2,
                   int(clamp(b, 0, 255)) >> 2 << 2)
            counts[key] = counts.get(key, 0) + 1
    palette = median_cut(counts, 256)
    return palette, dither(image, palette)


def main():
    os.makedirs(os.path.join(HERE, "icon"), exist_ok=True)
    write_png(os.path.join(HERE, "icon", "kestrix-32.png"), 32, 32, VGA, icon_32(), transparent=CLEAR)
    write_png(os.path.join(HERE, "icon", "kestrix-16.png"), 16, 16, VGA, icon_16(), transparent=CLEAR)
    with open(os.path.join(HERE, "icon", "kestrix.svg"), "w") as f:
        f.write(icon_svg())
    for size in LARGE_SIZES:
        write_rgba_png(os.path.join(HERE, "icon", "kestrix-%d.png" % size), size, size,
                       icon_large(size))
    palette, rows = splash()
    write_png(os.path.join(HERE, "splash.png"), W, H, palette, rows)


if __name__ == "__main__":
    main()

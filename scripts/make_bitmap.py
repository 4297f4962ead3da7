#!/usr/bin/env python3
"""Draws the picture of the server selection dialog (bitmap 129).

A marsh at dusk with the word "Mirelands": 144 x 350 pixels, 8 bits per pixel
with a 256-colour palette, written as a Windows BMP. The drawing is
deterministic, so the committed file can be checked against this script:

    scripts/make_bitmap.py src/resources/server_picture.bmp
    scripts/make_bitmap.py --check src/resources/server_picture.bmp
"""
import struct
import sys

WIDTH, HEIGHT = 144, 350

# Palette ramps: (first index, count, colour at start, colour at end).
SKY, SKY_N = 0, 64          # deep violet at the top to amber at the horizon
WATER, WATER_N = 64, 48     # dark teal to the sky's glow
HILL, HILL_N = 112, 16      # distant hills
REED, REED_N = 128, 24      # reeds and mud
SUN, SUN_N = 152, 16        # the sun and its glow
MIST, MIST_N = 168, 16      # mist bands over the water
TEXT, SHADOW, FRAME = 250, 251, 252

RAMPS = [
    (SKY, SKY_N, (34, 18, 70), (246, 170, 92)),
    (WATER, WATER_N, (14, 44, 52), (150, 120, 96)),
    (HILL, HILL_N, (40, 30, 66), (92, 70, 98)),
    (REED, REED_N, (18, 26, 14), (86, 98, 44)),
    (SUN, SUN_N, (255, 236, 170), (252, 188, 96)),
    (MIST, MIST_N, (120, 116, 140), (200, 186, 190)),
]
FIXED = {TEXT: (244, 240, 222), SHADOW: (20, 12, 30), FRAME: (60, 44, 80)}

HORIZON = 196  # first row of water

# A 5 x 7 pixel font for the letters of the title.
GLYPHS = {
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "i": ["00100", "00000", "01100", "00100", "00100", "00100", "01110"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
    "d": ["00001", "00001", "01101", "10011", "10001", "10011", "01101"],
    "s": ["00000", "00000", "01111", "10000", "01110", "00001", "11110"],
}


def palette():
    colours = [(0, 0, 0)] * 256
    for first, count, start, end in RAMPS:
        for i in range(count):
            t = i / (count - 1)
            colours[first + i] = tuple(round(a + (b - a) * t) for a, b in zip(start, end))
    for index, colour in FIXED.items():
        colours[index] = colour
    return colours


class Lcg:
    """Small deterministic generator for the reeds and the ripples."""

    def __init__(self, seed):
        self.state = seed

    def next(self, bound):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return (self.state >> 8) % bound


def ramp(first, count, t):
    t = min(max(t, 0.0), 1.0)
    return first + round(t * (count - 1))


def draw():
    px = [[0] * WIDTH for _ in range(HEIGHT)]
    rng = Lcg(1977)
    sun_x, sun_y, sun_r = 98, 168, 17

    # Sky, brighter towards the horizon, with a halo round the sun.
    for y in range(HORIZON):
        for x in range(WIDTH):
            t = (y / HORIZON) ** 1.4
            d2 = (x - sun_x) ** 2 + (y - sun_y) ** 2
            glow = max(0.0, 1.0 - d2 / (70.0 ** 2)) * 0.35
            px[y][x] = ramp(SKY, SKY_N, t + glow)
    # The sun, half sunk behind the hills.
    for y in range(sun_y - sun_r, sun_y + sun_r + 1):
        for x in range(sun_x - sun_r, sun_x + sun_r + 1):
            d2 = (x - sun_x) ** 2 + (y - sun_y) ** 2
            if d2 <= sun_r * sun_r and 0 <= y < HORIZON:
                px[y][x] = ramp(SUN, SUN_N, (d2 ** 0.5) / sun_r)
    # Two ranges of hills.
    for x in range(WIDTH):
        far = 176 + round(6 * _wave(x, 0.09, 0.3) + 3 * _wave(x, 0.23, 1.1))
        near = 186 + round(5 * _wave(x, 0.05, 2.0) + 2 * _wave(x, 0.31, 0.4))
        for y in range(far, HORIZON):
            px[y][x] = ramp(HILL, HILL_N, 0.6 - (y - far) / 60)
        for y in range(near, HORIZON):
            px[y][x] = ramp(HILL, HILL_N, 0.2 - (y - near) / 80)
    # Water: the sky mirrored and darkened, broken into ripples.
    for y in range(HORIZON, HEIGHT):
        depth = (y - HORIZON) / (HEIGHT - HORIZON)
        for x in range(WIDTH):
            ripple = 0.08 * _wave(x + 3 * y, 0.35, y * 0.7)
            t = 0.85 - depth * 0.9 + ripple
            if abs(x - sun_x) < 14 - depth * 8 and (y + x // 3) % 5 < 2:
                t += 0.35  # the sun's path on the water
            px[y][x] = ramp(WATER, WATER_N, t)
    # Mist bands just above the water line.
    for y in range(HORIZON - 4, HORIZON + 10):
        for x in range(WIDTH):
            if (x * 7 + y * 13) % 11 < 3:
                px[y][x] = ramp(MIST, MIST_N, (y - HORIZON + 4) / 14)
    # Mud banks and reeds in the foreground.
    for x in range(WIDTH):
        bank = 318 + round(8 * _wave(x, 0.04, 0.5) + 3 * _wave(x, 0.2, 1.7))
        for y in range(bank, HEIGHT):
            px[y][x] = ramp(REED, REED_N, 0.15 + 0.1 * ((x + y) % 3 == 0))
    for _ in range(70):
        x = rng.next(WIDTH)
        base = 322 + rng.next(28)
        height = 24 + rng.next(70)
        lean = (rng.next(5) - 2) / 20
        shade = 0.2 + rng.next(40) / 100
        for i in range(height):
            y = base - i
            xx = round(x + lean * i)
            if 0 <= y < HEIGHT and 0 <= xx < WIDTH:
                px[y][xx] = ramp(REED, REED_N, shade + i / height * 0.4)
        if rng.next(3) == 0:  # a cattail head
            for i in range(height - 8, height):
                y, xx = base - i, round(x + lean * i)
                for dx in (0, 1):
                    if 0 <= y < HEIGHT and 0 <= xx + dx < WIDTH:
                        px[y][xx + dx] = ramp(REED, REED_N, 0.05)
    _title(px, "Mirelands", 34)
    # A thin frame so the picture sits cleanly against the dialog.
    for x in range(WIDTH):
        px[0][x] = px[HEIGHT - 1][x] = FRAME
    for y in range(HEIGHT):
        px[y][0] = px[y][WIDTH - 1] = FRAME
    return px


def _wave(x, frequency, phase):
    # A cheap smooth wave (a parabola approximation of a sine), -1..1.
    t = (x * frequency + phase) % 2.0
    return 1 - 4 * (t - 0.5) ** 2 if t < 1 else -(1 - 4 * (t - 1.5) ** 2)


def _title(px, text, top):
    scale = 2
    width = len(text) * 6 * scale - scale
    left = (WIDTH - width) // 2
    for n, ch in enumerate(text):
        glyph = GLYPHS[ch]
        for gy, row in enumerate(glyph):
            for gx, bit in enumerate(row):
                if bit != "1":
                    continue
                for sy in range(scale):
                    for sx in range(scale):
                        x = left + (n * 6 + gx) * scale + sx
                        y = top + gy * scale + sy
                        px[y + 1][x + 1] = SHADOW
                        px[y][x] = TEXT


def bmp_bytes(px):
    colours = palette()
    row_size = (WIDTH + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(px):  # BMP rows go bottom-up
        pixels += bytes(row) + b"\0" * (row_size - WIDTH)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels),
                       2835, 2835, 256, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + table + bytes(pixels)


def main(argv):
    check = "--check" in argv
    paths = [a for a in argv if a != "--check"]
    if len(paths) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    data = bmp_bytes(draw())
    if check:
        with open(paths[0], "rb") as f:
            same = f.read() == data
        print("up to date" if same else "differs from the script's drawing")
        return 0 if same else 1
    with open(paths[0], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

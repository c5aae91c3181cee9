#!/usr/bin/env python3
"""Draws Zelmod's artwork: the main window's background and the two icons.

    python3 resources/make_artwork.py [OUTPUT_DIR]

background.bmp  500 x 500, 4 bits per pixel (16-colour palette)
zelmod.ico      32 x 32, 8 bits per pixel (256-colour palette), main window and program
about.ico       32 x 32, 8 bits per pixel, the About window
icons/zelmod-N.png  the program's icon for the desktop's icon theme, N x N pixels
                for N in ICON_SIZES, RGBA, drawn from the same design as zelmod.ico

The picture is a note and its reflection in a mirror line: what the tool does
to a melody. Only the standard library is used, so the files can be redrawn
anywhere; the output is deterministic.
"""
import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------- colours

BACKGROUND_PALETTE = [
    (12, 18, 48), (16, 26, 66), (20, 36, 86), (26, 48, 108),      # night blue, dark to light
    (34, 62, 128), (44, 78, 148), (58, 98, 168), (80, 124, 188),
    (236, 240, 248), (180, 200, 232), (120, 150, 210),             # note white, reflection blues
    (232, 186, 72), (178, 132, 44),                                # mirror gold, its shadow
    (96, 186, 196), (56, 128, 150), (255, 255, 255),               # water teal, highlight
]
NIGHT = list(range(8))
NOTE, REFLECT_LIGHT, REFLECT_DARK = 8, 9, 10
GOLD, GOLD_DARK = 11, 12
TEAL, TEAL_DARK, WHITE = 13, 14, 15

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def dithered(shades, t, x, y):
    """Picks one of the shades for position t in 0..1, with ordered dithering."""
    t = min(max(t, 0.0), 1.0) * (len(shades) - 1)
    base = int(t)
    if base >= len(shades) - 1:
        return shades[-1]
    return shades[base + 1] if (t - base) * 16 > BAYER4[y % 4][x % 4] else shades[base]


# ---------------------------------------------------------------- canvas


class Canvas:
    def __init__(self, width, height, fill=0):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(y0, 0), min(y1, self.height)):
            for x in range(max(x0, 0), min(x1, self.width)):
                self.pixels[y][x] = colour

    def ellipse(self, cx, cy, rx, ry, angle, colour):
        """A filled, rotated ellipse: the shape of a note head."""
        c, s = math.cos(angle), math.sin(angle)
        r = int(max(rx, ry)) + 1
        for y in range(int(cy) - r, int(cy) + r + 1):
            for x in range(int(cx) - r, int(cx) + r + 1):
                dx, dy = x + 0.5 - cx, y + 0.5 - cy
                u, v = dx * c + dy * s, -dx * s + dy * c
                if (u / rx) ** 2 + (v / ry) ** 2 <= 1.0:
                    self.put(x, y, colour)

    def note(self, cx, cy, size, colour, stem_up=True):
        self.ellipse(cx, cy, size * 1.35, size, -0.45, colour)
        stem_x = int(cx + size * 1.15) if stem_up else int(cx - size * 1.25)
        top, bottom = (int(cy - size * 6), int(cy)) if stem_up else (int(cy), int(cy + size * 6))
        self.rect(stem_x, top, stem_x + max(2, int(size) // 4), bottom, colour)


# ---------------------------------------------------------------- the pictures

MIRROR_Y = 232
STAFF_TOP, STAFF_GAP = 96, 18
MELODY = [0, 2, 4, 5, 7, 9, 7, 4]  # scale steps above the bottom staff line


def draw_background():
    size = 500
    cv = Canvas(size, size)
    for y in range(size):
        for x in range(size):
            glow = math.hypot(x - 250, y - MIRROR_Y) / 360.0
            cv.pixels[y][x] = dithered(NIGHT, 1.0 - glow - abs(y - MIRROR_Y) / 900.0, x, y)
    # The water below the mirror line: teal ripples that fade with depth.
    for y in range(MIRROR_Y + 4, size):
        depth = (y - MIRROR_Y) / (size - MIRROR_Y)
        for x in range(size):
            ripple = math.sin(x / 23.0 + y / 5.0) + math.sin(x / 41.0 - y / 9.0)
            if ripple > 1.55 + depth * 0.4:
                cv.put(x, y, TEAL_DARK if depth > 0.35 else TEAL)
    # Staff and its reflection.
    staff_bottom = STAFF_TOP + 4 * STAFF_GAP
    for i in range(5):
        y = STAFF_TOP + i * STAFF_GAP
        cv.rect(40, y, 460, y + 2, REFLECT_LIGHT)
        ry = 2 * MIRROR_Y - y
        for x in range(40, 460):
            if (x // 3) % 2 == 0:
                cv.put(x, ry, REFLECT_DARK)
    # The melody, and the same melody turned upside down in the mirror.
    for i, step in enumerate(MELODY):
        x = 80 + i * 50
        y = staff_bottom - step * STAFF_GAP / 2
        cv.note(x, y, 8, NOTE, stem_up=step < 6)
        cv.note(x, 2 * MIRROR_Y - y, 8, REFLECT_LIGHT, stem_up=step >= 6)
    # The mirror itself: a gold bar with a highlight and a shadow.
    cv.rect(20, MIRROR_Y - 2, 480, MIRROR_Y + 2, GOLD)
    cv.rect(20, MIRROR_Y - 3, 480, MIRROR_Y - 2, WHITE)
    cv.rect(20, MIRROR_Y + 2, 480, MIRROR_Y + 4, GOLD_DARK)
    for x in (20, 476):
        cv.rect(x, MIRROR_Y - 10, x + 4, MIRROR_Y + 10, GOLD)
    return cv


def icon_palette(accent):
    """256 colours: a 64-step ramp of the icon's ground, then the accents, then greys."""
    palette = []
    for i in range(64):
        t = i / 63.0
        palette.append(tuple(int(a + (b - a) * t) for a, b in zip((10, 16, 52), accent)))
    palette += [(245, 245, 250), (170, 190, 230), (232, 186, 72), (150, 110, 40)]
    while len(palette) < 256:
        g = (len(palette) - 68) * 255 // 187
        palette.append((g, g, g))
    return palette


def draw_icon(accent_step):
    """A rounded tile with a note, the mirror line and the note's reflection."""
    cv = Canvas(32, 32)
    mask = [[1] * 32 for _ in range(32)]  # 1 = transparent
    for y in range(32):
        for x in range(32):
            dx = max(3.5 - x, x - 27.5, 0)
            dy = max(3.5 - y, y - 27.5, 0)
            if math.hypot(dx, dy) <= 4.0:
                mask[y][x] = 0
                cv.pixels[y][x] = min(63, int(20 + accent_step * (1 - y / 31.0) + x / 2))
    cv.rect(3, 16, 29, 17, 66)                # gold mirror line
    cv.rect(3, 17, 29, 18, 67)
    cv.note(12, 11, 3, 64, stem_up=True)      # the note
    cv.note(12, 22, 3, 65, stem_up=False)     # its reflection
    cv.note(21, 8, 3, 64, stem_up=True)
    cv.note(21, 25, 3, 65, stem_up=False)
    return cv, mask


ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
SUPERSAMPLING = 4


def draw_icon_rgba(size, accent_step, palette):
    """The icon's design at any size, in colours, smoothed by supersampling.

    Coordinates are those of the 32-pixel design, scaled; each pixel of the
    result averages SUPERSAMPLING x SUPERSAMPLING samples, transparent or not.
    """
    big = size * SUPERSAMPLING
    s = big / 32.0
    cv = Canvas(big, big, fill=None)
    for y in range(big):
        v = (y + 0.5) / s - 0.5
        for x in range(big):
            u = (x + 0.5) / s - 0.5
            if math.hypot(max(3.5 - u, u - 27.5, 0), max(3.5 - v, v - 27.5, 0)) <= 4.0:
                cv.pixels[y][x] = palette[min(63, int(20 + accent_step * (1 - v / 31.0) + u / 2))]
    cv.rect(int(3 * s), int(16 * s), int(29 * s), int(17 * s), palette[66])
    cv.rect(int(3 * s), int(17 * s), int(29 * s), int(18 * s), palette[67])
    for cx, cy, colour, stem_up in ((12, 11, 64, True), (12, 22, 65, False),
                                    (21, 8, 64, True), (21, 25, 65, False)):
        cv.note(cx * s, cy * s, 3 * s, palette[colour], stem_up)
    return downsampled(cv, SUPERSAMPLING)


def downsampled(cv, factor):
    """Rows of RGBA bytes, each pixel the mean of factor x factor samples (None: transparent)."""
    rows = []
    for y in range(0, cv.height, factor):
        row = bytearray()
        for x in range(0, cv.width, factor):
            samples = [cv.pixels[y + j][x + i] for j in range(factor) for i in range(factor)]
            opaque = [c for c in samples if c is not None]
            if not opaque:
                row += bytes(4)
                continue
            row += bytes(sum(c[k] for c in opaque) // len(opaque) for k in range(3))
            row.append(255 * len(opaque) // len(samples))
        rows.append(bytes(row))
    return rows


# ---------------------------------------------------------------- file formats


def write_png(path, rows):
    """An 8-bit RGBA PNG without filtering; deterministic, as zlib is."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    height, width = len(rows), len(rows[0]) // 4
    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def bmp_rows(cv, bits):
    """Bottom-up rows of palette indices, each padded to four bytes."""
    rows = []
    for row in reversed(cv.pixels):
        if bits == 8:
            data = bytes(row)
        else:
            data = bytes((row[i] << 4) | (row[i + 1] if i + 1 < len(row) else 0)
                         for i in range(0, len(row), 2))
        rows.append(data + b"\0" * (-len(data) % 4))
    return b"".join(rows)


def dib(cv, palette, bits, height_factor=1, extra=b""):
    pixels = bmp_rows(cv, bits)
    header = struct.pack("<IiiHHIIiiII", 40, cv.width, cv.height * height_factor, 1, bits, 0,
                         len(pixels) + len(extra), 2835, 2835, len(palette), 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + pixels + extra


def write_bmp(path, cv, palette, bits):
    body = dib(cv, palette, bits)
    offset = 14 + 40 + 4 * len(palette)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, offset) + body)


def write_ico(path, cv, mask, palette):
    and_rows = b""
    for row in reversed(mask):
        bits = 0
        for bit in row:
            bits = (bits << 1) | bit
        and_rows += bits.to_bytes(4, "big")
    image = dib(cv, palette, 8, height_factor=2, extra=and_rows)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 8, len(image), 22))
        f.write(image)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(out, "background.bmp"), draw_background(), BACKGROUND_PALETTE, 4)
    icon, mask = draw_icon(28)
    write_ico(os.path.join(out, "zelmod.ico"), icon, mask, icon_palette((70, 120, 200)))
    os.makedirs(os.path.join(out, "icons"), exist_ok=True)
    for size in ICON_SIZES:
        write_png(os.path.join(out, "icons", "zelmod-%d.png" % size),
                  draw_icon_rgba(size, 28, icon_palette((70, 120, 200))))
    icon, mask = draw_icon(40)
    write_ico(os.path.join(out, "about.ico"), icon, mask, icon_palette((40, 150, 160)))


if __name__ == "__main__":
    main()

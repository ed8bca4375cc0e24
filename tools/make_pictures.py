#!/usr/bin/env python3
"""Draws the configuration page's glyphs and the module icon (our own pictures)
and writes them as the BMP and ICO files that src/ui/WinampControl.rc embeds.
Run it again after changing a drawing: python3 tools/make_pictures.py"""
import os
import struct

OUT = os.path.join(os.path.dirname(__file__), "..", "src", "ui", "res")

GREY, DARK, WHITE, BLACK = (192, 192, 192), (128, 128, 128), (255, 255, 255), (0, 0, 0)
GREEN, BLUE, YELLOW, LIME = (0, 128, 0), (0, 0, 160), (255, 255, 0), (0, 255, 0)
TAN, BROWN = (240, 200, 96), (160, 112, 32)


def canvas(size, bg):
    return [[bg] * size for _ in range(size)]  # rows top to bottom


def rect(img, x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = c


def frame(img, x0, y0, x1, y1, c):
    for x in range(x0, x1 + 1):
        img[y0][x] = img[y1][x] = c
    for y in range(y0, y1 + 1):
        img[y][x0] = img[y][x1] = c


# The glyphs are drawn on a grid of 16 units, at 16, 20 and 24 pixels (96, 120 and 144 dpi):
# a unit's edges fall on whole pixels, outlines stay one pixel wide.
GLYPH_SIZES = (16, 20, 24)


class Glyph:
    def __init__(self, size, bg):
        self.size, self.scale, self.img = size, size / 16.0, canvas(size, bg)

    def px(self, unit):  # the pixel edge of a unit edge
        return int(unit * self.scale + 0.5)

    def fill(self, x0, y0, x1, y1, c):  # units x0..x1, y0..y1, inclusive
        rect(self.img, self.px(x0), self.px(y0), self.px(x1 + 1) - 1, self.px(y1 + 1) - 1, c)

    def outline(self, x0, y0, x1, y1, c):
        frame(self.img, self.px(x0), self.px(y0), self.px(x1 + 1) - 1, self.px(y1 + 1) - 1, c)

    def columns(self, x0, x1, y0, y1, centre, c):
        """A stroke two units high whose middle follows centre(x) (x in units) across units x0..x1,
        equally thick all along, and kept within units y0..y1 however the size rounds."""
        height = self.px(2)
        for x in range(self.px(x0), self.px(x1 + 1)):
            top = int(centre((x + 0.5) / self.scale) * self.scale - height / 2 + 0.5)
            top = min(max(top, self.px(y0)), self.px(y1 + 1) - height)
            rect(self.img, x, top, x, top + height - 1, c)


def folder_with_tick(size, bg):
    g = Glyph(size, bg)
    g.fill(1, 4, 10, 13, GREY)          # a grey folder
    g.fill(1, 3, 4, 3, GREY)
    g.outline(1, 4, 10, 13, DARK)
    g.fill(7, 7, 14, 14, WHITE)         # and a ticked box in front of it, the tick inside its outline
    g.outline(7, 7, 14, 14, BLACK)
    g.columns(8, 13, 8, 13, lambda x: 11 + x - 8.5 if x < 9.5 else 12 - (x - 9.5) * 0.9, GREEN)
    return g.img


def open_folder(size):
    g = Glyph(size, YELLOW)
    g.fill(1, 3, 5, 3, BROWN)
    g.fill(1, 4, 12, 13, TAN)
    g.outline(1, 4, 12, 13, BROWN)
    for y in range(g.px(8), g.px(14)):  # the open flap, slanted
        i = int((y + 0.5) / g.scale) - 8
        right = g.px(15 - i // 3) - 1
        rect(g.img, g.px(3 + i // 2), y, right, y, TAN)
        g.img[y][right] = BROWN
    rect(g.img, g.px(3), g.px(8), g.px(15) - 1, g.px(8), BROWN)
    return g.img


def list_lines(size):
    """Four lines with a bullet each, as thick and as far apart as the size allows evenly."""
    g = Glyph(size, WHITE)
    thick, gap = g.px(2), max(1, g.px(1))
    top = (size - 4 * thick - 3 * gap + 1) // 2
    bullet = g.px(2)
    for i in range(4):
        y = top + i * (thick + gap)
        rect(g.img, bullet, y, bullet + thick - 1, y + thick - 1, BLUE)
        rect(g.img, bullet + thick + gap, y, g.px(14) - 1, y + thick - 1, BLACK)
    return g.img


def strip(draw):
    """The glyph at each size side by side, bottom-aligned, the gaps in its background: the
    bottom-left pixel, whose colour is drawn transparent, is the 16-pixel picture's."""
    images = [draw(n) for n in GLYPH_SIZES]
    height = max(GLYPH_SIZES)
    rows = [[] for _ in range(height)]
    for img in images:
        n, bg = len(img), img[0][0]
        for y in range(height):
            rows[y] += img[y - (height - n)] if y >= height - n else [bg] * n
    return rows


def note_icon(size):
    s = size / 16.0
    img = canvas(size, None)
    def R(x0, y0, x1, y1, c):
        rect(img, int(x0 * s), int(y0 * s), int((x1 + 1) * s) - 1, int((y1 + 1) * s) - 1, c)
    R(1, 1, 14, 14, (0, 96, 160))      # a blue tile
    R(2, 2, 13, 13, (32, 144, 208))
    R(9, 3, 10, 11, WHITE)             # a white musical note
    R(10, 3, 12, 4, WHITE)
    R(5, 10, 9, 12, WHITE)
    return img


def bmp24(img):
    h, w = len(img), len(img[0])
    stride = (w * 3 + 3) & ~3
    rows = b""
    for y in range(h - 1, -1, -1):
        row = b"".join(bytes((b, g, r)) for (r, g, b) in img[y])
        rows += row + b"\0" * (stride - len(row))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return header, rows


def write_bmp(name, img):
    header, rows = bmp24(img)
    data = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(rows), 0, 0, 14 + len(header)) + header + rows
    open(os.path.join(OUT, name), "wb").write(data)


def write_ico(name, images):
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for img in images:
        n = len(img)
        pixels = b""
        for y in range(n - 1, -1, -1):
            for c in img[y]:
                pixels += bytes((c[2], c[1], c[0], 255)) if c else b"\0\0\0\0"
        mask_stride = ((n + 31) // 32) * 4
        mask = b""
        for y in range(n - 1, -1, -1):
            bits = 0
            row = bytearray(mask_stride)
            for x, c in enumerate(img[y]):
                if c is None:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(row)
        header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        blob = header + pixels + mask
        entries += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
        blobs += blob
        offset += len(blob)
    open(os.path.join(OUT, name), "wb").write(struct.pack("<HHH", 0, 1, len(images)) + entries + blobs)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    write_bmp("apply.bmp", strip(lambda n: folder_with_tick(n, (0, 128, 255))))
    write_bmp("ok.bmp", strip(lambda n: folder_with_tick(n, LIME)))
    write_bmp("folder.bmp", strip(open_folder))
    write_bmp("list.bmp", strip(list_lines))
    write_ico("module.ico", [note_icon(16), note_icon(32)])

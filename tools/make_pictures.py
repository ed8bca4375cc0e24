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


def tick(img, x, y, c):
    for dx, dy in [(0, 2), (1, 3), (2, 4), (3, 3), (4, 2), (5, 1), (6, 0)]:
        img[y + dy][x + dx] = c
        img[y + dy + 1][x + dx] = c


def folder_with_tick(bg, bottom_left=None):
    img = canvas(16, bg)
    rect(img, 1, 4, 10, 13, GREY)      # a grey folder
    rect(img, 1, 3, 4, 3, GREY)
    frame(img, 1, 4, 10, 13, DARK)
    rect(img, 7, 7, 14, 14, WHITE)      # and a ticked box in front of it
    frame(img, 7, 7, 14, 14, BLACK)
    tick(img, 8, 8, GREEN)
    if bottom_left:
        img[15][0] = bottom_left
    return img


def open_folder():
    img = canvas(16, YELLOW)
    rect(img, 1, 3, 5, 3, BROWN)
    rect(img, 1, 4, 12, 13, TAN)
    frame(img, 1, 4, 12, 13, BROWN)
    for i, y in enumerate(range(8, 14)):   # the open flap, slanted
        rect(img, 3 + i // 2, y, 14 - i // 3, y, TAN)
        img[y][14 - i // 3] = BROWN
    rect(img, 3, 8, 14, 8, BROWN)
    return img


def list_lines():
    img = canvas(16, WHITE)
    for y in (3, 6, 9, 12):
        rect(img, 2, y, 3, y + 1, BLUE)
        rect(img, 5, y, 13, y + 1, BLACK)
    return img


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
    write_bmp("apply.bmp", folder_with_tick((0, 128, 255)))
    write_bmp("ok.bmp", folder_with_tick(LIME, bottom_left=BLACK))
    write_bmp("folder.bmp", open_folder())
    write_bmp("list.bmp", list_lines())
    write_ico("module.ico", [note_icon(16), note_icon(32)])

#!/usr/bin/env python3
"""Draws the button pictures as uncompressed BMP files.

    make_bitmaps.py OUTDIR      writes 101.bmp, 102.bmp, 103.bmp, 105.bmp and 108.bmp (the command
                                bar's 16 x 16, 24-bit pictures)

Rows and columns count from 0 at the top left and every pixel not drawn is white. The ribbon's
pictures are not drawn here: the add-in draws them at run time, at the size each window's DPI asks
for (addin/ribbon_pictures.cpp).
"""
import struct
import sys
from pathlib import Path

SIZE = 16
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)


def blank():
    return [[WHITE] * SIZE for _ in range(SIZE)]


def product_figure(r, c):
    """Inside the product figure: a disc 11 rows (3-13) by 10 columns (3-12)."""
    return ((r - 8) / 5.5) ** 2 + ((c - 7.5) / 5.0) ** 2 <= 1.0


def product_icon():
    """Grey, lit from the top left, around a blue-grey sound wave across the middle."""
    img = blank()
    for r in range(SIZE):
        for c in range(SIZE):
            if not product_figure(r, c):
                continue
            light = (r - 3) + (c - 3)  # 0 at the top left .. 19 at the bottom right
            if abs(r - 8) <= 1 and 5 <= c <= 10 and (c + r) % 2 == 0:
                img[r][c] = (112, 128, 160)  # blue-grey wave
            elif abs(r - 8) <= 2 and 5 <= c <= 10:
                img[r][c] = (144, 160, 184)  # lighter blue-grey around it
            else:
                g = max(96, 208 - light * 6)
                img[r][c] = (g, g, g)
    return img


def product_mask():
    img = blank()
    for r in range(SIZE):
        for c in range(SIZE):
            if product_figure(r, c):
                img[r][c] = BLACK
    return img


def record():
    """A red disc 9 pixels across: rows 4-12, columns 3-11."""
    img = blank()
    for r in range(SIZE):
        for c in range(SIZE):
            if (r - 8) ** 2 + (c - 7) ** 2 <= 4.5 ** 2:
                img[r][c] = (255, 0, 0)
    return img


def play():
    """A green triangle pointing right: base in column 3, rows 3-13; tip in column 13, row 8."""
    img = blank()
    for c in range(3, 14):
        half = 5 * (13 - c) / 10
        for r in range(SIZE):
            if abs(r - 8) <= half + 1e-9:
                img[r][c] = (0, 255, 0)
    return img


def stop():
    """A black square: columns 3-12, rows 3-12."""
    img = blank()
    for r in range(3, 13):
        for c in range(3, 13):
            img[r][c] = BLACK
    return img


def bmp(img):
    """A square picture (rows of (red, green, blue)) as a 24-bit uncompressed BMP file."""
    size = len(img)
    row_bytes = (size * 3 + 3) // 4 * 4
    pad = bytes(row_bytes - size * 3)
    pixels = b"".join(
        bytes(v for (red, green, blue) in img[r] for v in (blue, green, red)) + pad for r in reversed(range(size))
    )
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, row_bytes * size, 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def write_if_changed(target, data):
    """Rewrites the file only when its bytes change, so the resources are not rebuilt for nothing."""
    target = Path(target)
    target.parent.mkdir(parents=True, exist_ok=True)
    if not target.exists() or target.read_bytes() != data:
        target.write_bytes(data)


def main():
    out = Path(sys.argv[1])
    for number, draw in ((101, product_icon), (102, record), (103, play), (105, stop), (108, product_mask)):
        write_if_changed(out / f"{number}.bmp", bmp(draw()))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the button pictures as uncompressed BMP files.

    make_bitmaps.py OUTDIR      writes 101.bmp, 102.bmp, 103.bmp, 105.bmp and 108.bmp (the command
                                bar's 16 x 16, 24-bit pictures), and 201.bmp, 202.bmp, 203.bmp,
                                205.bmp (the ribbon's 32 x 32 product, record, play and stop) and
                                211.bmp (the ribbon's 16 x 16 product)

For the bar, rows and columns count from 0 at the top left and every pixel not drawn is white. The
ribbon's pictures are the same figures drawn with an alpha channel (32 bits per pixel, premultiplied
as AlphaBlend expects) so that they sit on the ribbon without a white box: transparent outside the
figure, their edges anti-aliased.
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


# --- the ribbon's pictures ---------------------------------------------------------------------------
# Each figure is described on the bar's 16 x 16 grid in continuous coordinates (x to the right, y
# down, a pixel spanning one unit), so one description serves both sizes; a pixel's coverage is
# measured on a grid of samples inside it, which gives the anti-aliased edge.
SAMPLES = 4


def product_shape(x, y):
    """The product figure, as the bar's 101: an ellipse over columns 3-12 and rows 3-13."""
    if ((x - 8.0) / 5.0) ** 2 + ((y - 8.5) / 5.5) ** 2 > 1.0:
        return None
    c, r = int(x), int(y)  # the bar's pixel this point falls in: same wave pattern at every size
    light = (y - 3.5) + (x - 3.5)
    if abs(y - 8.5) <= 1.5 and 5 <= x < 11 and (c + r) % 2 == 0:
        return (112, 128, 160)
    if abs(y - 8.5) <= 2.5 and 5 <= x < 11:
        return (144, 160, 184)
    g = int(max(96, 208 - light * 6))
    return (g, g, g)


def record_shape(x, y):
    """A red disc, as the bar's 102."""
    return (255, 0, 0) if (x - 7.5) ** 2 + (y - 8.5) ** 2 <= 4.6 ** 2 else None


def play_shape(x, y):
    """A green triangle pointing right: base at x = 3 from y = 3 to 14, tip at (14, 8.5)."""
    if x < 3 or x > 14:
        return None
    half = 5.5 * (14 - x) / 11
    return (0, 255, 0) if abs(y - 8.5) <= half else None


def stop_shape(x, y):
    """A black square over columns 3-12 and rows 3-12."""
    return BLACK if 3 <= x < 13 and 3 <= y < 13 else None


def alpha_picture(shape, size):
    """Rows of premultiplied (red, green, blue, alpha), row 0 at the top."""
    unit = 16.0 / size
    img = []
    for r in range(size):
        row = []
        for c in range(size):
            inside = []
            for i in range(SAMPLES):
                for j in range(SAMPLES):
                    colour = shape((c + (j + 0.5) / SAMPLES) * unit, (r + (i + 0.5) / SAMPLES) * unit)
                    if colour is not None:
                        inside.append(colour)
            coverage = len(inside) / SAMPLES ** 2
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            mean = [sum(colour[k] for colour in inside) / len(inside) for k in range(3)]
            row.append(tuple(round(v * coverage) for v in mean) + (round(255 * coverage),))
        img.append(row)
    return img


def bmp32(img):
    """A square picture (rows of premultiplied (red, green, blue, alpha)) as a 32-bit BI_RGB,
    bottom-up BMP file."""
    size = len(img)
    pixels = b"".join(
        bytes(v for (red, green, blue, alpha) in img[r] for v in (blue, green, red, alpha)) for r in reversed(range(size))
    )
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 32, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


RIBBON_PICTURES = ((201, product_shape, 32), (202, record_shape, 32), (203, play_shape, 32),
                   (205, stop_shape, 32), (211, product_shape, 16))


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
    for number, shape, size in RIBBON_PICTURES:
        write_if_changed(out / f"{number}.bmp", bmp32(alpha_picture(shape, size)))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the About window's product picture as a 32 x 32, 24-bit, uncompressed BMP file.

    make_about_picture.py OUT.bmp

Two colours only, olive (128, 128, 0) on white: a square frame around a small microphone on its
stand. Rows and columns count from 0 at the top left. The file is rewritten only when its bytes
change, so that the resources are not rebuilt for nothing.
"""
import sys

from make_bitmaps import bmp, write_if_changed

SIZE = 32
WHITE = (255, 255, 255)
OLIVE = (128, 128, 0)


def picture():
    img = [[WHITE] * SIZE for _ in range(SIZE)]

    def put(r, c):
        img[r][c] = OLIVE

    # The frame: two pixels wide, one pixel in from the edge (rows and columns 1-30).
    for i in range(1, 31):
        for t in (1, 2, 29, 30):
            put(t, i)
            put(i, t)
    # The microphone's head: a capsule 6 columns (13-18) by 11 rows (6-16), rounded at both ends.
    for r in range(6, 17):
        for c in range(13, 19):
            if (r in (6, 16)) and c in (13, 18):
                continue
            put(r, c)
    # Its grille: three white slits across the head.
    for r in (9, 11, 13):
        for c in range(14, 18):
            img[r][c] = WHITE
    # The cradle: a U around the lower half of the head, open at the top (columns 10 and 21).
    for r in range(11, 18):
        put(r, 10)
        put(r, 21)
    for c in range(11, 21):
        put(19, c)
    put(18, 11)
    put(18, 20)
    # The stand and its foot.
    for r in range(20, 25):
        put(r, 15)
        put(r, 16)
    for c in range(11, 21):
        put(25, c)
        put(26, c)
    return img


def main():
    write_if_changed(sys.argv[1], bmp(picture()))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus: one tiny packed DIB (corpus/dib) and the same as a BMP file
(corpus/bmp) for every kind of bitmap Velmora reads. Run it again after changing a seed."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def rows(bits_per_pixel, width, pixel_rows):
    """Packs rows (bottom row first) of pixel values, each row padded to 4 bytes."""
    out = b""
    for row in pixel_rows:
        if bits_per_pixel < 8:
            per_byte = 8 // bits_per_pixel
            packed = bytearray((width + per_byte - 1) // per_byte)
            for x, v in enumerate(row):
                packed[x // per_byte] |= v << (8 - bits_per_pixel * (x % per_byte + 1))
            r = bytes(packed)
        elif bits_per_pixel == 8:
            r = bytes(row)
        elif bits_per_pixel == 16:
            r = b"".join(struct.pack("<H", v) for v in row)
        elif bits_per_pixel == 24:
            r = b"".join(struct.pack("<I", v)[:3] for v in row)
        else:
            r = b"".join(struct.pack("<I", v) for v in row)
        out += r + b"\0" * (-len(r) % 4)
    return out


def dib(width, height, bits, compression=0, palette=(), masks=(), header=40, pixels=b"",
        clr_used=None):
    if header == 12:
        head = struct.pack("<IHHHH", 12, width, height, 1, bits)
        pal = b"".join(struct.pack("<I", c)[:3] for c in palette)
        return head + pal + pixels
    head = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression,
                       len(pixels) if compression in (1, 2) else 0, 2835, 2835,
                       len(palette) if clr_used is None else clr_used, 0)
    if header > 40:
        head += b"".join(struct.pack("<I", m) for m in masks)
        head = head[:header].ljust(header, b"\0")
    elif masks:
        head += b"".join(struct.pack("<I", m) for m in masks)
    pal = b"".join(struct.pack("<I", c) for c in palette)
    return head + pal + pixels


def bmp(packed):
    size = struct.unpack_from("<I", packed)[0]
    header, offset = size, 14 + size
    if size == 12:
        bits = struct.unpack_from("<H", packed, 10)[0]
        offset += 3 * (1 << bits if bits <= 8 else 0)
    else:
        bits, comp = struct.unpack_from("<HI", packed, 14)
        used = struct.unpack_from("<I", packed, 32)[0]
        colours = used or (1 << bits if bits <= 8 else 0)
        offset += 4 * colours + (12 if header == 40 and comp == 3 else 16 if comp == 6 else 0)
    return struct.pack("<2sIHHI", b"BM", 14 + len(packed), 0, 0, offset) + packed


FOUR = (0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF)
GREY = tuple(i * 0x010101 for i in range(256))

SEEDS = {
    "1bit": dib(5, 2, 1, palette=(0, 0xFFFFFF), pixels=rows(1, 5, [[1, 0, 1, 0, 1], [0, 1, 1, 0, 0]])),
    "4bit": dib(5, 2, 4, palette=FOUR, pixels=rows(4, 5, [[0, 1, 2, 3, 0], [3, 2, 1, 0, 3]])),
    "8bit-grey": dib(3, 2, 8, palette=GREY, pixels=rows(8, 3, [[0, 128, 255], [255, 128, 0]])),
    "8bit-topdown-v5": dib(2, -2, 8, palette=FOUR, header=124, pixels=rows(8, 2, [[0, 1], [2, 3]])),
    "16bit-555": dib(2, 2, 16, pixels=rows(16, 2, [[0x7FFF, 0x7C00], [0x03E0, 0x001F]])),
    "16bit-565": dib(2, 1, 16, 3, masks=(0xF800, 0x07E0, 0x001F), pixels=rows(16, 2, [[0xFFFF, 0x0400]])),
    "24bit": dib(3, 2, 24, pixels=rows(24, 3, [[0xFF0000, 0x00FF00, 0x0000FF], [0, 0x808080, 0xFFFFFF]])),
    "24bit-topdown-v4": dib(2, -1, 24, header=108, pixels=rows(24, 2, [[0x123456, 0xABCDEF]])),
    "32bit": dib(2, 1, 32, pixels=rows(32, 2, [[0x00FF0000, 0x000000FF]])),
    "32bit-alpha-v5": dib(2, 1, 32, 3, header=124, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000),
                          pixels=rows(32, 2, [[0x80FF0000, 0xFF00FF00]])),
    "32bit-alphabitfields": dib(1, 1, 32, 6, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000),
                                pixels=rows(32, 1, [[0x40102030]])),
    "16bit-4444-56": dib(2, 1, 16, 3, header=56, masks=(0x0F00, 0x00F0, 0x000F, 0xF000),
                         pixels=rows(16, 2, [[0xFF00, 0x800F]])),
    "rle8": dib(4, 3, 8, 1, palette=FOUR,
                pixels=bytes([3, 1, 0, 0, 0, 3, 2, 3, 1, 0, 1, 2, 0, 0, 0, 2, 2, 0, 2, 3, 0, 1])),
    "rle4": dib(5, 2, 4, 2, palette=FOUR, pixels=bytes([5, 0x12, 0, 0, 0, 3, 0x30, 0x20, 2, 0x11, 0, 1])),
    "core-8bit": dib(3, 1, 8, header=12, palette=GREY, pixels=rows(8, 3, [[7, 255, 0]])),
    "core-24bit": dib(2, 1, 24, header=12, pixels=rows(24, 2, [[0x0000FF, 0xFFFFFF]])),
}

for kind, folder, make in (("dib", "dib", lambda d: d), ("bmp", "bmp", bmp)):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, packed in SEEDS.items():
        data = make(packed)
        assert len(data) < 2048, name
        with open(os.path.join(path, name + "." + kind), "wb") as f:
            f.write(data)

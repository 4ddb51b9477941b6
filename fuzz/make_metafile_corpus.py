#!/usr/bin/env python3
"""Writes the seed corpora of the metafile harnesses (fuzz/corpus/wmf, fuzz/corpus/emf): small
files, each well under 4 KB, that between them use every record kind the player draws, so that
mutations start from records the player reads. Run it again after changing a seed."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def dib24(w, h):
    rows = b""
    stride = (w * 3 + 3) // 4 * 4
    for y in range(h):
        row = b"".join(bytes((x * 60 % 256, y * 60 % 256, 200)) for x in range(w))
        rows += row + b"\0" * (stride - len(row))
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0), rows


def dib8(w, h):
    palette = b"".join(bytes((i, 255 - i, i // 2, 0)) for i in range(0, 256, 16))
    stride = (w + 3) // 4 * 4
    rows = b"".join(bytes((x + y) % 16 for x in range(w)) + b"\0" * (stride - w)
                    for y in range(h))
    return struct.pack("<IiiHHIIiiII", 40, w, -h, 1, 8, 0, 0, 0, 0, 16, 0) + palette, rows


def dib32(w, h):
    rows = b"".join(bytes((x * 40, y * 40, 128, (x + y) * 30)) for y in range(h) for x in range(w))
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 32, 0, 0, 0, 0, 0, 0), rows


# ---- EMF ---------------------------------------------------------------------------------


def emr(kind, payload=b""):
    return struct.pack("<II", kind, 8 + len(payload)) + payload


def ints(*values):
    return struct.pack("<%di" % len(values), *values)


def emf(records, frame=(0, 0, 2540, 1905)):
    body = b"".join(records) + emr(14, ints(0, 16, 20))
    header = struct.pack("<II4i4iIIIIHHIIIiiiiIIIii", 1, 108, 0, 0, 96, 72, *frame, 0x464D4520,
                         0x10000, 108 + len(body), len(records) + 2, 8, 0, 0, 0, 0, 960, 960,
                         254, 254, 0, 0, 0, 254000, 254000)
    assert len(header) == 108
    return header + body


def logfont(height, face, escapement=0, weight=400, charset=0):
    name = face.encode("utf-16-le").ljust(64, b"\0")
    return struct.pack("<5i8B", height, 0, escapement, 0, weight, 0, 0, 0, charset, 0, 0, 0, 0) \
        + name


def text_w(x, y, text, dx=None, options=0):
    chars = text.encode("utf-16-le")
    n = len(text)
    off_string = 76
    off_dx = off_string + (len(chars) + 3) // 4 * 4
    rec = ints(0, 0, 0, 0, 1) + struct.pack("<ff", 1, 1) + ints(x, y, n, off_string, options,
                                                                 0, 0, 100, 20, off_dx)
    rec += chars.ljust(off_dx - off_string, b"\0")
    rec += ints(*(dx or [12] * n))
    return emr(84, rec)


def stretchdibits(x, y, w, h, bmi, bits, rop=0x00CC0020):
    off_bmi = 80
    off_bits = off_bmi + len(bmi)
    rec = ints(0, 0, 0, 0, x, y, 0, 0, 4, 4) + struct.pack(
        "<IIIIIIii", off_bmi, len(bmi), off_bits, len(bits), 0, rop, w, h)
    return emr(81, rec + bmi + bits)


def alphablend(x, y, w, h, bmi, bits):
    off_bmi = 108
    off_bits = off_bmi + len(bmi)
    rec = ints(0, 0, 0, 0, x, y, w, h) + bytes((0, 0, 200, 1)) + ints(0, 0)
    rec += struct.pack("<6f", 1, 0, 0, 1, 0, 0) + struct.pack("<IIIIII", 0, 0, off_bmi, len(bmi),
                                                              off_bits, len(bits))
    rec += ints(4, 4)
    return emr(114, rec + bmi + bits)


def pen(index, style, width, colour):
    return emr(38, ints(index, style, width, 0) + struct.pack("<I", colour))


def brush(index, style, colour, hatch=0):
    return emr(39, struct.pack("<IIII", index, style, colour, hatch))


def select(index):
    return emr(37, struct.pack("<I", index))


def emf_seeds():
    shapes = [
        pen(1, 0, 2, 0x0000FF), select(1), brush(2, 0, 0x00FF00), select(2),
        emr(43, ints(5, 5, 40, 30)),                                  # rectangle
        emr(42, ints(45, 5, 90, 30)),                                 # ellipse
        emr(44, ints(5, 35, 40, 60, 10, 10)),                         # round rectangle
        emr(45, ints(45, 35, 90, 60, 90, 40, 45, 50)),                # arc
        emr(46, ints(5, 40, 30, 70, 30, 45, 5, 60)),                  # chord
        emr(47, ints(50, 40, 80, 70, 80, 45, 50, 60)),                # pie
        emr(86, ints(0, 0, 0, 0, 3) + struct.pack("<6h", 10, 10, 30, 10, 20, 30)),  # polygon16
        emr(91, ints(0, 0, 0, 0, 2, 8, 4, 4) + struct.pack(
            "<16h", 0, 0, 60, 0, 60, 60, 0, 60, 20, 20, 40, 20, 40, 40, 20, 40)),   # polypolygon16
        emr(85, ints(0, 0, 0, 0, 4) + struct.pack("<8h", 0, 0, 30, 60, 60, -20, 90, 40)),
        emr(27, ints(5, 5)), emr(54, ints(90, 70)),                   # move, line
        emr(40, struct.pack("<I", 1)), select(0x80000007),            # delete, stock pen
    ]
    paths = [
        emr(19, struct.pack("<I", 2)),                                # winding
        emr(59), emr(27, ints(10, 10)), emr(54, ints(80, 10)), emr(54, ints(45, 60)), emr(61),
        emr(60), emr(63, ints(0, 0, 96, 72)),                         # stroke and fill
        emr(59), emr(42, ints(20, 20, 70, 60)), emr(60), emr(67, struct.pack("<I", 1)),
        emr(43, ints(0, 0, 96, 72)),                                  # clipped by the path
        emr(56, ints(0, 0, 0, 0, 4, 10, 10, 30, 50, 60, 0, 90, 40) + bytes((6, 4, 4, 4))),
    ]
    mapping = [
        emr(17, struct.pack("<I", 8)), emr(9, ints(100, 100)), emr(11, ints(96, -72)),
        emr(12, ints(0, 72)), emr(33), emr(36, struct.pack("<6f", 0.9, 0.3, -0.3, 0.9, 10, 0) +
                                            struct.pack("<I", 2)),
        brush(1, 2, 0xFF0000, 4), select(1), emr(43, ints(10, 10, 60, 60)),
        emr(34, ints(-1)), emr(30, ints(0, 0, 50, 50)), emr(29, ints(10, 10, 20, 20)),
        emr(43, ints(0, 0, 90, 90)), emr(17, struct.pack("<I", 3)), emr(43, ints(0, 0, 500, -500)),
        emr(75, struct.pack("<II", 48, 2) + struct.pack("<IIII", 32, 1, 1, 16) +
            ints(0, 0, 50, 50) + ints(5, 5, 40, 40)),
    ]
    text = [
        emr(82, struct.pack("<I", 1) + logfont(-14, "Liberation Sans")), select(1),
        emr(24, struct.pack("<I", 0xFF0000)), emr(25, struct.pack("<I", 0xCCFFFF)),
        emr(22, struct.pack("<I", 24)), text_w(5, 20, "Grüße", options=2),
        emr(82, struct.pack("<I", 2) + logfont(20, "Liberation Serif", 450, 700)), select(2),
        emr(18, struct.pack("<I", 1)), text_w(10, 60, "Ab", [30, 30]),
        emr(83, ints(0, 0, 0, 0, 1) + struct.pack("<ff", 1, 1) +
            ints(5, 40, 3, 76, 0, 0, 0, 0, 0, 0) + b"ABC\0"),
    ]
    bmi, bits = dib24(4, 4)
    bmi8, bits8 = dib8(4, 4)
    bmi32, bits32 = dib32(4, 4)
    bitmaps = [
        stretchdibits(0, 0, 40, 40, bmi, bits),
        stretchdibits(90, 0, -40, 40, bmi8, bits8),
        stretchdibits(0, 70, 40, -30, bmi, bits, 0x008800C6),
        alphablend(40, 30, 30, 30, bmi32, bits32),
        emr(94, struct.pack("<IIIIII", 1, 0, 32, len(bmi), 32 + len(bmi), len(bits)) + bmi +
            bits), select(1), emr(43, ints(50, 40, 90, 70)),
        emr(76, ints(0, 0, 0, 0, 60, 0, 30, 30) + struct.pack("<I", 0x00F00021) + ints(0, 0) +
            struct.pack("<6f", 1, 0, 0, 1, 0, 0) + struct.pack("<IIIIII", 0, 0, 0, 0, 0, 0)),
    ]
    return {"shapes.emf": emf(shapes), "paths.emf": emf(paths), "mapping.emf": emf(mapping),
            "text.emf": emf(text), "bitmaps.emf": emf(bitmaps),
            "yup-frame.emf": emf(mapping[:6], frame=(0, -1905, 2540, 0))}


# ---- WMF ---------------------------------------------------------------------------------


def wr(function, *words, tail=b""):
    return struct.pack("<IH", 3 + len(words) + len(tail) // 2, function) + \
        b"".join(struct.pack("<H", w & 0xFFFF) for w in words) + tail


def wmf(records, box=None, inch=1440):
    body = b"".join(records) + wr(0)
    out = b""
    if box:
        out = struct.pack("<IH4hHIH", 0x9AC6CDD7, 0, *box, inch, 0, 0)
    out += struct.pack("<HHHIHIH", 2, 9, 0x300, (18 + len(body)) // 2, 8, 64, 0)
    return out + body


def colour(c):
    return c & 0xFFFF, c >> 16


def wmf_seeds():
    common = [
        wr(0x20B, 0, 0), wr(0x20C, 1000, 1400),                       # window org, ext
        wr(0x2FA, 0, 20, 0, *colour(0x0000FF)), wr(0x12D, 0),         # pen
        wr(0x2FC, 0, *colour(0x00FF00), 0), wr(0x12D, 1),             # brush
        wr(0x41B, 400, 600, 100, 100),                                # rectangle
        wr(0x418, 400, 1300, 100, 700),                               # ellipse
        wr(0x61C, 80, 80, 900, 600, 500, 100),                        # round rectangle
        wr(0x817, 700, 1300, 700, 700, 900, 1300, 500, 700),          # arc
        wr(0x81A, 700, 1300, 700, 700, 900, 1300, 500, 700),          # pie
        wr(0x324, 3, 100, 950, 400, 950, 250, 1000),                  # polygon
        wr(0x325, 3, 100, 980, 400, 980, 250, 990),                   # polyline
        wr(0x538, 2, 4, 4, 0, 0, 600, 0, 600, 600, 0, 600, 100, 100, 300, 100, 300, 300, 100, 300),
        wr(0x214, 10, 10), wr(0x213, 990, 1390),                      # move, line
        wr(0x1F0, 0),                                                 # delete pen
    ]
    face = b"Liberation Sans".ljust(32, b"\0")
    text = [
        wr(0x2FB, -120, 0, 0, 0, 400, tail=bytes((0, 0, 0, 0, 0, 0, 0, 0)) + face),
        wr(0x12D, 2), wr(0x209, *colour(0xFF0000)), wr(0x12E, 24),
        wr(0x521, 4, tail=b"Text" + struct.pack("<hh", 300, 100)),
        wr(0xA32, 500, 100, 5, 2, 100, 450, 600, 520, tail=b"Gr\xfc\xdfe\0" +
           struct.pack("<5h", 80, 80, 80, 80, 80)),
    ]
    bmi, bits = dib24(4, 4)
    bitmaps = [
        wr(0xF43, 0x20, 0xCC, 0, 4, 4, 0, 0, 300, 300, 1000, 100, tail=bmi + bits),
        wr(0xB41, 0x20, 0xCC, 4, 4, 0, 0, 300, -300, 1000, 700, tail=bmi + bits),
        wr(0x142, 5, 0, tail=bmi + bits), wr(0x12D, 3), wr(0x41B, 1400, 1000, 1100, 100),
        wr(0x61D, 0x21, 0xF0, 100, 100, 1200, 800),                   # pattern blit
    ]
    state = [
        wr(0x1E), wr(0x416, 700, 500, 0, 0), wr(0x220, 50, 50), wr(0x41B, 1400, 1000, 0, 0),
        wr(0x127, -1), wr(0x415, 300, 300, 100, 100), wr(0x104, 7), wr(0x106, 2),
        wr(0x103, 8), wr(0x20F, 10, 10), wr(0x410, 2, 1, 2, 1), wr(0x102, 1),
        wr(0x201, *colour(0x00FFFF)), wr(0x41F, *colour(0xFF00FF), 500, 500),
        wr(0xF7, 0x300, 2, tail=bytes((255, 0, 0, 0, 0, 0, 255, 0))), wr(0x234, 4),
        wr(0x37, 0, 1, tail=bytes((0, 255, 0, 0))), wr(0x35),
        wr(0x6FF, 0, 6, 0, 0, 34, 1, 2, 0, 0, 500, 500, 2, 0, 500, 0, 500, 2),   # region 3
        wr(0x228, 3, 1), wr(0x12B, 3), wr(0x12C, 3),                  # fill, paint, clip
    ]
    return {"placeable.wmf": wmf(common, (0, 0, 1000, 1400), 1440),
            "headerless.wmf": wmf(common[2:]),
            "text.wmf": wmf(common[:2] + text, (0, 0, 1000, 1400), 1440),
            "bitmaps.wmf": wmf(common[:6] + bitmaps, (0, 0, 1000, 1400), 1440),
            "state.wmf": wmf(common[:6] + state + common[6:8], (0, 0, 1000, 1400), 576)}


def main():
    for kind, seeds in (("emf", emf_seeds()), ("wmf", wmf_seeds())):
        # The folders also hold the outside encoder's small samples and inputs the fuzzers once
        # found (found-*): only this script's own seeds are rewritten.
        folder = os.path.join(HERE, "corpus", kind)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            assert len(data) < 4096, name
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()

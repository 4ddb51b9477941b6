#!/bin/sh
# Writes the seed corpora of the JPEG, icon, PNG, GIF and TIFF harnesses (fuzz/corpus/<kind>):
# small files of every kind the loaders meet, each well under 4 KB so that libFuzzer's input
# size limit leaves room to grow. Needs ImageMagick and libjpeg-turbo's tools. Run it again
# after changing a seed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
jpeg=$here/corpus/jpeg
ico=$here/corpus/ico
png=$here/corpus/png
gif=$here/corpus/gif
tiff=$here/corpus/tiff
rm -rf "$jpeg" "$ico" "$png" "$gif" "$tiff"
mkdir -p "$jpeg" "$ico" "$png" "$gif" "$tiff"

convert -size 37x21 gradient:'#2040c0-#f0d060' -fill '#c02020' -draw 'rectangle 5,5 15,15' \
    -depth 8 "$tmp/src.ppm"
cjpeg -quality 75 "$tmp/src.ppm" >"$jpeg/baseline.jpg"
cjpeg -progressive "$tmp/src.ppm" >"$jpeg/progressive.jpg"
cjpeg -grayscale "$tmp/src.ppm" >"$jpeg/grey.jpg"
cjpeg -grayscale -progressive "$tmp/src.ppm" >"$jpeg/grey-progressive.jpg"
cjpeg -sample 1x1 "$tmp/src.ppm" >"$jpeg/444.jpg"
cjpeg -sample 2x1 -restart 1B "$tmp/src.ppm" >"$jpeg/422-restart.jpg"
cjpeg -arithmetic "$tmp/src.ppm" >"$jpeg/arithmetic.jpg"
cjpeg -arithmetic -progressive "$tmp/src.ppm" >"$jpeg/arithmetic-progressive.jpg"
cjpeg -optimize "$tmp/src.ppm" >"$jpeg/optimised.jpg"
convert "$tmp/src.ppm" -colorspace CMYK -quality 80 "$jpeg/ycck.jpg"
# An EXIF segment (orientation 6) after the start marker.
python3 - "$jpeg/baseline.jpg" "$jpeg/exif.jpg" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
tiff = b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", 1) + \
    struct.pack("<HHII", 0x0112, 3, 1, 6) + struct.pack("<I", 0)
body = b"Exif\0\0" + tiff
open(sys.argv[2], "wb").write(data[:2] + b"\xff\xe1" + struct.pack(">H", len(body) + 2) + body + data[2:])
PY

convert -size 24x24 gradient:red-blue \( -size 24x24 radial-gradient:white-black \) \
    -alpha off -compose CopyOpacity -composite "$tmp/alpha.png"
convert "$tmp/alpha.png" -resize 16x16 \( +clone -resize 8x8 \) "$ico/32bit-two-sizes.ico"
convert "$tmp/alpha.png" -resize 8x8 "$ico/32bit.ico"
# Bitmap entries of every depth Qt reads, written by hand: ImageMagick picks depths itself.
python3 - "$ico" <<'PY'
import struct, sys
def entry(bits, w, h):
    colours = 1 << bits if bits <= 8 else 0
    table = b"".join(struct.pack("<BBBB", (i * 37) % 256, (i * 91) % 256, (i * 53) % 256, 0)
                     for i in range(colours))
    row = (w * bits + 31) // 32 * 4
    pixels = bytes((x * 29 + y * 7) % 256 for y in range(h) for x in range(row))
    mask = bytes((0xF0 if y % 3 == 0 else 0) for y in range(h) for x in range((w + 31) // 32 * 4))
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bits, 0, 0, 0, 0, 0, 0)
    return header + table + pixels + mask
def icon(entries):
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    data = b""
    for bits, w, h in entries:
        e = entry(bits, w, h)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, bits, len(e), offset + len(data))
        data += e
    return out + data
for bits in (1, 4, 8, 24):
    open("%s/%dbit.ico" % (sys.argv[1], bits), "wb").write(icon([(bits, 16, 16)]))
open("%s/mixed.ico" % sys.argv[1], "wb").write(icon([(1, 8, 8), (4, 8, 8), (8, 12, 12), (24, 12, 12)]))
PY
# A PNG-compressed entry: ImageMagick writes 256 × 256 entries as PNG; a tiny one by hand.
python3 - "$ico/png-entry.ico" "$tmp/alpha.png" <<'PY'
import struct, sys
png = open(sys.argv[2], "rb").read()
entry = struct.pack("<BBBBHHII", 24, 24, 0, 0, 1, 32, len(png), 6 + 16)
open(sys.argv[1], "wb").write(struct.pack("<HHH", 0, 1, 1) + entry + png)
PY

# PNG: every colour type and depth, interlaced, with and without a resolution.
convert "$tmp/src.ppm" -density 300 -units PixelsPerInch "$png/rgb.png"
convert "$tmp/src.ppm" -strip "$png/rgb-no-resolution.png"
convert "$tmp/src.ppm" -interlace PNG "$png/interlaced.png"
convert "$tmp/src.ppm" -colorspace Gray "$png/grey.png"
convert "$tmp/src.ppm" -depth 16 "$png/rgb16.png"
convert "$tmp/src.ppm" -colors 16 PNG8:"$png/palette.png"
convert "$tmp/src.ppm" -monochrome "$png/mono.png"
cp "$tmp/alpha.png" "$png/alpha.png"
# GIF: still, transparent, animated.
convert "$tmp/src.ppm" "$gif/still.gif"
convert "$tmp/alpha.png" -resize 12x12 "$gif/transparent.gif"
convert -delay 10 "$tmp/src.ppm" \( "$tmp/src.ppm" -negate \) "$gif/animated.gif"
# TIFF: what scanners and fax programs write, and a multi-page batch of mixed pages.
convert "$tmp/src.ppm" -compress LZW -density 300 -units PixelsPerInch "$tiff/rgb-lzw.tif"
convert "$tmp/src.ppm" -compress None -colorspace Gray "$tiff/grey.tif"
convert "$tmp/src.ppm" -compress RLE -colors 16 "$tiff/palette-packbits.tif"
convert "$tmp/src.ppm" -compress Zip -depth 16 "$tiff/rgb16-deflate.tif"
convert "$tmp/src.ppm" -compress JPEG "$tiff/jpeg.tif"
convert "$tmp/alpha.png" "$tiff/alpha.tif"
convert "$tmp/src.ppm" -monochrome -compress Group4 -density 204x98 -units PixelsPerInch \
    "$tiff/fax-g4.tif"
convert "$tmp/src.ppm" -monochrome -compress Fax -density 204x196 -units PixelsPerInch \
    "$tiff/fax-g3.tif"
convert "$tiff/rgb-lzw.tif" "$tiff/fax-g4.tif" "$tiff/grey.tif" "$tiff/multi-page.tif"
ls -l "$jpeg" "$ico" "$png" "$gif" "$tiff"

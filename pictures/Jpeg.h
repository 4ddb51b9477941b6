#pragma once
// JPEG decoding and encoding through libjpeg. This header carries only Qt types; libjpeg itself
// stays inside Jpeg.cpp, which is also the one place where libjpeg's failures become EJPEG
// ("JPEG-Fehler #n", n being libjpeg's own message code).

#include "layout/Dib.h"

#include <QByteArray>
#include <QImage>

// Quality of every JPEG file Velmora writes.
constexpr int JpegSaveQuality = 90;

// Decodes a complete JPEG file held in memory: baseline, extended and progressive, Huffman or
// arithmetic coded, with or without restart markers and application markers (JFIF, EXIF, Adobe).
//   - YCbCr and RGB files become Format_RGB888;
//   - greyscale files become Format_Indexed8 with a 256-step grey palette;
//   - CMYK and YCCK files become Format_RGB888; their ink values count as inverted when the file
//     carries an Adobe marker, as every Adobe application writes them.
// The orientation and resolution recorded in a file are not applied: the picture is shown and
// printed as its pixels are stored.
//
// A file that ends early decodes what is there; libjpeg paints the missing rest grey, as every
// viewer shows a partly downloaded photo. Damaged data that libjpeg cannot get past raises EJPEG
// with libjpeg's message code, and so do pictures beyond `maxPixels` (width × height, the code
// of "image too big") and files far too short for the size they declare (the code of "premature
// end of input"), so that a few hostile bytes cannot make Velmora allocate gigabytes. Every
// other error leaves nothing allocated behind.
QImage DecodeJpeg(const QByteArray& file, long long maxPixels = MaxPicturePixels);
// The same, telling in `endedEarly` whether the file ended before its picture did, so that the
// user can be told why part of it is grey.
QImage DecodeJpeg(const QByteArray& file, bool& endedEarly, long long maxPixels = MaxPicturePixels);

// Encodes `image` as a baseline JPEG file: quality `quality`, YCbCr with 2×2 subsampled colour
// (also for greyscale and 1-bit pictures), not progressive, standard Huffman tables, JFIF header.
// Transparent parts are put on white. Any QImage format is accepted; RGB888, RGB32 and BGR888 rows
// go to libjpeg as they are, 1-bit, 8-bit and ARGB32 rows are expanded one row at a time, other
// formats are converted whole first. An empty image raises EJPEG.
QByteArray EncodeJpeg(const QImage& image, int quality = JpegSaveQuality);

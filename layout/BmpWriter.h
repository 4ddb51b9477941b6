#pragma once
// Writing BMP files, the counterpart of the DIB reader (Dib.h): 1-bit and 8-bit pictures keep
// their palette (greyscale ones get a grey palette), pictures with transparency become 32-bit
// with an alpha mask in a V4 header, everything else 24-bit. Rows are written bottom-up; the
// resolution is the image's own.

#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <functional>

// Receives the file piece by piece: the headers and palette first, then one row at a time.
using TBmpSink = std::function<void(const void* data, std::size_t size)>;

// Streams the BMP file of `image` through `put`, so a large picture is never held twice. Raises
// EInvalidGraphic "Bitmap ist ungültig" for a null image or one whose file would exceed 4 GB, and
// EOutOfMemory when the picture has to be converted and no memory is left for that.
void WriteBmp(const QImage& image, const TBmpSink& put);

// A complete BMP file of `image`, as WriteBmp writes it.
QByteArray EncodeBmpFile(const QImage& image);

#pragma once
// Device-independent bitmaps and BMP files: validation against the bytes really there, then
// decoding. Packed DIBs come from scanners and the clipboard and BMP files from anywhere, so
// every header field is untrusted; any inconsistency raises EInvalidGraphic "Bitmap ist ungültig".

#include <QByteArray>
#include <QImage>
#include <cstddef>

// Largest picture Velmora accepts, in pixels (width × height). A 1200-dpi A3 scan is about
// 278 million pixels; anything beyond this is treated as damaged rather than allocated.
constexpr long long MaxPicturePixels = 300LL * 1000 * 1000;

// Builds a BMP file (14-byte file header followed by the DIB) from a packed DIB of `size` bytes
// at `dib`. For uncompressed DIBs the image size field is recomputed and written back into the
// header in the block, as the copier always did.
QByteArray PackedDibToBmpFile(unsigned char* dib, std::size_t size);

// Decodes a packed DIB of `size` bytes at `dib` as PackedDibToBmpFile and DecodeBmpFile would
// together (the image size is written back alike), without building the file.
QImage DecodePackedDib(unsigned char* dib, std::size_t size);

// Decodes a complete BMP file after checking every header field against the file's length.
QImage DecodeBmpFile(const QByteArray& bmpFile);

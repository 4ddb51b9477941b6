#include "layout/Dib.h"

#include "platform/Errors.h"

#include <QVector>
#include <algorithm>
#include <cstdint>
#include <cstring>

// Velmora decodes bitmaps itself instead of handing them to Qt's BMP reader. Qt 6.4 refuses
// pictures above 16384 × 16384 pixels (a 1200-dpi A3 scan is larger), scales 5- and 6-bit
// channels by shifting (16-bit white becomes 248/252/248), reads channels wider than 8 bits as
// black, rejects 52- and 56-byte headers, core headers and alpha bit fields, and leaves pixels
// skipped by RLE deltas uninitialised. Decoding 24-bit rows straight to RGB888 also avoids a
// four-byte-per-pixel intermediate copy of a full-page scan.
//
// Accepted: information headers of 12 (core), 40, 52, 56, 64 (OS/2, first 40 bytes only),
// 108 (V4) and 124 (V5) bytes; 1/4/8-bit with a colour table, RLE8 and RLE4 (bottom-up only, as
// for every writer), 16/32-bit plain or with bit-field masks (3 masks, or 4 with alpha), 24-bit;
// bottom-up and top-down rows. JPEG/PNG-compressed DIBs, OS/2 Huffman and RLE24 are refused.
// Colour profiles of V5 headers are ignored.

namespace {

// Longest side accepted, in pixels: 1.38 m at 1200 dpi, beyond any sheet fed through a scanner.
constexpr std::int64_t MaxPictureSide = 65535;
// Colour tables of 16/24/32-bit DIBs only hint at a display palette; nobody writes more.
constexpr std::uint32_t MaxHintColours = 256;

constexpr std::size_t FileHeaderSize = 14;

enum Compression : std::uint32_t {
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiAlphaBitfields = 6,
};

[[noreturn]] void Invalid() {
    throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));
}

std::uint16_t Rd16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Rd32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void Wr32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// Everything the information header says about where the parts of a DIB are and how its
// pixels are coded, checked for consistency but not yet against the bytes that follow.
struct DibLayout {
    std::uint32_t headerSize = 0;
    int width = 0;
    int height = 0; // rows, always positive
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = BiRgb;
    std::uint32_t declaredImageSize = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t paletteEntries = 0;
    std::size_t paletteEntrySize = 4;
    std::size_t maskBytesAfterHeader = 0;  // bit-field masks that follow a 40-byte header
    std::uint32_t masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha

    bool IsRle() const { return compression == BiRle8 || compression == BiRle4; }
    // Offset of the colour table, counted from the start of the information header.
    std::size_t PaletteOffset() const { return headerSize + maskBytesAfterHeader; }
    std::size_t PaletteBytes() const { return paletteEntries * paletteEntrySize; }
    std::size_t RowBytes() const {
        return static_cast<std::size_t>((static_cast<std::int64_t>(width) * bitCount + 31) / 32 *
                                        4);
    }
    std::size_t UncompressedSize() const { return RowBytes() * static_cast<std::size_t>(height); }
};

bool IsContiguous(std::uint32_t mask) {
    if (mask == 0)
        return true;
    while ((mask & 1) == 0)
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

void CheckMasks(const DibLayout& l) {
    const std::uint32_t limit = l.bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    std::uint32_t seen = 0;
    for (std::uint32_t m : l.masks) {
        if (!IsContiguous(m) || (m & ~limit) != 0 || (m & seen) != 0)
            Invalid();
        seen |= m;
    }
    if ((l.masks[0] | l.masks[1] | l.masks[2]) == 0)
        Invalid();
}

// Parses the information header at `p`, of which `avail` bytes exist. Reads nothing beyond
// the header and the masks that may follow it.
DibLayout ParseInfoHeader(const unsigned char* p, std::size_t avail) {
    if (avail < 4)
        Invalid();
    DibLayout l;
    l.headerSize = Rd32(p);
    std::int64_t width = 0;
    std::int64_t height = 0;
    int planes = 0;
    switch (l.headerSize) {
    case 12:
        if (avail < 12)
            Invalid();
        // Core headers have unsigned 16-bit sides, three-byte colour entries, no compression.
        width = Rd16(p + 4);
        height = Rd16(p + 6);
        planes = Rd16(p + 8);
        l.bitCount = Rd16(p + 10);
        l.paletteEntrySize = 3;
        if (l.bitCount == 16 || l.bitCount == 32)
            Invalid();
        break;
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
        if (avail < l.headerSize)
            Invalid();
        width = static_cast<std::int32_t>(Rd32(p + 4));
        height = static_cast<std::int32_t>(Rd32(p + 8));
        planes = Rd16(p + 12);
        l.bitCount = Rd16(p + 14);
        l.compression = Rd32(p + 16);
        l.declaredImageSize = Rd32(p + 20);
        l.xPelsPerMeter = static_cast<std::int32_t>(Rd32(p + 24));
        l.yPelsPerMeter = static_cast<std::int32_t>(Rd32(p + 28));
        l.paletteEntries = Rd32(p + 32);
        break;
    default:
        Invalid();
    }

    if (planes != 1)
        Invalid();
    switch (l.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        Invalid();
    }

    l.topDown = height < 0;
    if (l.topDown)
        height = -height; // 64-bit: a height of INT_MIN cannot overflow here
    if (width <= 0 || height <= 0 || width > MaxPictureSide || height > MaxPictureSide ||
        width * height > MaxPicturePixels)
        Invalid();
    l.width = static_cast<int>(width);
    l.height = static_cast<int>(height);

    const bool bitfields = l.compression == BiBitfields || l.compression == BiAlphaBitfields;
    switch (l.compression) {
    case BiRgb:
        break;
    case BiRle8:
    case BiRle4:
        if (l.bitCount != (l.compression == BiRle8 ? 8 : 4) || l.topDown)
            Invalid();
        break;
    case BiBitfields:
    case BiAlphaBitfields:
        // For the OS/2 header, 3 means Huffman coding; Velmora reads no such bitmaps.
        if ((l.bitCount != 16 && l.bitCount != 32) || l.headerSize == 64)
            Invalid();
        break;
    default:
        Invalid();
    }

    if (bitfields) {
        const std::size_t maskCount = l.compression == BiAlphaBitfields ? 4 : 3;
        std::size_t readable = 0;
        if (l.headerSize == 40) {
            l.maskBytesAfterHeader = 4 * maskCount;
            if (avail < 40 + l.maskBytesAfterHeader)
                Invalid();
            readable = maskCount;
        } else {
            // Larger headers hold the masks themselves: 52 bytes the colour masks, 56 and more
            // the alpha mask too, which then counts with plain bit fields as well.
            readable = std::min<std::size_t>(4, (l.headerSize - 40) / 4);
            if (readable < maskCount)
                Invalid();
        }
        for (std::size_t i = 0; i < readable; ++i)
            l.masks[i] = Rd32(p + 40 + 4 * i);
        CheckMasks(l);
    } else if (l.bitCount == 16) {
        l.masks[0] = 0x7C00;
        l.masks[1] = 0x03E0;
        l.masks[2] = 0x001F;
    } else if (l.bitCount == 32) {
        l.masks[0] = 0x00FF0000;
        l.masks[1] = 0x0000FF00;
        l.masks[2] = 0x000000FF;
    }

    if (l.bitCount <= 8) {
        const std::uint32_t maxColours = 1u << l.bitCount;
        if (l.paletteEntries == 0)
            l.paletteEntries = maxColours;
        else if (l.paletteEntries > maxColours)
            Invalid();
    } else if (l.paletteEntries > MaxHintColours) {
        Invalid();
    }
    return l;
}

// Number of bytes of pixel data: computed for uncompressed bitmaps, declared for RLE. An RLE
// bitmap that declares 0 takes whatever follows the colour table.
std::size_t PixelBytes(const DibLayout& l, std::size_t availAfterOffset) {
    if (!l.IsRle())
        return l.UncompressedSize();
    return l.declaredImageSize != 0 ? l.declaredImageSize : availAfterOffset;
}

QVector<QRgb> ReadPalette(const DibLayout& l, const unsigned char* p, int tableSize) {
    // Entries the table does not have read as opaque black rather than out of range.
    QVector<QRgb> colours(tableSize, qRgb(0, 0, 0));
    for (std::uint32_t i = 0; i < l.paletteEntries && static_cast<int>(i) < tableSize; ++i) {
        const unsigned char* e = p + i * l.paletteEntrySize;
        colours[static_cast<int>(i)] = qRgb(e[2], e[1], e[0]);
    }
    return colours;
}

QImage NewImage(int width, int height, QImage::Format format) {
    QImage image(width, height, format);
    if (image.isNull())
        throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
    return image;
}

// Destination row of source row `y` (rows are stored bottom-up unless the height was negative).
int DestRow(const DibLayout& l, int y) {
    return l.topDown ? y : l.height - 1 - y;
}

void DecodeIndexed(const DibLayout& l, const unsigned char* bits, QImage& image) {
    const std::size_t rowBytes = l.RowBytes();
    for (int y = 0; y < l.height; ++y) {
        const unsigned char* src = bits + static_cast<std::size_t>(y) * rowBytes;
        uchar* dst = image.scanLine(DestRow(l, y));
        switch (l.bitCount) {
        case 1: // QImage::Format_Mono has the same most-significant-bit-first order
            std::memcpy(dst, src, (static_cast<std::size_t>(l.width) + 7) / 8);
            break;
        case 4:
            for (int x = 0; x < l.width; ++x)
                dst[x] = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
            break;
        default:
            std::memcpy(dst, src, static_cast<std::size_t>(l.width));
            break;
        }
    }
}

void DecodeRgb24(const DibLayout& l, const unsigned char* bits, QImage& image) {
    const std::size_t rowBytes = l.RowBytes();
    for (int y = 0; y < l.height; ++y) {
        const unsigned char* src = bits + static_cast<std::size_t>(y) * rowBytes;
        uchar* dst = image.scanLine(DestRow(l, y));
        for (int x = 0; x < l.width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
}

// One colour channel of a bit-field pixel, scaled to 8 bits so that the channel's maximum
// becomes 255 (a 5-bit 31 is 255, not 248).
class Channel {
public:
    explicit Channel(std::uint32_t mask) : m_mask(mask) {
        if (mask == 0)
            return;
        while (((mask >> m_shift) & 1) == 0)
            ++m_shift;
        int bits = 0;
        while (bits < 32 - m_shift && ((mask >> (m_shift + bits)) & 1) != 0)
            ++bits;
        if (bits > 8) {
            m_drop = bits - 8;
            return;
        }
        const std::uint32_t max = (1u << bits) - 1;
        m_table.resize(static_cast<int>(max + 1));
        for (std::uint32_t v = 0; v <= max; ++v)
            m_table[static_cast<int>(v)] = static_cast<uchar>((v * 255 + max / 2) / max);
    }
    bool Present() const { return m_mask != 0; }
    uchar Value(std::uint32_t pixel) const {
        if (m_mask == 0)
            return 0;
        const std::uint32_t v = (pixel & m_mask) >> m_shift;
        return m_table.isEmpty() ? static_cast<uchar>(v >> m_drop) : m_table[static_cast<int>(v)];
    }

private:
    std::uint32_t m_mask;
    int m_shift = 0;
    int m_drop = 0;
    QVector<uchar> m_table;
};

// 16- and 32-bit pixels. Without an alpha mask the result is RGB888 straight away; with one it
// is ARGB32, unless every pixel turns out opaque or every alpha is 0 — writers that fill the
// alpha bytes with zeros mean an opaque picture, as every viewer treats it.
void DecodeBitfields(const DibLayout& l, const unsigned char* bits, QImage& image) {
    const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]), alpha(l.masks[3]);
    const std::size_t rowBytes = l.RowBytes();
    const int bytesPerPixel = l.bitCount / 8;
    std::uint32_t alphaOr = 0;
    std::uint32_t alphaAnd = 0xFF;
    for (int y = 0; y < l.height; ++y) {
        const unsigned char* src = bits + static_cast<std::size_t>(y) * rowBytes;
        uchar* dst = image.scanLine(DestRow(l, y));
        if (!alpha.Present()) {
            for (int x = 0; x < l.width; ++x, src += bytesPerPixel, dst += 3) {
                const std::uint32_t px = bytesPerPixel == 2 ? Rd16(src) : Rd32(src);
                dst[0] = red.Value(px);
                dst[1] = green.Value(px);
                dst[2] = blue.Value(px);
            }
            continue;
        }
        QRgb* row = reinterpret_cast<QRgb*>(dst);
        for (int x = 0; x < l.width; ++x, src += bytesPerPixel) {
            const std::uint32_t px = bytesPerPixel == 2 ? Rd16(src) : Rd32(src);
            const uchar a = alpha.Value(px);
            alphaOr |= a;
            alphaAnd &= a;
            row[x] = qRgba(red.Value(px), green.Value(px), blue.Value(px), a);
        }
    }
    if (!alpha.Present() || (alphaOr != 0 && alphaAnd != 0xFF))
        return;
    if (alphaOr == 0) {
        for (int y = 0; y < l.height; ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < l.width; ++x)
                row[x] |= 0xFF000000u;
        }
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

// RLE8 and RLE4. Runs and absolute runs past the row's end are clipped, a stream that ends
// without an end-of-bitmap code ends the picture there, and pixels the stream never reaches
// (deltas, early end of line or bitmap) keep colour index 0.
void DecodeRle(const DibLayout& l, const unsigned char* data, std::size_t size, QImage& image) {
    image.fill(0);
    const bool rle4 = l.compression == BiRle4;
    const std::int64_t w = l.width;
    const std::int64_t h = l.height;
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::size_t pos = 0;
    auto put = [&](uchar index) {
        if (x < w && y < h)
            image.scanLine(static_cast<int>(h - 1 - y))[x] = index;
        ++x;
    };
    while (y < h && pos + 2 <= size) {
        const unsigned count = data[pos];
        const unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count && x < w; ++i)
                put(rle4 ? static_cast<uchar>((i & 1) ? (value & 0x0F) : (value >> 4))
                         : static_cast<uchar>(value));
            x = std::min(x, w);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            if (pos + 2 > size)
                break;
            x = std::min(x + data[pos], w);
            y += data[pos + 1];
            pos += 2;
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (value + 1) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~static_cast<std::size_t>(1);
            if (pos + bytes > size)
                break;
            for (unsigned i = 0; i < value && x < w; ++i) {
                const unsigned b = data[pos + (rle4 ? i / 2 : i)];
                put(rle4 ? static_cast<uchar>((i & 1) ? (b & 0x0F) : (b >> 4))
                         : static_cast<uchar>(b));
            }
            x = std::min(x, w);
            pos += std::min(padded, size - pos);
        }
    }
}

// Decodes a DIB whose parts have all been checked to lie within the data.
QImage DecodeDib(const DibLayout& l, const unsigned char* palette, const unsigned char* bits,
                 std::size_t bitsSize) {
    QImage image;
    if (l.bitCount <= 8) {
        const bool mono = l.bitCount == 1 && !l.IsRle();
        image = NewImage(l.width, l.height, mono ? QImage::Format_Mono : QImage::Format_Indexed8);
        image.setColorTable(ReadPalette(l, palette, 1 << l.bitCount));
        if (l.IsRle())
            DecodeRle(l, bits, bitsSize, image);
        else
            DecodeIndexed(l, bits, image);
    } else if (l.bitCount == 24) {
        image = NewImage(l.width, l.height, QImage::Format_RGB888);
        DecodeRgb24(l, bits, image);
    } else {
        image = NewImage(l.width, l.height,
                         l.masks[3] != 0 ? QImage::Format_ARGB32 : QImage::Format_RGB888);
        DecodeBitfields(l, bits, image);
    }
    if (l.xPelsPerMeter > 0 && l.yPelsPerMeter > 0) {
        image.setDotsPerMeterX(l.xPelsPerMeter);
        image.setDotsPerMeterY(l.yPelsPerMeter);
    }
    return image;
}

} // namespace

// The copier built the file header from the information header alone and then copied
// "file size − 14" bytes from the block, whatever the block held. Here every part is checked
// against `size` first; only then is the image size written back and the file assembled.
QByteArray PackedDibToBmpFile(unsigned char* dib, std::size_t size) {
    if (!dib)
        Invalid();
    const DibLayout l = ParseInfoHeader(dib, size);
    const std::size_t pixelStart = l.PaletteOffset() + l.PaletteBytes();
    if (pixelStart > size)
        Invalid();
    const std::size_t imageSize = PixelBytes(l, size - pixelStart);
    if (imageSize > size - pixelStart)
        Invalid();

    // With a 40-byte header and no masks this is the copier's 54 + 4 × palette entries.
    const std::size_t offset = FileHeaderSize + pixelStart;
    const std::size_t fileSize = offset + imageSize;
    if (fileSize > 0xFFFFFFFFu)
        Invalid();

    QByteArray file(static_cast<qsizetype>(fileSize), Qt::Uninitialized);
    if (l.compression == BiRgb && l.headerSize >= 40)
        Wr32(dib + 20, static_cast<std::uint32_t>(imageSize));
    auto* out = reinterpret_cast<unsigned char*>(file.data());
    out[0] = 'B';
    out[1] = 'M';
    Wr32(out + 2, static_cast<std::uint32_t>(fileSize));
    Wr32(out + 6, 0); // two reserved 16-bit words
    Wr32(out + 10, static_cast<std::uint32_t>(offset));
    std::memcpy(out + FileHeaderSize, dib, fileSize - FileHeaderSize);
    return file;
}

// The same checks and the same image size written back as for the BMP file, but the pixels are
// decoded straight from the block: a scanned page is not copied once more on its way in.
QImage DecodePackedDib(unsigned char* dib, std::size_t size) {
    if (!dib)
        Invalid();
    DibLayout l = ParseInfoHeader(dib, size);
    const std::size_t pixelStart = l.PaletteOffset() + l.PaletteBytes();
    if (pixelStart > size)
        Invalid();
    const std::size_t imageSize = PixelBytes(l, size - pixelStart);
    if (imageSize > size - pixelStart || FileHeaderSize + pixelStart + imageSize > 0xFFFFFFFFu)
        Invalid();
    if (l.compression == BiRgb && l.headerSize >= 40) {
        Wr32(dib + 20, static_cast<std::uint32_t>(imageSize));
        l = ParseInfoHeader(dib, pixelStart + imageSize);
    }
    return DecodeDib(l, dib + l.PaletteOffset(), dib + pixelStart, PixelBytes(l, imageSize));
}

// The file size field is not checked: many writers leave it 0 or wrong, and the length of the
// data is what counts.
QImage DecodeBmpFile(const QByteArray& bmpFile) {
    const auto* p = reinterpret_cast<const unsigned char*>(bmpFile.constData());
    const std::size_t size = static_cast<std::size_t>(bmpFile.size());
    if (size < FileHeaderSize || p[0] != 'B' || p[1] != 'M')
        Invalid();
    const std::size_t offset = Rd32(p + 10);
    const DibLayout l = ParseInfoHeader(p + FileHeaderSize, size - FileHeaderSize);
    const std::size_t paletteStart = FileHeaderSize + l.PaletteOffset();
    const std::size_t paletteEnd = paletteStart + l.PaletteBytes();
    if (paletteEnd > size || offset < paletteEnd || offset > size)
        Invalid();
    const std::size_t imageSize = PixelBytes(l, size - offset);
    if (imageSize > size - offset)
        Invalid();
    return DecodeDib(l, p + paletteStart, p + offset, imageSize);
}

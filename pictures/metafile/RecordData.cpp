#include "pictures/metafile/RecordData.h"

#include "layout/Dib.h"
#include "pictures/metafile/MetaRecords.h"
#include "platform/Errors.h"

#include <QBuffer>
#include <QImageReader>
#include <QStringDecoder>
#include <algorithm>
#include <cstdlib>

namespace MetaPlay {

using namespace Gdi;

namespace {

constexpr long long MaxBitmapPixels = 64LL << 20; // one bitmap inside a record

// Size of the information header plus colour table of a DIB that starts at `at` of `r`.
qsizetype DibInfoSize(const TMetaReader& r, qsizetype at, uint32_t usage) {
    const uint32_t headerSize = r.U32(at);
    if (headerSize == 12) {
        const int bits = r.U16(at + 10);
        const qsizetype colours = bits <= 8 ? (qsizetype(1) << bits) : 0;
        return 12 + colours * (usage == DIB_PAL_COLORS ? 2 : 3);
    }
    if (headerSize < 16 || headerSize > 1024)
        throw TShortRead();
    const int bits = r.U16(at + 14);
    const uint32_t compression = r.Has(at, 20) ? r.U32(at + 16) : BI_RGB;
    const uint32_t used = r.Has(at, 36) ? r.U32(at + 32) : 0;
    qsizetype colours =
        used ? qsizetype(std::min<uint32_t>(used, 256)) : (bits <= 8 ? (qsizetype(1) << bits) : 0);
    qsizetype size = headerSize + colours * (usage == DIB_PAL_COLORS ? 2 : 4);
    if (compression == BI_BITFIELDS && headerSize == 40)
        size += 12;
    return size;
}

} // namespace

QVector<QRgb> ReadPaletteEntries(const TMetaReader& rec, qsizetype at, int count) {
    rec.Need(at, qsizetype(count) * 4);
    QVector<QRgb> colours;
    colours.reserve(count);
    for (int i = 0; i < count; ++i, at += 4)
        colours.append(qRgb(rec.U8(at), rec.U8(at + 1), rec.U8(at + 2)));
    return colours;
}

QString DecodeAnsi(const QByteArray& bytes, uint8_t charset) {
    const char* codec = nullptr;
    switch (charset) {
    case SHIFTJIS_CHARSET:
        codec = "Shift_JIS";
        break;
    case HANGUL_CHARSET:
        codec = "windows-949";
        break;
    case GB2312_CHARSET:
        codec = "GBK";
        break;
    case CHINESEBIG5_CHARSET:
        codec = "Big5";
        break;
    case GREEK_CHARSET:
        codec = "windows-1253";
        break;
    case TURKISH_CHARSET:
        codec = "windows-1254";
        break;
    case HEBREW_CHARSET:
        codec = "windows-1255";
        break;
    case ARABIC_CHARSET:
        codec = "windows-1256";
        break;
    case BALTIC_CHARSET:
        codec = "windows-1257";
        break;
    case RUSSIAN_CHARSET:
        codec = "windows-1251";
        break;
    case THAI_CHARSET:
        codec = "windows-874";
        break;
    case EASTEUROPE_CHARSET:
        codec = "windows-1250";
        break;
    default:
        break;
    }
    if (codec) {
        QStringDecoder decoder(codec);
        if (decoder.isValid())
            return decoder(bytes);
    }
    // Windows-1252: Latin-1 except for the printable characters in 0x80..0x9F; a byte the code
    // page leaves undefined stands for the control character of the same number.
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        const char16_t high = u >= 0x80 && u < 0xA0 ? Gdi::Cp1252High[u - 0x80] : 0;
        text.append(high ? QChar(high) : QChar(u));
    }
    return text;
}

namespace {

// DecodeDib's bitmap in the format its bits suggest.
TDib DecodeDibBits(const TMetaReader& info, const TMetaReader& bits, bool alpha) {
    TDib dib;
    const uint32_t headerSize = info.U32(0);
    long long width, height;
    int bitCount;
    uint32_t compression = BI_RGB;
    if (headerSize == 12) {
        width = info.U16(4);
        height = info.U16(6);
        bitCount = info.U16(10);
    } else {
        width = info.I32(4);
        height = info.I32(8);
        bitCount = info.U16(14);
        compression = info.U32(16);
    }
    dib.BottomUp = height > 0;
    height = std::llabs(height);
    if (width <= 0 || height <= 0 || width * height > MaxBitmapPixels)
        return dib;
    // Compressed bits (RLE, JPEG, PNG) may claim far more pixels than they could hold: no
    // encoding packs more than about a thousand pixels into a byte, so a claim beyond that is
    // not decoded (a page's worth of small records would otherwise cost seconds per drawing).
    if (width * height > std::max<long long>(1 << 20, 1100LL * bits.Size()))
        return dib;
    if (compression == BI_JPEG || compression == BI_PNG) {
        QByteArray data(bits.Data(), bits.Size());
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        const QSize size = reader.size();
        const qint64 pixels = qint64(size.width()) * size.height();
        if (!size.isValid() || pixels > MaxBitmapPixels ||
            pixels > std::max<qint64>(1 << 20, 1100LL * data.size()))
            return dib;
        dib.Image = reader.read();
        dib.BottomUp = false;
        return dib;
    }
    if (alpha && bitCount == 32 && (compression == BI_RGB || compression == BI_BITFIELDS)) {
        const qsizetype stride = qsizetype(width) * 4;
        bits.Need(0, stride * height);
        QImage image(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return dib;
        for (int y = 0; y < height; ++y) {
            const int row = dib.BottomUp ? int(height) - 1 - y : y;
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            const qsizetype at = qsizetype(row) * stride;
            for (int x = 0; x < width; ++x) {
                const uint32_t v = bits.U32(at + 4 * qsizetype(x));
                // Premultiplied: no channel may exceed alpha.
                const uint32_t a = v >> 24;
                const uint32_t r = std::min((v >> 16) & 0xFF, a);
                const uint32_t g = std::min((v >> 8) & 0xFF, a);
                const uint32_t b = std::min(v & 0xFF, a);
                out[x] = qRgba(int(r), int(g), int(b), int(a));
            }
        }
        dib.Image = std::move(image);
        return dib;
    }
    // Writers store shorter colour tables than the header implies; the rest reads as black.
    const qsizetype infoSize = std::max(info.Size(), DibInfoSize(info, 0, DIB_RGB_COLORS));
    QByteArray file;
    const qsizetype total = 14 + infoSize + bits.Size();
    file.reserve(total);
    const auto put32 = [&file](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.append(char(v >> (8 * i)));
    };
    file.append("BM", 2);
    put32(uint32_t(total));
    put32(0);
    put32(uint32_t(14 + infoSize));
    file.append(info.Data(), info.Size());
    file.append(QByteArray(infoSize - info.Size(), '\0'));
    file.append(bits.Data(), bits.Size());
    try {
        dib.Image = DecodeBmpFile(file);
    } catch (const EInvalidGraphic&) {
        dib.Image = QImage();
    }
    return dib;
}

} // namespace

TDib DecodeDib(const TMetaReader& info, const TMetaReader& bits, bool alpha) {
    TDib dib = DecodeDibBits(info, bits, alpha);
    // Qt's smooth scaling reads a pixel past the end of 24-bit and 8-bit grey bitmaps at some
    // scales (measured with Qt 6.4: a 4 × 4 bitmap drawn half as wide and five times as high), and
    // it looks colour indexes up in the colour table unchecked, while an embedded PNG's (or an
    // inverted bitmap's) indexes may lie beyond its table; its 32-bit paths keep to the bitmap.
    switch (dib.Image.format()) {
    case QImage::Format_Invalid:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        dib.Image = dib.Image.convertToFormat(dib.Image.hasAlphaChannel()
                                                  ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32);
        break;
    }
    return dib;
}

TDib DecodePackedDib(const TMetaReader& rec, qsizetype at, uint32_t usage) {
    const TMetaReader dib = rec.Sub(at, rec.Size() - at);
    const qsizetype info = DibInfoSize(dib, 0, usage);
    return DecodeDib(dib.Sub(0, info), dib.Sub(info, dib.Size() - info), false);
}

} // namespace MetaPlay

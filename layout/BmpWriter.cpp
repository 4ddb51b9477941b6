#include "layout/BmpWriter.h"

#include "platform/Errors.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

void Put16(uchar*& p, quint16 v) {
    qToLittleEndian(v, p);
    p += 2;
}

void Put32(uchar*& p, quint32 v) {
    qToLittleEndian(v, p);
    p += 4;
}

} // namespace

void WriteBmp(const QImage& input, const TBmpSink& put) {
    if (input.isNull())
        throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));
    QImage converted;
    const QImage* image = &input;
    int bitCount = 24;
    QVector<QRgb> palette;
    switch (input.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        bitCount = 1;
        palette = input.colorTable();
        palette.resize(2); // entries the table lacks are black, as Qt draws them
        break;
    case QImage::Format_Indexed8:
        bitCount = 8;
        palette = input.colorTable();
        if (palette.isEmpty()) { // Qt draws a table-less 8-bit picture as greys
            palette.resize(256);
            for (int i = 0; i < 256; ++i)
                palette[i] = qRgb(i, i, i);
        }
        break;
    case QImage::Format_Grayscale8:
        bitCount = 8;
        palette.resize(256);
        for (int i = 0; i < 256; ++i)
            palette[i] = qRgb(i, i, i);
        break;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
    case QImage::Format_RGB32:
        break;
    case QImage::Format_ARGB32:
        bitCount = 32;
        break;
    default:
        converted = input.convertToFormat(input.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                  : QImage::Format_RGB888);
        if (converted.isNull())
            throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
        image = &converted;
        bitCount = input.hasAlphaChannel() ? 32 : 24;
        break;
    }

    const int width = image->width();
    const int height = image->height();
    const bool alpha = bitCount == 32;
    const quint32 infoSize = alpha ? 108 : 40; // a V4 header holds the alpha mask
    const qint64 rowBytes = (qint64(width) * bitCount + 31) / 32 * 4;
    const qint64 offset = 14 + infoSize + 4 * palette.size();
    const qint64 fileSize = offset + rowBytes * height;
    if (fileSize > std::numeric_limits<quint32>::max())
        throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));

    uchar header[14 + 108 + 4 * 256] = {};
    uchar* h = header;
    *h++ = 'B';
    *h++ = 'M';
    Put32(h, static_cast<quint32>(fileSize));
    Put32(h, 0);
    Put32(h, static_cast<quint32>(offset));
    Put32(h, infoSize);
    Put32(h, static_cast<quint32>(width));
    Put32(h, static_cast<quint32>(height)); // positive: bottom-up rows
    Put16(h, 1);
    Put16(h, static_cast<quint16>(bitCount));
    Put32(h, alpha ? 3 : 0); // BI_BITFIELDS : BI_RGB
    Put32(h, static_cast<quint32>(rowBytes * height));
    Put32(h, static_cast<quint32>(std::max(0, image->dotsPerMeterX())));
    Put32(h, static_cast<quint32>(std::max(0, image->dotsPerMeterY())));
    Put32(h, static_cast<quint32>(palette.size()));
    Put32(h, 0);
    if (alpha) {
        Put32(h, 0x00FF0000);
        Put32(h, 0x0000FF00);
        Put32(h, 0x000000FF);
        Put32(h, 0xFF000000);
        Put32(h, 0x73524742); // LCS_sRGB; end points and gamma stay 0
        h += 36 + 12;
    }
    for (const QRgb c : palette) {
        *h++ = static_cast<uchar>(qBlue(c));
        *h++ = static_cast<uchar>(qGreen(c));
        *h++ = static_cast<uchar>(qRed(c));
        *h++ = 0;
    }
    put(header, static_cast<std::size_t>(h - header));

    std::vector<uchar> row(static_cast<std::size_t>(rowBytes), 0);
    const QImage::Format format = image->format();
    for (int y = height - 1; y >= 0; --y) {
        const uchar* in = image->constScanLine(y);
        uchar* out = row.data();
        switch (format) {
        case QImage::Format_Mono:
            std::memcpy(out, in, static_cast<std::size_t>((width + 7) / 8));
            break;
        case QImage::Format_MonoLSB:
            for (int i = 0; i < (width + 7) / 8; ++i) {
                uchar b = in[i];
                b = static_cast<uchar>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
                b = static_cast<uchar>((b & 0xCC) >> 2 | (b & 0x33) << 2);
                out[i] = static_cast<uchar>((b & 0xAA) >> 1 | (b & 0x55) << 1);
            }
            break;
        case QImage::Format_Indexed8:
        case QImage::Format_Grayscale8:
        case QImage::Format_BGR888:
            std::memcpy(out, in, static_cast<std::size_t>(width) * (bitCount / 8));
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        case QImage::Format_RGB32: {
            const auto* px = reinterpret_cast<const QRgb*>(in);
            for (int x = 0; x < width; ++x, out += 3) {
                out[0] = static_cast<uchar>(qBlue(px[x]));
                out[1] = static_cast<uchar>(qGreen(px[x]));
                out[2] = static_cast<uchar>(qRed(px[x]));
            }
            break;
        }
        default: { // ARGB32
            const auto* px = reinterpret_cast<const QRgb*>(in);
            for (int x = 0; x < width; ++x, out += 4)
                qToLittleEndian<quint32>(px[x], out);
            break;
        }
        }
        put(row.data(), row.size());
    }
}

QByteArray EncodeBmpFile(const QImage& image) {
    QByteArray file;
    WriteBmp(image, [&file](const void* data, std::size_t size) {
        file.append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    });
    return file;
}

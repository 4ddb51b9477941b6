#include "pictures/IconFile.h"

#include "pictures/PictureFiles.h"
#include "platform/Errors.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void InvalidIcon() {
    throw EInvalidGraphic(QStringLiteral("Ungültiges Symbol"));
}

unsigned char OnWhite(int colour, int alpha) {
    return static_cast<unsigned char>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Windows draws icons of at most 256 × 256 pixels; PNG entries may be larger, but an icon beyond
// this is damaged or hostile. Qt allocates an entry before reading a byte of its pixels.
constexpr qint64 MaxIconSide = 4096;
// Deflate cannot expand data more than 1032-fold; a PNG entry declaring more pixels than its
// bytes could hold is refused.
constexpr qint64 MaxDeflateRatio = 1100;

struct IconEntry {
    int index;
    qint64 width;
    qint64 height;
    int depth;
};

quint16 Le16(const uchar* p) {
    return qFromLittleEndian<quint16>(p);
}

quint32 Le32(const uchar* p) {
    return qFromLittleEndian<quint32>(p);
}

bool SideOk(qint64 side) {
    return side >= 1 && side <= MaxIconSide;
}

bool CheckPngEntry(const uchar* p, qint64 avail, qint64 declared, IconEntry& entry) {
    // Qt hands the entry's declared bytes to its PNG reader; they must all be in the file.
    if (declared > avail || declared < 8 + 8 + 13 + 4)
        return false;
    if (qFromBigEndian<quint32>(p + 8) != 13 || std::memcmp(p + 12, "IHDR", 4) != 0)
        return false;
    const qint64 width = qFromBigEndian<quint32>(p + 16);
    const qint64 height = qFromBigEndian<quint32>(p + 20);
    const int bitDepth = p[24];
    int channels = 0;
    switch (p[25]) {
    case 0: // grey
    case 3: // palette
        channels = 1;
        break;
    case 2:
        channels = 3;
        break;
    case 4:
        channels = 2;
        break;
    case 6:
        channels = 4;
        break;
    default:
        return false;
    }
    if (!SideOk(width) || !SideOk(height) || bitDepth < 1 || bitDepth > 16)
        return false;
    entry.width = width;
    entry.height = height;
    entry.depth = bitDepth * channels;
    const qint64 rawBytes = height * (1 + (width * entry.depth + 7) / 8);
    return rawBytes <= declared * MaxDeflateRatio;
}

// A bitmap entry as Qt's ICO reader reads it: the size from the directory (0 meaning "see the
// bitmap header"), the colour table right after a 40-byte header, then the colour rows and the
// 1-bit mask rows. All of them must be in the file.
bool CheckBmpEntry(const uchar* dir, const uchar* p, qint64 avail, IconEntry& entry) {
    if (avail < 40)
        return false;
    const int bitCount = Le16(p + 14) != 0 ? Le16(p + 14) : Le16(dir + 6);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return false; // Qt reads no 16-bit entries and leaves other depths' pixels unwritten
    const qint64 width = dir[0] != 0 ? dir[0] : static_cast<qint32>(Le32(p + 4));
    const qint64 height = dir[1] != 0 ? dir[1] : static_cast<qint32>(Le32(p + 8)) / 2;
    if (!SideOk(width) || !SideOk(height))
        return false;
    const qint64 colours = bitCount > 8 ? 0 : Le32(p + 32) != 0 ? Le32(p + 32) : 1 << bitCount;
    if (colours > 256)
        return false;
    const qint64 maskRow = (width + 31) / 32 * 4;
    qint64 colourRow = 0;
    switch (bitCount) {
    case 1:
        colourRow = colours == 2 ? maskRow : (width + 3) / 4 * 4; // Mono or Indexed8 rows
        break;
    case 4:
        colourRow = (width + 7) / 8 * 4;
        break;
    case 8:
        colourRow = (width + 3) / 4 * 4;
        break;
    default:
        colourRow = (width * bitCount + 31) / 32 * 4;
        break;
    }
    entry.width = width;
    entry.height = height;
    entry.depth = bitCount;
    return 40 + colours * 4 + height * (colourRow + maskRow) <= avail;
}

std::vector<IconEntry> UsableIconEntries(const QByteArray& file) {
    const auto* p = reinterpret_cast<const uchar*>(file.constData());
    const qint64 size = file.size();
    if (size < 6 || Le16(p) != 0 || Le16(p + 2) != 1) // 1: icon (2 would be a cursor)
        InvalidIcon();
    const int count = Le16(p + 4);
    if (count == 0 || 6 + 16 * qint64(count) > size)
        InvalidIcon();
    std::vector<IconEntry> usable;
    for (int i = 0; i < count; ++i) {
        const uchar* dir = p + 6 + 16 * i;
        const qint64 offset = Le32(dir + 12);
        if (offset >= size)
            continue;
        const qint64 avail = size - offset;
        IconEntry entry{i, 0, 0, 0};
        static const uchar pngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        const bool png = avail >= 8 && std::memcmp(p + offset, pngMagic, 8) == 0;
        if (png ? CheckPngEntry(p + offset, avail, Le32(dir + 8), entry)
                : CheckBmpEntry(dir, p + offset, avail, entry))
            usable.push_back(entry);
    }
    std::stable_sort(usable.begin(), usable.end(), [](const IconEntry& a, const IconEntry& b) {
        const qint64 pa = a.width * a.height;
        const qint64 pb = b.width * b.height;
        return pa != pb ? pa > pb : a.depth > b.depth;
    });
    return usable;
}

} // namespace

QImage DecodeIconFile(const QByteArray& file) {
    RaiseQtImageAllocationLimit();
    for (const IconEntry& entry : UsableIconEntries(file)) {
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "ico");
        if (!reader.jumpToImage(entry.index))
            continue;
        const QImage image = reader.read();
        if (!image.isNull() && image.width() == entry.width && image.height() == entry.height)
            return image;
    }
    InvalidIcon();
}

QImage IconToBitmap(const QImage& icon) {
    const QImage argb = icon.convertToFormat(QImage::Format_ARGB32);
    QImage bitmap(icon.width(), icon.height(), QImage::Format_RGB888);
    if (argb.isNull() || bitmap.isNull())
        throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
    for (int y = 0; y < bitmap.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* out = bitmap.scanLine(y);
        for (int x = 0; x < bitmap.width(); ++x, out += 3) {
            const int a = qAlpha(in[x]);
            out[0] = OnWhite(qRed(in[x]), a);
            out[1] = OnWhite(qGreen(in[x]), a);
            out[2] = OnWhite(qBlue(in[x]), a);
        }
    }
    return bitmap;
}

#include "pictures/RasterFiles.h"

#include "pictures/IconFile.h"
#include "pictures/PictureFileWriting.h"
#include "platform/Errors.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <cmath>

namespace {

// The side BMP files are held to as well.
constexpr long long MaxRasterSide = 65535;

[[noreturn]] void Invalid() {
    throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));
}

[[noreturn]] void OutOfMemory() {
    throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
}

const char* QtFormatOf(TRasterKind kind) {
    switch (kind) {
    case TRasterKind::Png:
        return "png";
    case TRasterKind::Gif:
        return "gif";
    case TRasterKind::Tiff:
        break;
    }
    return "tiff";
}

// Finer than any scanner; a file claiming more is damaged there, and more is not written.
constexpr int MaxRecordedDpi = 100000;

bool PlausibleDpi(const QSize& dpi) {
    return dpi.width() >= 1 && dpi.height() >= 1 && dpi.width() <= MaxRecordedDpi &&
           dpi.height() <= MaxRecordedDpi;
}

int DpiToDotsPerMeter(int dpi) {
    return static_cast<int>(std::lround(dpi / 0.0254));
}

// Qt's readers leave a new image's default resolution (the screen's) where the file records
// none; a file recording exactly that value is read as recording none, which then gives the
// same picture size at the screen's resolution. A resolution no device has counts as none.
QSize RecordedDpi(const QImage& image) {
    const QImage unrecorded(1, 1, QImage::Format_Mono);
    if (image.dotsPerMeterX() == unrecorded.dotsPerMeterX() &&
        image.dotsPerMeterY() == unrecorded.dotsPerMeterY())
        return {};
    const QSize dpi(static_cast<int>(std::lround(image.dotsPerMeterX() * 0.0254)),
                    static_cast<int>(std::lround(image.dotsPerMeterY() * 0.0254)));
    return PlausibleDpi(dpi) ? dpi : QSize();
}

// The pixel layouts Velmora holds: palettes and grey kept, colour at three bytes a pixel,
// transparency on white paper as for icons; `dpi` is the resolution the page keeps (empty: the
// default of a new image, never a damaged file's value that no writer would take).
QImage Held(const QImage& image, const QSize& dpi) {
    QImage held;
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Grayscale8:
        held = image;
        break;
    case QImage::Format_Indexed8:
        held = image.hasAlphaChannel() ? IconToBitmap(image) : image;
        break;
    default:
        held = image.hasAlphaChannel() ? IconToBitmap(image)
                                       : image.convertToFormat(QImage::Format_RGB888);
        break;
    }
    if (held.isNull())
        OutOfMemory();
    // Velmora takes pixels as they are, as from BMP and JPEG files; a colour space kept with a
    // grey page would be written into a PNG as a colour profile and change its pixels on reading.
    held.setColorSpace(QColorSpace());
    const QImage unrecorded(1, 1, QImage::Format_Mono);
    held.setDotsPerMeterX(dpi.isEmpty() ? unrecorded.dotsPerMeterX()
                                        : DpiToDotsPerMeter(dpi.width()));
    held.setDotsPerMeterY(dpi.isEmpty() ? unrecorded.dotsPerMeterY()
                                        : DpiToDotsPerMeter(dpi.height()));
    return held;
}

// A GIF cut off in transfer decodes without a word, the missing rows left empty; only its
// trailer byte (perhaps followed by padding) shows that it arrived whole.
bool GifComplete(const QByteArray& file) {
    qsizetype end = file.size();
    while (end > 0 && file[end - 1] == '\0')
        --end;
    return end > 0 && file[end - 1] == '\x3B';
}

// Whether every chunk of a PNG lies within the file, up to its end chunk. libpng reserves a
// chunk's claimed length before reading it, up to 2 GB for a few bytes of file.
bool PngChunksFit(const QByteArray& file) {
    qsizetype at = 8; // the signature
    while (at + 12 <= file.size()) {
        const auto* p = reinterpret_cast<const uchar*>(file.constData() + at);
        const quint32 length =
            quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        if (length > quint32(file.size() - at - 12))
            return false;
        if (file.mid(at + 4, 4) == "IEND")
            return true;
        at += 12 + static_cast<qsizetype>(length);
    }
    return false;
}

void CheckSize(const QSize& size, long long maxPixels) {
    const long long width = size.width();
    const long long height = size.height();
    if (width <= 0 || height <= 0 || width > MaxRasterSide || height > MaxRasterSide ||
        width * height > maxPixels)
        Invalid();
}

// Decodes the reader's current page, checked against the limits first.
TRasterPage DecodePage(QImageReader& reader, long long maxPixels, long long& heldBytes) {
    // The file's claim is all there is before Qt allocates the page.
    const QSize claimed = reader.size();
    CheckSize(claimed, maxPixels);
    if (heldBytes + static_cast<long long>(claimed.width()) * claimed.height() * 4 > maxPixels * 4)
        OutOfMemory();
    QImage image;
    if (!reader.read(&image) || image.isNull())
        Invalid();
    // A GIF's picture may be larger than the screen its header claims.
    CheckSize(image.size(), maxPixels);
    TRasterPage page;
    page.dpi = RecordedDpi(image);
    page.image = Held(image, page.dpi);
    heldBytes += page.image.sizeInBytes();
    return page;
}

} // namespace

bool RasterKindOf(const QString& lowerExtension, TRasterKind& kind) {
    if (lowerExtension == QLatin1String(".png"))
        kind = TRasterKind::Png;
    else if (lowerExtension == QLatin1String(".gif"))
        kind = TRasterKind::Gif;
    else if (lowerExtension == QLatin1String(".tif") || lowerExtension == QLatin1String(".tiff"))
        kind = TRasterKind::Tiff;
    else
        return false;
    return true;
}

std::vector<TRasterPage> DecodeRasterFile(const QByteArray& file, TRasterKind kind,
                                          long long maxPixels) {
    if ((kind == TRasterKind::Gif && !GifComplete(file)) ||
        (kind == TRasterKind::Png && !PngChunksFit(file)))
        Invalid();
    QByteArray bytes = file; // shared, not copied: QBuffer only reads
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, QtFormatOf(kind));
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    int count = 1;
    if (kind == TRasterKind::Tiff) {
        // Counted before the first page is read: Qt's TIFF reader can only count from the start
        // of the file, and steps to the next page only within the count.
        count = reader.imageCount();
        if (count < 1 || count > MaxRasterPages)
            Invalid();
    }
    std::vector<TRasterPage> pages;
    long long heldBytes = 0;
    for (int index = 0; index < count; ++index) {
        if (index > 0 && !reader.jumpToNextImage())
            Invalid();
        pages.push_back(DecodePage(reader, maxPixels, heldBytes));
    }
    return pages;
}

QByteArray EncodeRasterFile(const QImage& image, TRasterKind kind, const QSize& dpi,
                            const QString& path) {
    // The resolution travels in the image; the copy shares the pixels.
    QImage stamped = image;
    if (PlausibleDpi(dpi)) {
        stamped.setDotsPerMeterX(DpiToDotsPerMeter(dpi.width()));
        stamped.setDotsPerMeterY(DpiToDotsPerMeter(dpi.height()));
    }
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, QtFormatOf(kind));
    if (kind == TRasterKind::Tiff)
        writer.setCompression(1); // LZW
    if (!writer.write(stamped))
        CannotCreate(path);
    return encoded;
}

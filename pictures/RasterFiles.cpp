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

int DotsPerMeterToDpi(int dotsPerMeter) {
    return static_cast<int>(std::lround(dotsPerMeter * 0.0254));
}

int DpiToDotsPerMeter(int dpi) {
    return static_cast<int>(std::lround(dpi / 0.0254));
}

// Qt's readers leave a new image's default resolution (the screen's) where the file records
// none; a file recording exactly that value is read as recording none, which then gives the
// same picture size at the screen's resolution.
QSize RecordedDpi(const QImage& image) {
    const QImage unrecorded(1, 1, QImage::Format_Mono);
    if (image.dotsPerMeterX() == unrecorded.dotsPerMeterX() &&
        image.dotsPerMeterY() == unrecorded.dotsPerMeterY())
        return {};
    const QSize dpi(DotsPerMeterToDpi(image.dotsPerMeterX()),
                    DotsPerMeterToDpi(image.dotsPerMeterY()));
    return dpi.width() > 0 && dpi.height() > 0 ? dpi : QSize();
}

// The pixel layouts Velmora holds: palettes and grey kept, colour at three bytes a pixel,
// transparency on white paper as for icons.
QImage Held(const QImage& image) {
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
    held.setDotsPerMeterX(image.dotsPerMeterX());
    held.setDotsPerMeterY(image.dotsPerMeterY());
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

// Decodes page `index`, checked against the limits first. Every page gets a reader of its own
// from the start of the file: Qt's TIFF reader loses its place in the file between pages.
TRasterPage DecodePage(const QByteArray& file, TRasterKind kind, int index, long long maxPixels,
                       long long& heldBytes) {
    QByteArray bytes = file; // shared, not copied: QBuffer only reads
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, QtFormatOf(kind));
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    if (index > 0 && !reader.jumpToImage(index))
        Invalid();
    // The file's claim is all there is before Qt allocates the page.
    const QSize size = reader.size();
    const long long width = size.width();
    const long long height = size.height();
    if (width <= 0 || height <= 0 || width > MaxRasterSide || height > MaxRasterSide ||
        width * height > maxPixels)
        Invalid();
    if (heldBytes + width * height * 4 > maxPixels * 4)
        OutOfMemory();
    QImage image;
    if (!reader.read(&image) || image.isNull())
        Invalid();
    TRasterPage page{Held(image), QSize()};
    page.dpi = RecordedDpi(page.image);
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
    if (kind == TRasterKind::Gif && !GifComplete(file))
        Invalid();
    int count = 1;
    if (kind == TRasterKind::Tiff) {
        QByteArray bytes = file;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, QtFormatOf(kind));
        reader.setDecideFormatFromContent(false);
        count = reader.imageCount();
        if (count < 1 || count > MaxRasterPages)
            Invalid();
    }
    std::vector<TRasterPage> pages;
    long long heldBytes = 0;
    for (int index = 0; index < count; ++index)
        pages.push_back(DecodePage(file, kind, index, maxPixels, heldBytes));
    return pages;
}

QByteArray EncodeRasterFile(const QImage& image, TRasterKind kind, const QSize& dpi,
                            const QString& path) {
    // The resolution travels in the image; the copy shares the pixels.
    QImage stamped = image;
    if (dpi.width() > 0 && dpi.height() > 0) {
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

#pragma once
// What the PNG, GIF and TIFF harnesses share: a file is decoded as opening it does, every page
// is checked against the limits, and PNG and TIFF pages are written and read back as saving does.
// "Bitmap ist ungültig" and "Zu wenig Arbeitsspeicher" are the only acceptable errors.

#include "pictures/RasterFiles.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <cstdlib>

// Far below Velmora's own limit, so that a page the size of a scan does not cost a whole run.
constexpr long long RasterFuzzMaxPixels = 4LL * 1000 * 1000;

inline bool RasterFuzzHeld(QImage::Format format) {
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Grayscale8:
    case QImage::Format_Indexed8:
    case QImage::Format_RGB888:
        return true;
    default:
        return false;
    }
}

inline int RasterFuzzOne(const std::uint8_t* data, std::size_t size, TRasterKind kind) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    std::vector<TRasterPage> pages;
    try {
        pages = DecodeRasterFile(file, kind, RasterFuzzMaxPixels);
    } catch (const EInvalidGraphic&) {
        return 0;
    } catch (const EOutOfMemory&) {
        return 0;
    }
    if (pages.empty() || pages.size() > static_cast<std::size_t>(MaxRasterPages))
        std::abort();
    for (const TRasterPage& page : pages) {
        const QImage& image = page.image;
        if (image.isNull() || !RasterFuzzHeld(image.format()) ||
            static_cast<long long>(image.width()) * image.height() > RasterFuzzMaxPixels ||
            (page.dpi.isValid() && (page.dpi.width() < 1 || page.dpi.height() < 1)))
            std::abort();
        (void)image.pixel(image.width() - 1, image.height() - 1);
        if (kind == TRasterKind::Gif)
            continue;
        const QByteArray again = EncodeRasterFile(image, kind, page.dpi, QStringLiteral("fuzz"));
        const std::vector<TRasterPage> back = DecodeRasterFile(again, kind, RasterFuzzMaxPixels);
        if (back.size() != 1 || back[0].image.size() != image.size() ||
            back[0].image.convertToFormat(QImage::Format_RGB888) !=
                image.convertToFormat(QImage::Format_RGB888))
            std::abort();
    }
    return 0;
}

#pragma once
// What the WMF and EMF harnesses share: a metafile is loaded as opening a .wmf/.emf file does,
// then drawn into a small bitmap twice, once plainly and once through a scaled, clipped painter as
// the preview does. "Metadatei ist ungültig" (or the EMF+ message) is the only acceptable error;
// a loaded picture must have a size Velmora can rasterise.

#include "pictures/metafile/Metafile.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdlib>

inline void MetafileFuzzInit(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv); // fonts need it
}

inline int MetafileFuzzOne(const std::uint8_t* data, std::size_t size, TMetafileKind kind) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (MetafileKindOf(bytes) != kind)
        return 0; // the other harness's inputs
    try {
        const TMetafile metafile(bytes);
        if (metafile.Width() < 1 || metafile.Height() < 1 || metafile.Width() > 32767 ||
            metafile.Height() > 32767 ||
            static_cast<long long>(metafile.Width()) * metafile.Height() > 64LL * 1000 * 1000)
            std::abort();
        QImage image(48, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        metafile.Draw(painter, image.rect());
        painter.translate(-30, 5);
        painter.scale(4, 0.5);
        painter.setClipRect(QRect(10, 0, 20, 60));
        metafile.Draw(painter, QRect(0, 0, 40, 80));
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}

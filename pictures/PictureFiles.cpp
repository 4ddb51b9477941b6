#include "pictures/PictureFiles.h"

#include "layout/Dib.h"
#include "pictures/IconFile.h"
#include "pictures/Jpeg.h"
#include "pictures/PictureFileWriting.h"
#include "pictures/RasterFiles.h"
#include "pictures/metafile/MetaRecorder.h"
#include "pictures/metafile/Metafile.h"
#include "platform/Errors.h"
#include "platform/NewFile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

namespace {

[[noreturn]] void CannotOpen(const QString& path) {
    throw EFOpenError(QStringLiteral("Datei %1 kann nicht geöffnet werden").arg(path));
}

bool IsBmpExtension(const QString& lower) {
    return lower == QLatin1String(".bmp") || lower == QLatin1String(".dib");
}

bool IsJpegExtension(const QString& lower) {
    return lower == QLatin1String(".jpg") || lower == QLatin1String(".jpeg");
}

bool IsMetafileExtension(const QString& lower) {
    return lower == QLatin1String(".wmf") || lower == QLatin1String(".emf");
}

QByteArray ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        CannotOpen(path);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        CannotOpen(path);
    return bytes;
}

} // namespace

QString PictureFileExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? path.mid(dot) : QString();
}

void RaiseQtImageAllocationLimit() {
    static const bool raised = [] {
        QImageReader::setAllocationLimit(
            static_cast<int>(MaxPicturePixels * 4 / (1024 * 1024) + 1)); // megabytes
        return true;
    }();
    Q_UNUSED(raised)
}

std::vector<TLoadedPage> LoadPictureFilePages(const QString& path, bool* incomplete) {
    if (incomplete)
        *incomplete = false;
    const QString ext = PictureFileExtension(path);
    const QString lower = ext.toLower();
    const bool bmp = lower == QLatin1String(".bmp");
    const bool jpeg = IsJpegExtension(lower);
    const bool icon = lower == QLatin1String(".ico");
    TRasterKind rasterKind = TRasterKind::Png;
    const bool raster = RasterKindOf(lower, rasterKind);
    if (!bmp && !jpeg && !icon && !raster && !IsMetafileExtension(lower))
        throw EInvalidGraphic(
            QStringLiteral("Unbekannte Bilddateierweiterung (.%1)").arg(ext.mid(1)));

    QByteArray bytes = ReadWholeFile(path);
    std::vector<TLoadedPage> pages;
    if (raster) {
        RaiseQtImageAllocationLimit();
        for (TRasterPage& page : DecodeRasterFile(bytes, rasterKind)) {
            auto graphic = std::make_unique<TBitmap>();
            graphic->SetImage(std::move(page.image));
            pages.push_back({std::move(graphic), page.dpi});
        }
        return pages;
    }
    if (jpeg) {
        auto graphic = std::make_unique<TJpegImage>();
        bool endedEarly = false;
        graphic->SetImage(DecodeJpeg(bytes, endedEarly));
        if (incomplete)
            *incomplete = endedEarly;
        graphic->SetOriginalBytes(std::move(bytes));
        pages.push_back({std::move(graphic), QSize()});
    } else if (bmp || icon) {
        auto graphic = std::make_unique<TBitmap>();
        graphic->SetImage(bmp ? DecodeBmpFile(bytes) : IconToBitmap(DecodeIconFile(bytes)));
        pages.push_back({std::move(graphic), QSize()});
    } else {
        // Either kind loads under either extension: the header says which it is.
        pages.push_back({std::make_unique<TMetafile>(std::move(bytes)), QSize()});
    }
    return pages;
}

std::unique_ptr<TGraphic> LoadPictureFile(const QString& path, bool* incomplete) {
    return std::move(LoadPictureFilePages(path, incomplete).front().graphic);
}

QString IncompleteFileText(const QString& path) {
    return QStringLiteral("Die Datei %1 ist unvollständig; der fehlende Teil des Bildes bleibt "
                          "grau.")
        .arg(path);
}

QImage RenderGraphic(const TGraphic& graphic) {
    if (const auto* raster = dynamic_cast<const TRasterGraphic*>(&graphic))
        return raster->Image();
    QImage bitmap(graphic.Width(), graphic.Height(), QImage::Format_RGB888);
    if (bitmap.isNull())
        return bitmap;
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    graphic.Draw(painter, bitmap.rect());
    return bitmap;
}

QByteArray MetafileBytes(const TGraphic& graphic, TMetafileKind kind) {
    const auto* metafile = dynamic_cast<const TMetafile*>(&graphic);
    if (metafile && metafile->MetafileKind() == kind)
        return metafile->OriginalBytes();
    return RecordGraphic(graphic, kind);
}

TSaveFormat SaveFormatOf(const QString& path) {
    const QString ext = PictureFileExtension(path).toLower();
    if (IsBmpExtension(ext))
        return TSaveFormat::Bmp;
    if (IsJpegExtension(ext))
        return TSaveFormat::Jpeg;
    TRasterKind kind = TRasterKind::Png;
    if (RasterKindOf(ext, kind) && kind != TRasterKind::Gif)
        return kind == TRasterKind::Png ? TSaveFormat::Png : TSaveFormat::Tiff;
    return TSaveFormat::None;
}

bool CanSaveBitmapAs(const QString& path) {
    return SaveFormatOf(path) != TSaveFormat::None;
}

QString CannotSaveAsText(const QString& path, bool metafile) {
    const QString extensions =
        metafile ? QStringLiteral(".bmp, .dib, .jpg, .jpeg, .png, .tif, .tiff, "
                                  ".wmf oder .emf")
                 : QStringLiteral(".bmp, .dib, .jpg, .jpeg, .png, .tif oder .tiff");
    return QStringLiteral("Die Datei %1 wurde nicht gesichert:\rBilder können nur als %2 "
                          "gesichert werden.")
        .arg(path, extensions);
}

bool SaveBitmapToFile(const QImage& bitmap, const QString& path, const QSize& dpi) {
    switch (SaveFormatOf(path)) {
    case TSaveFormat::Bmp:
        ReplaceFile(path, [&](TNewFile& file) { WriteBmpFile(file, bitmap, path); });
        return true;
    case TSaveFormat::Jpeg: {
        const QByteArray jpeg = EncodeJpeg(bitmap); // before the file: a failure touches nothing
        ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, jpeg, path); });
        return true;
    }
    case TSaveFormat::Png:
    case TSaveFormat::Tiff: {
        const QByteArray encoded = EncodeRasterFile(
            bitmap, SaveFormatOf(path) == TSaveFormat::Png ? TRasterKind::Png : TRasterKind::Tiff,
            dpi, path);
        ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, encoded, path); });
        return true;
    }
    case TSaveFormat::None:
        break;
    }
    return false;
}

bool SaveGraphicToFile(const TGraphic& graphic, const QString& path, const QSize& dpi) {
    const QString ext = PictureFileExtension(path).toLower();
    switch (graphic.Kind()) {
    case GraphicKind::Metafile:
        if (IsMetafileExtension(ext)) {
            const QByteArray bytes = MetafileBytes(
                graphic, ext == QLatin1String(".wmf") ? TMetafileKind::Wmf : TMetafileKind::Emf);
            ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, bytes, path); });
            return true;
        }
        break;
    case GraphicKind::Bitmap:
        if (IsBmpExtension(ext)) {
            const QImage& image = static_cast<const TBitmap&>(graphic).Image();
            ReplaceFile(path, [&](TNewFile& file) { WriteBmpFile(file, image, path); });
            return true;
        }
        break;
    case GraphicKind::Jpeg:
        if (IsJpegExtension(ext)) {
            const QByteArray& bytes = static_cast<const TJpegImage&>(graphic).OriginalBytes();
            ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, bytes, path); });
            return true;
        }
        break;
    case GraphicKind::Icon:
        break;
    }
    if (!CanSaveBitmapAs(path))
        return false;
    return SaveBitmapToFile(RenderGraphic(graphic), path, dpi);
}

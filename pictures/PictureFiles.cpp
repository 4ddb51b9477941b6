#include "pictures/PictureFiles.h"

#include "layout/Dib.h"
#include "pictures/IconFile.h"
#include "pictures/Jpeg.h"
#include "pictures/PictureFileWriting.h"
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

bool IsPngExtension(const QString& lower) {
    return lower == QLatin1String(".png");
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

std::unique_ptr<TGraphic> LoadPictureFile(const QString& path, bool* incomplete) {
    if (incomplete)
        *incomplete = false;
    const QString ext = PictureFileExtension(path);
    const QString lower = ext.toLower();
    const bool bmp = lower == QLatin1String(".bmp");
    const bool jpeg = IsJpegExtension(lower);
    const bool icon = lower == QLatin1String(".ico");
    if (!bmp && !jpeg && !icon && !IsMetafileExtension(lower))
        throw EInvalidGraphic(
            QStringLiteral("Unbekannte Bilddateierweiterung (.%1)").arg(ext.mid(1)));

    QByteArray bytes = ReadWholeFile(path);
    if (jpeg) {
        auto graphic = std::make_unique<TJpegImage>();
        bool endedEarly = false;
        graphic->SetImage(DecodeJpeg(bytes, endedEarly));
        if (incomplete)
            *incomplete = endedEarly;
        graphic->SetOriginalBytes(std::move(bytes));
        return graphic;
    }
    if (bmp || icon) {
        auto graphic = std::make_unique<TBitmap>();
        graphic->SetImage(bmp ? DecodeBmpFile(bytes) : IconToBitmap(DecodeIconFile(bytes)));
        return graphic;
    }
    // Either kind loads under either extension: the header says which it is.
    return std::make_unique<TMetafile>(std::move(bytes));
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
    if (IsPngExtension(ext))
        return TSaveFormat::Png;
    return TSaveFormat::None;
}

bool CanSaveBitmapAs(const QString& path) {
    return SaveFormatOf(path) != TSaveFormat::None;
}

QString CannotSaveAsText(const QString& path, bool metafile) {
    const QString extensions = metafile
                                   ? QStringLiteral(".bmp, .dib, .jpg, .jpeg, .png, .wmf oder .emf")
                                   : QStringLiteral(".bmp, .dib, .jpg, .jpeg oder .png");
    return QStringLiteral("Die Datei %1 wurde nicht gesichert:\rBilder können nur als %2 "
                          "gesichert werden.")
        .arg(path, extensions);
}

QByteArray EncodePng(const QImage& image, const QString& path) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        CannotCreate(path);
    return png;
}

bool SaveBitmapToFile(const QImage& bitmap, const QString& path) {
    switch (SaveFormatOf(path)) {
    case TSaveFormat::Bmp:
        ReplaceFile(path, [&](TNewFile& file) { WriteBmpFile(file, bitmap, path); });
        return true;
    case TSaveFormat::Jpeg: {
        const QByteArray jpeg = EncodeJpeg(bitmap); // before the file: a failure touches nothing
        ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, jpeg, path); });
        return true;
    }
    case TSaveFormat::Png: {
        const QByteArray png = EncodePng(bitmap, path);
        ReplaceFile(path, [&](TNewFile& file) { WriteBytes(file, png, path); });
        return true;
    }
    case TSaveFormat::None:
        break;
    }
    return false;
}

bool SaveGraphicToFile(const TGraphic& graphic, const QString& path) {
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
    return SaveBitmapToFile(RenderGraphic(graphic), path);
}

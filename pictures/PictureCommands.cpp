#include "pictures/PictureCommands.h"

#include "layout/BmpWriter.h"
#include "pictures/PictureFiles.h"
#include "platform/WholeNumber.h"

#include <QImage>
#include <QMimeData>
#include <QStringList>
#include <QVariant>
#include <iterator>

namespace {

const QString BmpMimeType = QStringLiteral("image/bmp");

// The MIME types an enhanced metafile and a Windows metafile are offered under on the X
// clipboard: the plain ones and the one LibreOffice reads.
const char* const EmfMimeTypes[] = {
    "image/emf", "image/x-emf", "application/x-openoffice-emf;windows_formatname=\"Image EMF\""};
const char* const WmfMimeTypes[] = {
    "image/wmf", "image/x-wmf", "application/x-openoffice-wmf;windows_formatname=\"Image WMF\""};

// The bytes of the first metafile type `data` offers.
QByteArray OfferedMetafile(const QMimeData* data) {
    if (!data)
        return {};
    for (const auto* types : {&EmfMimeTypes, &WmfMimeTypes})
        for (const char* type : *types)
            if (data->hasFormat(QLatin1String(type))) {
                QByteArray bytes = data->data(QLatin1String(type));
                if (!bytes.isEmpty())
                    return bytes;
            }
    return {};
}

// Size of a BMP file's own header in front of the packed DIB.
constexpr int BmpFileHeaderSize = 14;

struct KindExtension {
    const char* kindName;
    const char* extension;
};

} // namespace

QString PresetPageList(const QString& pagesText, int currentPicNo) {
    int ignored = 0;
    if (pagesText.isEmpty() || ReadWholeNumber(pagesText, ignored))
        return QString::number(currentPicNo);
    return pagesText;
}

int WrapPageNumber(int n, int pageCount) {
    // Compared in 64 bits: the page after the last must not overflow for absurd counts.
    if (static_cast<qint64>(n) == static_cast<qint64>(pageCount) + 1)
        return 1;
    if (n == 0)
        return pageCount;
    return n;
}

QString PictureOpenFilter() {
    return QStringLiteral("Bitmaps (*.BMP)|*.BMP|Metafiles (*.WMF)|*.WMF|") +
           QStringLiteral("JPEG (*.JPG;*.JPEG)|*.JPG;*.JPEG|Enh. Metafiles (*.EMF)|*.EMF|") +
           QStringLiteral("Icons (*.ICO)|*.ICO|Rest (*.*)|*.*");
}

QString PictureSaveFilter(GraphicKind kind, const QString& bitmapFilter) {
    static const KindExtension metafiles[] = {{"Erweiterte Metadateien", "emf"},
                                              {"Metadateien", "wmf"}};
    static const KindExtension jpegs[] = {{"JPEG-Grafikdatei", "jpg"},
                                          {"JPEG-Grafikdatei", "jpeg"}};
    const KindExtension* begin = nullptr;
    const KindExtension* end = nullptr;
    switch (kind) {
    case GraphicKind::Metafile:
        begin = std::begin(metafiles);
        end = std::end(metafiles);
        break;
    case GraphicKind::Jpeg:
        begin = std::begin(jpegs);
        end = std::end(jpegs);
        break;
    case GraphicKind::Bitmap:
    case GraphicKind::Icon:
        return bitmapFilter;
    }

    QStringList patterns;
    for (auto* e = begin; e != end; ++e)
        patterns << QStringLiteral("*.") + QLatin1String(e->extension);
    QStringList entries;
    if (patterns.size() > 1) {
        const QString all = patterns.join(QLatin1Char(';'));
        entries << QStringLiteral("Alle (") + all + QLatin1Char(')') << all;
    }
    for (auto* e = begin; e != end; ++e) {
        const QString pattern = QStringLiteral("*.") + QLatin1String(e->extension);
        entries << QString::fromUtf8(e->kindName) + QStringLiteral(" (") + pattern +
                       QLatin1Char(')')
                << pattern;
    }
    entries << bitmapFilter;
    return entries.join(QLatin1Char('|'));
}

QString CloseConfirmationText(const QString& saveAsCaption) {
    return QStringLiteral("Das aktuelle Bild wird verworfen !\rFalls Sie es noch benötigen und es "
                          "noch nicht gesichert haben\rdann wählen Sie im Menü ") +
           QLatin1Char('"') + saveAsCaption + QLatin1Char('"') + QStringLiteral(" aus!\r\r") +
           QStringLiteral("Wollen Sie das aktuelle Bild verwerfen?");
}

QString LoadFailedWarningText(const QString& productVersion, int bits, const QString& mailAddress) {
    return QStringLiteral("Das Bild konnte nicht geladen werden oder hat die Breite und/oder die "
                          "Höhe 0.\rSchließen Sie das Bild bitte wieder.\r\r") +
           QStringLiteral("Wenn es sich hier um einen Programmfehler handelt, dann mailen\rSie "
                          "bitte, wenn möglich, das Bild unter Angabe der\rVersionsnummer (") +
           productVersion + QStringLiteral(" %1-Bit").arg(bits) + QStringLiteral(")\r") +
           QStringLiteral("an ") + mailAddress + QStringLiteral(" .");
}

bool OffersPackedDib(const QMimeData* data) {
    return data && (data->hasFormat(BmpMimeType) || data->hasImage());
}

QByteArray PackedDibFromMimeData(const QMimeData* data) {
    if (!data)
        return {};
    // Another program's BMP is taken as it is, so its palette and bit depth survive; the DIB
    // reader checks every field of it anyway.
    if (data->hasFormat(BmpMimeType)) {
        const QByteArray bmp = data->data(BmpMimeType);
        if (bmp.size() > BmpFileHeaderSize && bmp.startsWith("BM"))
            return bmp.mid(BmpFileHeaderSize);
    }
    if (!data->hasImage())
        return {};
    const QImage image = qvariant_cast<QImage>(data->imageData());
    if (image.isNull())
        return {};
    return EncodeBmpFile(image).mid(BmpFileHeaderSize);
}

bool OffersMetafile(const QMimeData* data) {
    if (!data)
        return false;
    for (const auto* types : {&EmfMimeTypes, &WmfMimeTypes})
        for (const char* type : *types)
            if (data->hasFormat(QLatin1String(type)))
                return true;
    return false;
}

std::unique_ptr<TMetafile> MetafileFromMimeData(const QMimeData* data) {
    const QByteArray bytes = OfferedMetafile(data);
    if (bytes.isEmpty())
        return nullptr;
    return std::make_unique<TMetafile>(bytes);
}

QMimeData* MimeDataForGraphic(const TGraphic& graphic) {
    auto* data = new QMimeData;
    if (graphic.Kind() == GraphicKind::Metafile) {
        // The same enhanced metafile under every name a receiver may ask for.
        const QByteArray emf = MetafileBytes(graphic, TMetafileKind::Emf);
        for (const char* type : EmfMimeTypes)
            data->setData(QLatin1String(type), emf);
    }
    // Qt offers an image in every format a receiver asks for (BMP with its palette, PNG, ...).
    data->setImageData(RenderGraphic(graphic));
    return data;
}

// Metafile pictures leaving Velmora: saved under .wmf/.emf (their own bytes or a conversion),
// rasterised as .bmp/.jpg, and put on and taken off the clipboard.

#include "pictures/PictureCommands.h"
#include "pictures/PictureFiles.h"
#include "pictures/metafile/MetaRecorder.h"
#include "platform/Errors.h"
#include "tests/unit/pictures/PictureTestSupport.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace picturetest;

namespace {

const QString EmfTypes[] = {
    QStringLiteral("image/emf"), QStringLiteral("image/x-emf"),
    QStringLiteral("application/x-openoffice-emf;windows_formatname=\"Image EMF\"")};
const QString WmfTypes[] = {
    QStringLiteral("image/wmf"), QStringLiteral("image/x-wmf"),
    QStringLiteral("application/x-openoffice-wmf;windows_formatname=\"Image WMF\"")};

// A small drawing recorded by Velmora's own writer.
TMetafile Sample(TMetafileKind kind, QSize size = {120, 80}) {
    TMetaRecorder recorder(kind, size);
    QPainter p(&recorder);
    p.setPen(QPen(Qt::darkBlue, 2));
    p.setBrush(QColor(250, 200, 0));
    p.drawEllipse(QRectF(10, 10, 100, 60));
    p.setFont(QFont(QStringLiteral("Liberation Sans"), 14));
    p.drawText(QPointF(30, 48), QStringLiteral("Velmora"));
    p.end();
    return TMetafile(recorder.Bytes());
}

const char* Name(TMetafileKind kind) {
    return kind == TMetafileKind::Emf ? "EMF" : "WMF";
}

} // namespace

TEST(MetafileFiles, SavedAsMetafileOwnKindVerbatimOtherKindConverted) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        TMetafileKind picture;
        const char* fileName;
        TMetafileKind written;
    } cases[] = {
        {TMetafileKind::Emf, "a.emf", TMetafileKind::Emf},
        {TMetafileKind::Emf, "b.WMF", TMetafileKind::Wmf},
        {TMetafileKind::Wmf, "c.wmf", TMetafileKind::Wmf},
        {TMetafileKind::Wmf, "d.Emf", TMetafileKind::Emf},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << Name(c.picture) << " as " << c.fileName);
        const TMetafile picture = Sample(c.picture);
        const QString path = dir.filePath(QString::fromLatin1(c.fileName));
        ASSERT_TRUE(SaveGraphicToFile(picture, path));
        const QByteArray written = ReadFile(path);
        EXPECT_EQ(MetafileKindOf(written), c.written);
        if (c.picture == c.written) {
            EXPECT_EQ(written, picture.OriginalBytes());
            continue;
        }
        const TMetafile reread(written);
        EXPECT_EQ(reread.Width(), picture.Width());
        EXPECT_EQ(reread.Height(), picture.Height());
        // A WMF is always written with its placeable header, which carries the size.
        if (c.written == TMetafileKind::Wmf) {
            EXPECT_EQ(written.left(4), QByteArray("\xD7\xCD\xC6\x9A", 4));
        }
    }
}

TEST(MetafileFiles, RasterisedAtOwnSizeForBitmapExtensionsNothingForOthers) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TMetafile picture = Sample(TMetafileKind::Emf, {97, 43});
    for (const char* name : {"r.bmp", "r.dib", "r.jpg", "r.JPEG", "r.png"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(SaveGraphicToFile(picture, path));
        QImage image;
        ASSERT_TRUE(image.loadFromData(ReadFile(path)));
        EXPECT_EQ(image.size(), QSize(97, 43));
    }
    for (const char* name : {"r.ico", "r"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_FALSE(SaveGraphicToFile(picture, path));
        EXPECT_FALSE(QFile::exists(path));
    }
}

TEST(MetafileFiles, SavingWhereNoFileCanBeMadeRaises) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder of that name (refused even for root) and a missing folder.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.emf")));
    const TMetafile picture = Sample(TMetafileKind::Wmf);
    for (const QString& path : {dir.filePath(QStringLiteral("taken.emf")),
                                dir.filePath(QStringLiteral("no/such/x.wmf"))}) {
        SCOPED_TRACE(path.toStdString());
        try {
            SaveGraphicToFile(picture, path);
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Datei %1 kann nicht erstellt werden").arg(path));
        }
    }
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("taken.emf"))).isDir());
}

TEST(MetafileClipboard, CopiedAsEnhancedMetafileUnderEveryNamePlusAnImage) {
    for (TMetafileKind kind : {TMetafileKind::Emf, TMetafileKind::Wmf}) {
        SCOPED_TRACE(Name(kind));
        const TMetafile picture = Sample(kind, {64, 48});
        std::unique_ptr<QMimeData> data(MimeDataForGraphic(picture));
        const QByteArray emf = data->data(EmfTypes[0]);
        EXPECT_EQ(MetafileKindOf(emf), TMetafileKind::Emf);
        if (kind == TMetafileKind::Emf) {
            EXPECT_EQ(emf, picture.OriginalBytes());
        }
        for (const QString& type : EmfTypes)
            EXPECT_EQ(data->data(type), emf) << type.toStdString();
        ASSERT_TRUE(data->hasImage());
        EXPECT_EQ(qvariant_cast<QImage>(data->imageData()).size(), QSize(64, 48));

        // Pasting it back gives the same enhanced metafile, not the image.
        ASSERT_TRUE(OffersMetafile(data.get()));
        const std::unique_ptr<TMetafile> pasted = MetafileFromMimeData(data.get());
        ASSERT_TRUE(pasted);
        EXPECT_EQ(pasted->MetafileKind(), TMetafileKind::Emf);
        EXPECT_EQ(pasted->OriginalBytes(), emf);
        EXPECT_EQ(pasted->Width(), 64);
        EXPECT_EQ(pasted->Height(), 48);
    }
}

TEST(MetafileClipboard, PastedFromWhateverNameAnotherProgramUsed) {
    const QByteArray emf = Sample(TMetafileKind::Emf).OriginalBytes();
    const QByteArray wmf = Sample(TMetafileKind::Wmf).OriginalBytes();
    std::vector<std::pair<QString, QByteArray>> offers;
    for (const QString& type : EmfTypes)
        offers.emplace_back(type, emf);
    for (const QString& type : WmfTypes)
        offers.emplace_back(type, wmf);
    for (const auto& [type, bytes] : offers) {
        SCOPED_TRACE(type.toStdString());
        QMimeData data;
        data.setData(type, bytes);
        EXPECT_TRUE(OffersMetafile(&data));
        const std::unique_ptr<TMetafile> pasted = MetafileFromMimeData(&data);
        ASSERT_TRUE(pasted);
        EXPECT_EQ(pasted->OriginalBytes(), bytes);
    }
    // Both kinds offered: the enhanced one wins.
    QMimeData both;
    both.setData(WmfTypes[0], wmf);
    both.setData(EmfTypes[1], emf);
    EXPECT_EQ(MetafileFromMimeData(&both)->MetafileKind(), TMetafileKind::Emf);
}

TEST(MetafileClipboard, NothingOrDamagedOffered) {
    QMimeData text;
    text.setText(QStringLiteral("kein Bild"));
    EXPECT_FALSE(OffersMetafile(&text));
    EXPECT_EQ(MetafileFromMimeData(&text), nullptr);
    EXPECT_FALSE(OffersMetafile(nullptr));
    EXPECT_EQ(MetafileFromMimeData(nullptr), nullptr);

    QMimeData damaged;
    damaged.setData(EmfTypes[0], QByteArray("\x01\x00\x00\x00garbage", 11));
    EXPECT_TRUE(OffersMetafile(&damaged));
    try {
        MetafileFromMimeData(&damaged);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Metadatei ist ungültig"));
    }
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

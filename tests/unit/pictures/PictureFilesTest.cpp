// Loading picture files by extension, icons, and saving a picture or a bitmap: the messages a
// user sees, files compared with what other programs read, and files that are replaced whole or
// not at all.

#include "pictures/PictureFiles.h"
#include "layout/BmpWriter.h"
#include "layout/Dib.h"
#include "pictures/IconFile.h"
#include "pictures/Jpeg.h"
#include "platform/Errors.h"
#include "tests/unit/pictures/PictureTestSupport.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace picturetest;

namespace {

template <typename Error, typename F> QString MessageOf(F f) {
    try {
        f();
    } catch (const Error& e) {
        return e.Message();
    } catch (const Exception& e) {
        return QStringLiteral("%1: %2").arg(QLatin1String(e.ClassName()), e.Message());
    }
    return QStringLiteral("(no error)");
}

// An icon directory with the given entries, each a bitmap entry (BITMAPINFOHEADER, colour
// table, colour rows, 1-bit mask rows) or raw bytes such as a PNG file.
struct IcoEntry {
    QByteArray data;
    int dirWidth;
    int dirHeight;
    int bitCount;
    qint64 offsetOverride = -1;
};

QByteArray Le(quint32 v, int bytes) {
    QByteArray b;
    for (int i = 0; i < bytes; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

QByteArray BuildIco(const std::vector<IcoEntry>& entries, int type = 1) {
    QByteArray dir = Le(0, 2) + Le(quint32(type), 2) + Le(quint32(entries.size()), 2);
    QByteArray data;
    const qint64 first = 6 + 16 * qint64(entries.size());
    for (const IcoEntry& e : entries) {
        const qint64 offset = e.offsetOverride >= 0 ? e.offsetOverride : first + data.size();
        dir += Le(quint32(e.dirWidth & 0xFF), 1) + Le(quint32(e.dirHeight & 0xFF), 1) + Le(0, 2) +
               Le(1, 2) + Le(quint32(e.bitCount), 2) + Le(quint32(e.data.size()), 4) +
               Le(quint32(offset), 4);
        data += e.data;
    }
    return dir + data;
}

// A bitmap icon entry of `image` at 8, 24 or 32 bits; alpha 0 pixels are masked out.
IcoEntry BmpEntry(const QImage& image, int bitCount) {
    const int w = image.width();
    const int h = image.height();
    QVector<QRgb> palette;
    if (bitCount == 8)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (!palette.contains(image.pixel(x, y) | 0xFF000000))
                    palette.append(image.pixel(x, y) | 0xFF000000);
    QByteArray b = Le(40, 4) + Le(quint32(w), 4) + Le(quint32(2 * h), 4) + Le(1, 2) +
                   Le(quint32(bitCount), 2) + Le(0, 4) + Le(0, 4) + Le(0, 4) + Le(0, 4) +
                   Le(quint32(palette.size()), 4) + Le(0, 4);
    for (QRgb c : palette)
        b += Le(c & 0xFFFFFF, 4);
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row;
        for (int x = 0; x < w; ++x) {
            const QRgb c = image.pixel(x, y);
            if (bitCount == 8)
                row += char(palette.indexOf(c | 0xFF000000));
            else
                row += Le(c & 0xFFFFFF, 3) + (bitCount == 32 ? Le(qAlpha(c), 1) : QByteArray());
        }
        while (row.size() % 4)
            row += '\0';
        b += row;
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row((w + 31) / 32 * 4, '\0');
        for (int x = 0; x < w; ++x)
            if (qAlpha(image.pixel(x, y)) == 0)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        b += row;
    }
    return {b, w, h, bitCount};
}

QImage Filled(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

class PictureFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(PictureFilesTest, ExtensionDecidesHowAFileLoads) {
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.jpg"));
    WriteFile(Path(QStringLiteral("bad.bmp")), "BMxxxx");
    WriteFile(Path(QStringLiteral("bad.jpeg")), "\xFF\xD8\xFF\xFF");
    WriteFile(Path(QStringLiteral("bad.ico")), QByteArray(40, '\x01'));
    WriteFile(Path(QStringLiteral("picture.wmf")), QByteArray(40, '\0'));
    WriteFile(Path(QStringLiteral("x.dib")), EncodeBmpFile(Filled(2, 2, qRgb(1, 2, 3))));
    const QString missing = Path(QStringLiteral("missing.jpg"));
    const struct {
        QString file;
        QString message;
    } cases[] = {
        // The extension is looked at before the file: an unknown one needs no file at all.
        {QStringLiteral("nowhere/x.txt"), QStringLiteral("Unbekannte Bilddateierweiterung (.txt)")},
        {QStringLiteral("nowhere/x.Txt"), QStringLiteral("Unbekannte Bilddateierweiterung (.Txt)")},
        {QStringLiteral("nowhere/no-extension"),
         QStringLiteral("Unbekannte Bilddateierweiterung (.)")},
        {QStringLiteral("nowhere.d/file"), QStringLiteral("Unbekannte Bilddateierweiterung (.)")},
        {QStringLiteral("x.dib"), QStringLiteral("Unbekannte Bilddateierweiterung (.dib)")},
        {QStringLiteral("missing.jpg"),
         QStringLiteral("EFOpenError: Datei %1 kann nicht geöffnet werden").arg(missing)},
        {QStringLiteral("folder.jpg"),
         QStringLiteral("EFOpenError: Datei %1 kann nicht geöffnet werden")
             .arg(Path(QStringLiteral("folder.jpg")))},
        {QStringLiteral("bad.bmp"), QStringLiteral("Bitmap ist ungültig")},
        {QStringLiteral("bad.ico"), QStringLiteral("Ungültiges Symbol")},
        {QStringLiteral("picture.wmf"), QStringLiteral("Metadatei ist ungültig")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { LoadPictureFile(Path(c.file)); }), c.message);
    }
    EXPECT_THROW(LoadPictureFile(Path(QStringLiteral("bad.jpeg"))), EJPEG);
}

TEST_F(PictureFilesTest, JpegKeepsItsBytesAndSavesAsBmpDecoded) {
    REQUIRE_TOOLS("convert", "identify", "cjpeg");
    const QByteArray jpeg = RunTool(QStringLiteral("cjpeg"), {MakeSourcePicture(m_dir.path())});
    WriteFile(Path(QStringLiteral("photo.JPG")), jpeg);
    const auto graphic = LoadPictureFile(Path(QStringLiteral("photo.JPG")));
    ASSERT_EQ(graphic->Kind(), GraphicKind::Jpeg);
    const auto& image = static_cast<const TJpegImage&>(*graphic);

    ASSERT_TRUE(SaveGraphicToFile(*graphic, Path(QStringLiteral("copy.jpeg"))));
    EXPECT_EQ(ReadFile(Path(QStringLiteral("copy.jpeg"))), jpeg);

    ASSERT_TRUE(SaveGraphicToFile(*graphic, Path(QStringLiteral("copy.bmp"))));
    EXPECT_EQ(DecodeBmpFile(ReadFile(Path(QStringLiteral("copy.bmp")))), image.Image());
    EXPECT_EQ(
        MaxChannelDifference(DecodeWithMagick(Path(QStringLiteral("copy.bmp"))), image.Image()), 0);
}

// Every pixel format a picture holds is written so that Velmora and ImageMagick read back the
// same pixels, palettes included.
TEST_F(PictureFilesTest, BitmapsSaveAsBmpThatOthersRead) {
    REQUIRE_TOOLS("convert", "identify");
    QImage rgb(37, 11, QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            rgb.setPixel(x, y, qRgb(x * 7, y * 23, (x * y) % 256));
    QImage mono = rgb.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    mono.setColorTable({qRgb(10, 20, 30), qRgb(250, 240, 230)});
    QImage indexed = rgb.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    QImage alpha = rgb.convertToFormat(QImage::Format_ARGB32);
    alpha.setPixel(3, 4, qRgba(255, 0, 0, 0));
    alpha.setPixel(5, 4, qRgba(0, 0, 255, 128));

    const struct {
        const char* name;
        QImage image;
    } cases[] = {
        {"1-bit", mono},
        {"1-bit LSB first", mono.convertToFormat(QImage::Format_MonoLSB)},
        {"8-bit palette", indexed},
        {"greyscale", rgb.convertToFormat(QImage::Format_Grayscale8)},
        {"24-bit", rgb},
        {"32-bit", rgb.convertToFormat(QImage::Format_RGB32)},
        {"alpha", alpha},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Path(QStringLiteral("x.dib"));
        ASSERT_TRUE(SaveBitmapToFile(c.image, path));
        const QImage back = DecodeBmpFile(ReadFile(path));
        EXPECT_EQ(back.convertToFormat(QImage::Format_ARGB32),
                  c.image.convertToFormat(QImage::Format_ARGB32));
        if (c.image.format() == QImage::Format_Mono ||
            c.image.format() == QImage::Format_Indexed8) {
            EXPECT_EQ(back.colorTable(), c.image.colorTable());
        }
        const bool hasAlpha = c.image.hasAlphaChannel();
        const QImage magick = DecodeWithMagick(path, hasAlpha);
        EXPECT_EQ(magick.convertToFormat(QImage::Format_ARGB32),
                  c.image.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST_F(PictureFilesTest, BitmapSavedAsJpegReadsBackClose) {
    QImage smooth(200, 120, QImage::Format_RGB888);
    for (int y = 0; y < smooth.height(); ++y)
        for (int x = 0; x < smooth.width(); ++x)
            smooth.setPixel(x, y, qRgb(x, 60 + y, 255 - x));
    TBitmap bitmap;
    bitmap.SetImage(smooth);
    ASSERT_TRUE(SaveGraphicToFile(bitmap, Path(QStringLiteral("smooth.JPEG"))));
    const QImage back = DecodeJpeg(ReadFile(Path(QStringLiteral("smooth.JPEG"))));
    constexpr int Quality90OnSmoothPicture = 4;
    EXPECT_LE(MaxChannelDifference(back, smooth), Quality90OnSmoothPicture);
}

TEST_F(PictureFilesTest, BitmapSavedAsPngReadsBackExactly) {
    QImage rgb(37, 11, QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            rgb.setPixel(x, y, qRgb(x * 7, y * 23, (x * y) % 256));
    for (const char* name : {"x.png", "y.PNG"}) {
        SCOPED_TRACE(name);
        const QString path = Path(QString::fromLatin1(name));
        ASSERT_TRUE(SaveBitmapToFile(rgb, path));
        EXPECT_TRUE(ReadFile(path).startsWith("\x89PNG"));
        EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB888), rgb);
    }
}

TEST_F(PictureFilesTest, ExtensionsWithoutAWriterWriteNothing) {
    TBitmap bitmap;
    bitmap.SetImage(Filled(4, 4, qRgb(9, 9, 9)));
    EXPECT_FALSE(SaveGraphicToFile(bitmap, Path(QStringLiteral("a.wmf"))));
    EXPECT_FALSE(SaveGraphicToFile(bitmap, Path(QStringLiteral("a.gif"))));
    EXPECT_FALSE(SaveBitmapToFile(bitmap.Image(), Path(QStringLiteral("a.ico"))));
    EXPECT_FALSE(SaveBitmapToFile(bitmap.Image(), Path(QStringLiteral("a"))));
    EXPECT_TRUE(AllEntries(m_dir.path()).isEmpty());
}

TEST_F(PictureFilesTest, SavingReplacesAFileWholeOrNotAtAll) {
    const QString path = Path(QStringLiteral("page.bmp"));
    WriteFile(path, "old content");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    const QImage big = Filled(1000, 1000, qRgb(1, 2, 3)).convertToFormat(QImage::Format_RGB888);

    {
        const FileSizeLimit limit(100 * 1000); // the disk fills up halfway
        EXPECT_EQ(MessageOf<EFCreateError>([&] { SaveBitmapToFile(big, path); }),
                  QStringLiteral("Datei %1 kann nicht erstellt werden").arg(path));
    }
    EXPECT_EQ(ReadFile(path), "old content");
    EXPECT_EQ(AllEntries(m_dir.path()), QStringList{QStringLiteral("page.bmp")});

    ASSERT_TRUE(SaveBitmapToFile(big, path));
    EXPECT_EQ(DecodeBmpFile(ReadFile(path)), big);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(AllEntries(m_dir.path()), QStringList{QStringLiteral("page.bmp")});

    // Through a symbolic link the file it points to is replaced; the link stays.
    const QString link = Path(QStringLiteral("link.bmp"));
    ASSERT_TRUE(QFile::link(path, link));
    const QImage small = Filled(3, 3, qRgb(7, 8, 9)).convertToFormat(QImage::Format_RGB888);
    ASSERT_TRUE(SaveBitmapToFile(small, link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(DecodeBmpFile(ReadFile(path)), small);
}

TEST_F(PictureFilesTest, TargetsThatCannotBeWrittenRaiseCreateErrors) {
    const QImage image = Filled(3, 3, qRgb(7, 8, 9));
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.jpg"));
    const QString cases[] = {Path(QStringLiteral("folder.jpg")),
                             Path(QStringLiteral("no/such/folder/x.bmp"))};
    for (const QString& path : cases)
        EXPECT_EQ(MessageOf<EFCreateError>([&] { SaveBitmapToFile(image, path); }),
                  QStringLiteral("Datei %1 kann nicht erstellt werden").arg(path));
    EXPECT_TRUE(QFileInfo(cases[0]).isDir());

    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files";
    const QString readOnly = Path(QStringLiteral("ro.bmp"));
    WriteFile(readOnly, "keep");
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    EXPECT_THROW(SaveBitmapToFile(image, readOnly), EFCreateError);
    EXPECT_EQ(ReadFile(readOnly), "keep");
}

// ---------------------------------------------------------------------------------------------
// Icons

TEST_F(PictureFilesTest, IconFromImageMagickGivesItsLargestEntryOnWhite) {
    REQUIRE_TOOLS("convert", "identify");
    const QString ico = Path(QStringLiteral("multi.ICO"));
    // A colour picture with a radial transparency, written in four sizes; 256 × 256 is PNG.
    RunTool(QStringLiteral("convert"),
            {QStringLiteral("-size"), QStringLiteral("300x300"),
             QStringLiteral("gradient:red-blue"), QStringLiteral("("), QStringLiteral("-size"),
             QStringLiteral("300x300"), QStringLiteral("radial-gradient:white-black"),
             QStringLiteral(")"), QStringLiteral("-alpha"), QStringLiteral("off"),
             QStringLiteral("-compose"), QStringLiteral("CopyOpacity"),
             QStringLiteral("-composite"), QStringLiteral("-define"),
             QStringLiteral("icon:auto-resize=16,48,256,32"), ico});
    const QByteArray file = ReadFile(ico);
    ASSERT_GE(file.indexOf("\x89PNG"), 0) << "no PNG-compressed entry";

    const auto graphic = LoadPictureFile(ico);
    ASSERT_EQ(graphic->Kind(), GraphicKind::Bitmap);
    const QImage& bitmap = static_cast<const TBitmap&>(*graphic).Image();
    EXPECT_EQ(bitmap.size(), QSize(256, 256));
    EXPECT_EQ(bitmap.format(), QImage::Format_RGB888);

    int frame = -1;
    for (int i = 0; i < 4 && frame < 0; ++i)
        if (DecodeWithMagick(ico, true, i).width() == 256)
            frame = i;
    ASSERT_GE(frame, 0);
    QImage expected(256, 256, QImage::Format_RGB888);
    expected.fill(Qt::white);
    QPainter(&expected).drawImage(0, 0, DecodeWithMagick(ico, true, frame));
    constexpr int CompositingRounding = 2; // Qt blends with approximate division by 255
    EXPECT_LE(MaxChannelDifference(bitmap, expected), CompositingRounding);
}

TEST_F(PictureFilesTest, IconPicksMostPixelsThenMostColoursAndSkipsDamagedEntries) {
    QImage blue = Filled(32, 32, qRgb(0, 0, 255));
    blue.setPixel(1, 1, qRgba(0, 0, 255, 0));   // masked out: white
    blue.setPixel(2, 1, qRgba(0, 0, 255, 128)); // half: light blue
    const IcoEntry green16 = BmpEntry(Filled(16, 16, qRgb(0, 255, 0)), 24);
    const IcoEntry red8 = BmpEntry(Filled(32, 32, qRgb(255, 0, 0)), 8);
    const IcoEntry blue32 = BmpEntry(blue, 32);

    const QImage best = IconToBitmap(DecodeIconFile(BuildIco({green16, red8, blue32})));
    ASSERT_EQ(best.size(), QSize(32, 32));
    EXPECT_EQ(best.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(best.pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(best.pixel(2, 1), qRgb(127, 127, 255));

    // The best entry's data lies beyond the end of the file: the next best is shown.
    IcoEntry lost = blue32;
    lost.offsetOverride = 1 << 20;
    EXPECT_EQ(DecodeIconFile(BuildIco({green16, lost, red8})).pixel(0, 0), qRgb(255, 0, 0));

    // Entries declaring giant pictures are never handed to Qt.
    IcoEntry giant = red8;
    giant.dirWidth = giant.dirHeight = 0; // "see the bitmap header", which says 100000 × 50000
    giant.data.replace(4, 8, Le(100000, 4) + Le(100000, 4));
    QByteArray png("\x89PNG\r\n\x1A\n", 8);
    png +=
        QByteArray("\0\0\0\x0DIHDR", 8) + QByteArray("\0\0\x0F\xA0\0\0\x0F\xA0\x08\x06\0\0\0", 13);
    png += QByteArray(200, '\0');
    const IcoEntry pngGiant{png, 0, 0, 32};
    EXPECT_EQ(DecodeIconFile(BuildIco({giant, pngGiant, green16})).size(), QSize(16, 16));
    EXPECT_THROW(DecodeIconFile(BuildIco({giant, pngGiant})), EInvalidGraphic);
}

TEST_F(PictureFilesTest, DamagedIconsAreInvalid) {
    const QByteArray good = BuildIco({BmpEntry(Filled(16, 16, qRgb(1, 2, 3)), 24)});
    ASSERT_EQ(DecodeIconFile(good).size(), QSize(16, 16));
    QByteArray noEntries = good;
    noEntries[4] = 0;
    const QByteArray cases[] = {
        QByteArray(),
        good.left(5),
        noEntries,
        good.left(6 + 8),                               // directory cut short
        good.left(good.size() - 10),                    // mask rows cut short
        BuildIco({BmpEntry(Filled(16, 16, 0), 24)}, 2), // a cursor
    };
    for (const QByteArray& file : cases)
        EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { DecodeIconFile(file); }),
                  QStringLiteral("Ungültiges Symbol"));
}

} // namespace

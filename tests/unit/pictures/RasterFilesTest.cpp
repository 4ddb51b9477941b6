// PNG, GIF and TIFF files: opened by extension with their size, pixels and recorded resolution,
// every page of a TIFF in order, saved and read back, and damaged files refused with the message
// a damaged BMP gets. The files come from Qt's writers and ImageMagick, not from Velmora.

#include "pictures/RasterFiles.h"
#include "layout/Graphic.h"
#include "pictures/PictureFiles.h"
#include "platform/Errors.h"
#include "tests/unit/pictures/PictureTestSupport.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace picturetest;

namespace {

int DotsPerMeter(int dpi) {
    return qRound(dpi / 0.0254);
}

QImage Pattern(int w, int h, QImage::Format format, QSize dpi = {}) {
    QImage rgb(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            rgb.setPixel(x, y,
                         (x + y) % 3 == 0   ? qRgb(0, 0, 0)
                         : (x * y) % 5 == 0 ? qRgb(255, 255, 255)
                                            : qRgb(x * 9 % 256, y * 31 % 256, 200));
    QImage image = format == QImage::Format_Mono ? rgb.convertToFormat(format, Qt::ThresholdDither)
                                                 : rgb.convertToFormat(format);
    if (dpi.isValid()) {
        image.setDotsPerMeterX(DotsPerMeter(dpi.width()));
        image.setDotsPerMeterY(DotsPerMeter(dpi.height()));
    }
    return image;
}

QImage Rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB888);
}

QByteArray QtFile(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

// The PNG without its pHYs chunk: a file that records no resolution.
QByteArray WithoutResolution(const QByteArray& png) {
    QByteArray out = png.left(8);
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const qsizetype length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) != "pHYs")
            out += png.mid(at, length + 12);
        at += length + 12;
    }
    return out;
}

quint32 Crc32(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray Be32(quint32 v) {
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

// A PNG whose header claims w × h grey pixels, with one tiny data chunk.
QByteArray PngClaiming(quint32 w, quint32 h) {
    const QByteArray ihdr = "IHDR" + Be32(w) + Be32(h) + QByteArray("\x08\x00\x00\x00\x00", 5);
    const QByteArray idat = "IDAT" + QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8);
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + Be32(13) + ihdr + Be32(Crc32(ihdr)) + Be32(8) +
           idat + Be32(Crc32(idat)) + Be32(0) + "IEND" + Be32(Crc32("IEND"));
}

QByteArray Le(quint32 v, int bytes) {
    QByteArray b;
    for (int i = 0; i < bytes; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

// An uncompressed 8-bit grey TIFF whose only page claims w × h pixels, with 16 bytes of data;
// with a resolution in dots per inch when `xDpi` is given.
QByteArray TiffClaiming(quint32 w, quint32 h, quint32 xDpi = 0, quint32 yDpi = 0) {
    struct Entry {
        quint16 tag, type;
        quint32 value;
    };
    std::vector<Entry> entries = {{256, 4, w}, {257, 4, h}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                  {273, 4, 8}, {277, 3, 1}, {278, 4, h}, {279, 4, 16}};
    const quint32 ifd = 8 + 16;
    const quint32 rationals = ifd + 2 + 12 * (xDpi ? 12 : 9) + 4;
    if (xDpi)
        entries.insert(entries.end(), {{282, 5, rationals}, {283, 5, rationals + 8}, {296, 3, 2}});
    QByteArray tiff = QByteArray("II*\0", 4) + Le(ifd, 4) + QByteArray(16, '\x7f');
    tiff += Le(quint32(entries.size()), 2);
    for (const Entry& e : entries)
        tiff += Le(e.tag, 2) + Le(e.type, 2) + Le(1, 4) + Le(e.value, 4);
    tiff += Le(0, 4);
    if (xDpi)
        tiff += Le(xDpi, 4) + Le(1, 4) + Le(yDpi, 4) + Le(1, 4);
    return tiff;
}

QString MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return QStringLiteral("%1: %2").arg(QLatin1String(e.ClassName()), e.Message());
    }
    return QStringLiteral("(no error)");
}

class RasterFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString Write(const QString& name, const QByteArray& bytes) const {
        WriteFile(Path(name), bytes);
        return Path(name);
    }
    // ImageMagick's conversion of `source` (written as PNG first) into `name`.
    QString Magick(const QImage& source, const QStringList& options, const QString& name) const {
        const QString png = Write(name + QStringLiteral(".src.png"), QtFile(source, "png"));
        RunTool(QStringLiteral("convert"), QStringList{png} + options + QStringList{Path(name)});
        return Path(name);
    }
    QTemporaryDir m_dir;
};

TEST_F(RasterFilesTest, EachKindOpensWithItsSizePixelsAndResolution) {
    REQUIRE_TOOLS("convert");
    const QImage colour = Pattern(37, 11, QImage::Format_RGB888, {300, 150});
    const QImage grey = Pattern(20, 50, QImage::Format_Grayscale8, {200, 100});
    const QImage fax = Pattern(64, 40, QImage::Format_Mono);
    QImage transparent = Pattern(5, 4, QImage::Format_ARGB32, {96 * 3, 96 * 3});
    transparent.setPixel(2, 1, qRgba(10, 20, 30, 0));
    QImage onWhite = Rgb(transparent);
    onWhite.setPixel(2, 1, qRgb(255, 255, 255));
    const QStringList faxInch = {QStringLiteral("-units"), QStringLiteral("PixelsPerInch"),
                                 QStringLiteral("-monochrome")};

    const struct {
        QString file;
        QImage expected;
        QSize dpi;
    } cases[] = {
        {Write(QStringLiteral("photo.png"), QtFile(colour, "png")), colour, {300, 150}},
        {Write(QStringLiteral("bare.PNG"), WithoutResolution(QtFile(colour, "png"))), colour, {}},
        {Write(QStringLiteral("alpha.png"), QtFile(transparent, "png")), onWhite, {288, 288}},
        {Write(QStringLiteral("scan.TIF"), QtFile(colour, "tiff")), colour, {300, 150}},
        {Write(QStringLiteral("grey.tiff"), QtFile(grey, "tiff")), grey, {200, 100}},
        {Magick(fax,
                faxInch + QStringList{QStringLiteral("-density"), QStringLiteral("204x98"),
                                      QStringLiteral("-compress"), QStringLiteral("Group4")},
                QStringLiteral("g4.tif")),
         fax,
         {204, 98}},
        {Magick(fax,
                faxInch + QStringList{QStringLiteral("-density"), QStringLiteral("204x196"),
                                      QStringLiteral("-compress"), QStringLiteral("Fax")},
                QStringLiteral("g3.tif")),
         fax,
         {204, 196}},
        {Magick(colour, {}, QStringLiteral("pattern.gif")), colour, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        std::vector<TLoadedPage> pages;
        ASSERT_NO_THROW(pages = LoadPictureFilePages(c.file));
        ASSERT_EQ(pages.size(), 1u);
        ASSERT_EQ(pages[0].graphic->Kind(), GraphicKind::Bitmap);
        const QImage& image = static_cast<const TBitmap&>(*pages[0].graphic).Image();
        EXPECT_EQ(image.size(), c.expected.size());
        EXPECT_EQ(Rgb(image), Rgb(c.expected));
        EXPECT_EQ(pages[0].dpi, c.dpi);
    }
    // A fax page stays one bit a pixel.
    const QImage g4 = RenderGraphic(*LoadPictureFile(Path(QStringLiteral("g4.tif"))));
    EXPECT_EQ(g4.depth(), 1);
}

TEST_F(RasterFilesTest, MultiPageTiffGivesEveryPageInOrder) {
    REQUIRE_TOOLS("convert");
    // As a scanner batch and a fax program write them: pages of different sizes, depths,
    // compressions and resolutions in one file.
    const QImage first = Pattern(40, 30, QImage::Format_RGB888, {300, 300});
    const QImage second = Pattern(64, 40, QImage::Format_Mono);
    const QImage third = Pattern(20, 50, QImage::Format_Grayscale8, {150, 75});
    const QString a = Write(QStringLiteral("a.tif"), QtFile(first, "tiff"));
    const QString b =
        Magick(second,
               {QStringLiteral("-monochrome"), QStringLiteral("-units"),
                QStringLiteral("PixelsPerInch"), QStringLiteral("-density"),
                QStringLiteral("204x98"), QStringLiteral("-compress"), QStringLiteral("Group4")},
               QStringLiteral("b.tif"));
    const QString c = Write(QStringLiteral("c.tif"), QtFile(third, "tiff"));
    RunTool(QStringLiteral("convert"), {a, b, c, Path(QStringLiteral("batch.tiff"))});

    const std::vector<TLoadedPage> pages = LoadPictureFilePages(Path(QStringLiteral("batch.tiff")));
    ASSERT_EQ(pages.size(), 3u);
    const QImage expected[] = {first, second, third};
    const QSize dpi[] = {{300, 300}, {204, 98}, {150, 75}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Rgb(RenderGraphic(*pages[i].graphic)), Rgb(expected[i]));
        EXPECT_EQ(pages[i].dpi, dpi[i]);
    }
    // The single-page loader gives the first page.
    EXPECT_EQ(LoadPictureFile(Path(QStringLiteral("batch.tiff")))->Width(), 40);

    // Every page fits the limit of pixels, but not all pages together.
    const QByteArray batch = ReadFile(Path(QStringLiteral("batch.tiff")));
    EXPECT_EQ(MessageOf([&] { DecodeRasterFile(batch, TRasterKind::Tiff, 64 * 40); }),
              QStringLiteral("EOutOfMemory: Zu wenig Arbeitsspeicher"));
    EXPECT_EQ(DecodeRasterFile(batch, TRasterKind::Tiff, 64 * 40 * 2).size(), 3u);
}

TEST_F(RasterFilesTest, SavedPngAndTiffReadBackTheSamePixelsAndResolution) {
    const QImage::Format formats[] = {QImage::Format_RGB888, QImage::Format_Mono,
                                      QImage::Format_Grayscale8, QImage::Format_Indexed8};
    const struct {
        const char* name;
        const char* magic;
    } files[] = {{"a.png", "\x89PNG"}, {"b.PNG", "\x89PNG"}, {"c.tif", "II*"}, {"d.TIFF", "II*"}};
    for (const auto& f : files)
        for (QImage::Format format : formats) {
            SCOPED_TRACE(std::string(f.name) + " format " + std::to_string(format));
            const QImage image = Pattern(33, 17, format);
            const QString path = Path(QString::fromLatin1(f.name));
            ASSERT_TRUE(SaveBitmapToFile(image, path, {204, 98}));
            EXPECT_TRUE(ReadFile(path).startsWith(f.magic));
            const std::vector<TLoadedPage> pages = LoadPictureFilePages(path);
            ASSERT_EQ(pages.size(), 1u);
            EXPECT_EQ(Rgb(RenderGraphic(*pages[0].graphic)), Rgb(image));
            EXPECT_EQ(pages[0].dpi, QSize(204, 98));
        }
    // A picture saved under its own resolution, through the path "Bild sichern..." takes.
    TBitmap bitmap;
    bitmap.SetImage(Pattern(8, 8, QImage::Format_RGB888));
    ASSERT_TRUE(SaveGraphicToFile(bitmap, Path(QStringLiteral("e.tiff")), {600, 300}));
    EXPECT_EQ(LoadPictureFilePages(Path(QStringLiteral("e.tiff")))[0].dpi, QSize(600, 300));
    // A grey picture from another program, with its gamma and colour profile, saved again.
    if (HaveTool("convert")) {
        const QString grey = Magick(Pattern(33, 17, QImage::Format_RGB888),
                                    {QStringLiteral("-colorspace"), QStringLiteral("Gray")},
                                    QStringLiteral("grey.png"));
        const QImage first = RenderGraphic(*LoadPictureFile(grey));
        ASSERT_TRUE(SaveBitmapToFile(first, Path(QStringLiteral("again.png"))));
        EXPECT_EQ(Rgb(RenderGraphic(*LoadPictureFile(Path(QStringLiteral("again.png"))))),
                  Rgb(first));
    }
    // A resolution no device has counts as none, and does not keep the page from being saved.
    for (const auto& [y, recorded] : {std::pair{98u, QSize(204, 98)}, {0xFFFFFFFFu, QSize()}}) {
        std::vector<TRasterPage> pages;
        ASSERT_NO_THROW(pages = DecodeRasterFile(TiffClaiming(4, 4, 204, y), TRasterKind::Tiff));
        EXPECT_EQ(pages[0].dpi, recorded);
        EXPECT_TRUE(SaveBitmapToFile(pages[0].image, Path(QStringLiteral("odd.tif"))));
    }
    // Nor does one typed into the resolution edits (they take any whole number).
    EXPECT_TRUE(SaveBitmapToFile(Pattern(4, 4, QImage::Format_RGB888),
                                 Path(QStringLiteral("typed.tif")), {2147483647, 300}));
    // GIF is read only.
    EXPECT_FALSE(CanSaveBitmapAs(Path(QStringLiteral("f.gif"))));
}

TEST_F(RasterFilesTest, DamagedFilesOfEachKindGetTheBitmapError) {
    REQUIRE_TOOLS("convert");
    const QImage colour = Pattern(64, 48, QImage::Format_RGB888, {300, 300});
    const QByteArray png = QtFile(colour, "png");
    const QByteArray tiff = QtFile(colour, "tiff");
    const QByteArray gif = ReadFile(Magick(colour, {}, QStringLiteral("source.gif")));
    const QString invalid = QStringLiteral("EInvalidGraphic: Bitmap ist ungültig");
    const struct {
        const char* name;
        QByteArray content;
    } cases[] = {
        {"empty.png", {}},
        {"text.png", "not a picture at all"},
        {"cut.png", png.left(png.size() / 2)},
        {"header-only.png", png.left(40)},
        {"huge.png", PngClaiming(100000, 100000)},
        {"no-end.png", png.left(png.size() - 12)},
        {"lying-chunk.png",
         png.left(png.size() - 12) + Be32(0x74000000) + "tEXt" + "Comment" + png.right(12)},
        {"wide.png", PngClaiming(70000, 1)},
        {"empty.gif", {}},
        {"text.gif", "GIF89a but nothing after"},
        {"cut.gif", gif.left(gif.size() / 2)},
        {"empty.tif", {}},
        {"text.tiff", "II*\0 and then nothing sensible"},
        {"cut.tif", tiff.left(tiff.size() / 2)},
        {"huge.tif", TiffClaiming(100000, 100000)},
        {"jpeg-named.tif", ReadFile(Magick(colour, {}, QStringLiteral("real.jpg")))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = Write(QString::fromLatin1(c.name), c.content);
        EXPECT_EQ(MessageOf([&] { LoadPictureFilePages(path); }), invalid);
    }
    // A page is held to the limit of pixels, for every kind; a GIF's picture also where it is
    // larger than the screen its header claims (12 × 268 here, found by fuzzing).
    const QByteArray wideGif = QByteArray::fromHex(
        "464900eb613839470c01f20000b60049a0005f8a00758bf78a5f00a04900b600000000000021f9040100"
        "00460021ff0b496d6167654d616769636b0d67606d6d603d302e3435343535002c000000000c000c0000"
        "0317680d4fe8ed86ff0f2112515144689a26003b");
    EXPECT_EQ(MessageOf([&] { DecodeRasterFile(wideGif, TRasterKind::Gif, 1000 * 1000); }),
              invalid);
    const QByteArray files[] = {png, gif, tiff};
    const TRasterKind kinds[] = {TRasterKind::Png, TRasterKind::Gif, TRasterKind::Tiff};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(MessageOf([&] { DecodeRasterFile(files[i], kinds[i], 64 * 48 - 1); }), invalid);
        EXPECT_EQ(DecodeRasterFile(files[i], kinds[i], 64 * 48).size(), 1u);
    }
    // The claim alone is refused, before anything the size of the claim is allocated.
    EXPECT_EQ(
        MessageOf([] { DecodeRasterFile(TiffClaiming(20000, 20000), TRasterKind::Tiff, 1000); }),
        invalid);
}

} // namespace

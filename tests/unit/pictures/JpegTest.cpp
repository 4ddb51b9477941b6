// JPEG decoding and encoding measured against libjpeg-turbo's tools and ImageMagick: the files
// other programs write, the damaged and hostile files a user may meet, and what Velmora writes.

#include "pictures/Jpeg.h"
#include "platform/Errors.h"
#include "tests/unit/pictures/PictureTestSupport.h"

#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace picturetest;

namespace {

// Two decoders of the same file differ by their IDCT and colour conversion rounding.
constexpr int DecoderTolerance = 3;
// Quality 100 still rounds in the DCT and the colour conversion.
constexpr int NearLosslessTolerance = 4;

struct Segment {
    int marker;
    qsizetype offset; // of the 0xFF
    qsizetype size;   // marker, length field, body and, for a scan, its coded data
};

// The marker segments of a JPEG file in order.
std::vector<Segment> Segments(const QByteArray& f) {
    std::vector<Segment> out;
    qsizetype p = 2;
    while (p + 2 <= f.size() && uchar(f[p]) == 0xFF) {
        const int marker = uchar(f[p + 1]);
        if (marker == 0xD9) {
            out.push_back({marker, p, 2});
            break;
        }
        if (p + 4 > f.size())
            break;
        qsizetype end = p + 2 + (uchar(f[p + 2]) << 8 | uchar(f[p + 3]));
        if (marker == 0xDA) { // coded data runs to the next marker other than a restart
            while (end + 1 < f.size() && !(uchar(f[end]) == 0xFF && uchar(f[end + 1]) != 0 &&
                                           (uchar(f[end + 1]) < 0xD0 || uchar(f[end + 1]) > 0xD7)))
                ++end;
        }
        out.push_back({marker, p, end - p});
        p = end;
    }
    return out;
}

QByteArray SegmentBytes(const QByteArray& f, int marker) {
    for (const Segment& s : Segments(f))
        if (s.marker == marker)
            return f.mid(s.offset, s.size);
    return {};
}

void ExpectJpegError(const QByteArray& file, long long maxPixels = MaxPicturePixels) {
    try {
        DecodeJpeg(file, maxPixels);
        ADD_FAILURE() << "decoded";
    } catch (const EJPEG& e) {
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^JPEG-Fehler #\\d+$")).match(e.Message()).hasMatch())
            << e.Message().toStdString();
    }
}

class JpegTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TOOLS("convert", "identify", "cjpeg");
        ASSERT_TRUE(m_dir.isValid());
        m_source = MakeSourcePicture(m_dir.path());
    }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QByteArray Cjpeg(const QStringList& args) {
        return RunTool(QStringLiteral("cjpeg"), args + QStringList{m_source});
    }

    QTemporaryDir m_dir;
    QString m_source;
};

TEST_F(JpegTest, DecodesWhatOtherEncodersWriteLikeImageMagick) {
    const struct {
        const char* name;
        QStringList args;
        bool grey;
    } variants[] = {
        {"baseline 4:2:0", {"-quality", "90"}, false},
        {"progressive", {"-progressive"}, false},
        {"greyscale", {"-grayscale"}, true},
        {"progressive greyscale", {"-grayscale", "-progressive"}, true},
        {"4:4:4", {"-sample", "1x1"}, false},
        {"4:2:2", {"-sample", "2x1"}, false},
        {"restart every row", {"-restart", "1"}, false},
        {"restart every block", {"-restart", "1B"}, false},
        {"arithmetic coding", {"-arithmetic"}, false},
        {"optimised Huffman tables", {"-optimize"}, false},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const QString path = Path(QStringLiteral("v.jpg"));
        WriteFile(path, Cjpeg(v.args));
        const QImage ours = DecodeJpeg(ReadFile(path));
        EXPECT_EQ(ours.format(), v.grey ? QImage::Format_Indexed8 : QImage::Format_RGB888);
        if (v.grey) {
            ASSERT_EQ(ours.colorCount(), 256);
            EXPECT_EQ(ours.color(0), qRgb(0, 0, 0));
            EXPECT_EQ(ours.color(200), qRgb(200, 200, 200));
        }
        EXPECT_LE(MaxChannelDifference(ours, DecodeWithMagick(path)), DecoderTolerance);
    }
}

// EXIF orientation is not applied: pictures are used as their pixels are stored.
TEST_F(JpegTest, ExifMarkerChangesNothing) {
    const QByteArray plain = Cjpeg({});
    // APP1 "Exif", little-endian TIFF header, one IFD entry: orientation (0x0112) = 6.
    const QByteArray tiff = QByteArray("II*\0\x08\0\0\0", 8) +
                            QByteArray("\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0", 14) +
                            QByteArray(4, '\0');
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xFF\xE1", 2);
    app1.append(char((body.size() + 2) >> 8)).append(char((body.size() + 2) & 0xFF)).append(body);
    const QByteArray withExif = plain.left(2) + app1 + plain.mid(2);
    const QString path = Path(QStringLiteral("exif.jpg"));
    WriteFile(path, withExif);
    ASSERT_EQ(RunTool(QStringLiteral("identify"),
                      {QStringLiteral("-format"), QStringLiteral("%[EXIF:Orientation]"), path}),
              "6");
    EXPECT_EQ(DecodeJpeg(withExif), DecodeJpeg(plain));
}

// ImageMagick writes CMYK as Adobe does: YCCK-coded, inverted, with an Adobe marker.
TEST_F(JpegTest, CmykAndYcckFollowTheAdobeMarker) {
    const QString ycck = Path(QStringLiteral("ycck.jpg"));
    RunTool(QStringLiteral("convert"),
            {m_source, QStringLiteral("-colorspace"), QStringLiteral("CMYK"),
             QStringLiteral("-quality"), QStringLiteral("95"), ycck});
    QByteArray file = ReadFile(ycck);
    const qsizetype adobe = file.indexOf(QByteArray("\xFF\xEE\x00\x0E"
                                                    "Adobe",
                                                    9));
    ASSERT_GE(adobe, 0);
    ASSERT_EQ(file[adobe + 15], 2) << "not YCCK-coded";
    EXPECT_LE(MaxChannelDifference(DecodeJpeg(file), DecodeWithMagick(ycck)), DecoderTolerance);

    // The same data marked plain CMYK (transform 0): colours change, ImageMagick follows.
    file[adobe + 15] = 0;
    const QString cmyk = Path(QStringLiteral("cmyk.jpg"));
    WriteFile(cmyk, file);
    EXPECT_LE(MaxChannelDifference(DecodeJpeg(file), DecodeWithMagick(cmyk)), DecoderTolerance);

    // Without the Adobe marker (turned into APP15) the ink values count as not inverted:
    // red = (255 − stored c)(255 − stored k) / 255. ImageMagick's CMYK output of the marked file
    // is 255 − stored.
    const QByteArray magickInk =
        RunTool(QStringLiteral("convert"),
                {cmyk, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("cmyk:-")});
    file[adobe + 1] = char(0xEF);
    const QImage unmarked = DecodeJpeg(file);
    ASSERT_EQ(magickInk.size(), qsizetype(unmarked.width()) * unmarked.height() * 4);
    QImage expected(unmarked.size(), QImage::Format_RGB888);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const auto* ink = reinterpret_cast<const uchar*>(magickInk.constData()) +
                              (y * expected.width() + x) * 4;
            auto channel = [&](int i) { return (ink[i] * ink[3] + 127) / 255; };
            expected.setPixel(x, y, qRgb(channel(0), channel(1), channel(2)));
        }
    EXPECT_LE(MaxChannelDifference(unmarked, expected), DecoderTolerance);
}

// A file that ends early shows what is there, as a partly downloaded photo does.
TEST_F(JpegTest, TruncatedFileDecodesItsFirstRows) {
    const QByteArray full = Cjpeg({QStringLiteral("-quality"), QStringLiteral("90")});
    const QImage whole = DecodeJpeg(full);
    const QImage part = DecodeJpeg(full.left(full.size() * 6 / 10));
    ASSERT_EQ(part.size(), whole.size());
    const int rows = whole.height() * 3 / 10;
    EXPECT_EQ(part.copy(0, 0, part.width(), rows), whole.copy(0, 0, whole.width(), rows));
}

// Whether the user is told that the file ended before its picture did.
TEST_F(JpegTest, FilesThatEndEarlyAreNoticed) {
    const QByteArray full = Cjpeg({QStringLiteral("-quality"), QStringLiteral("90")});
    const QByteArray progressive = Cjpeg({QStringLiteral("-progressive")});
    const struct {
        const char* name;
        QByteArray file;
        bool endedEarly;
    } cases[] = {
        {"complete", full, false},
        {"bytes after the end marker", full + QByteArray(100, '\x55'), false},
        {"cut in the middle", full.left(full.size() * 6 / 10), true},
        {"cut near the end", full.left(full.size() - 40), true},
        {"progressive, complete", progressive, false},
        {"progressive, cut", progressive.left(progressive.size() / 2), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool endedEarly = !c.endedEarly;
        const QImage image = DecodeJpeg(c.file, endedEarly);
        EXPECT_FALSE(image.isNull());
        EXPECT_EQ(endedEarly, c.endedEarly);
    }
}

TEST_F(JpegTest, DamagedFilesRaiseJpegErrors) {
    const QByteArray good = Cjpeg({});
    qsizetype frame = 0;
    for (const Segment& s : Segments(good))
        if (s.marker == 0xC0)
            frame = s.offset;
    ASSERT_GT(frame, 0);
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"empty", QByteArray()},
        {"not a JPEG", QByteArray("BM\x36\0\0\0\0\0\0\0\x36\0\0\0", 14)},
        {"start marker only", QByteArray("\xFF\xD8", 2)},
        {"cut inside the header", good.left(frame + 6)},
        {"random bytes after the start marker", QByteArray("\xFF\xD8", 2) + QByteArray(300, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectJpegError(c.file);
    }
}

TEST_F(JpegTest, PictureSizeIsCheckedBeforeAnythingIsAllocated) {
    const QByteArray good = Cjpeg({});
    const QImage image = DecodeJpeg(good);
    const long long pixels = static_cast<long long>(image.width()) * image.height();
    EXPECT_FALSE(DecodeJpeg(good, pixels).isNull());
    ExpectJpegError(good, pixels - 1);

    // A few hundred bytes declaring 60000 × 60000 pixels (10.8 GB of RGB).
    QByteArray huge = good;
    for (const Segment& s : Segments(good))
        if (s.marker == 0xC0) {
            huge[s.offset + 5] = huge[s.offset + 7] = char(60000 >> 8);
            huge[s.offset + 6] = huge[s.offset + 8] = char(60000 & 0xFF);
        }
    ExpectJpegError(huge);
}

// Repeating a scan is a warning to libjpeg, yet every scan may cost a pass over the picture.
TEST_F(JpegTest, EndlessScansAreRefused) {
    const QByteArray progressive = Cjpeg({QStringLiteral("-progressive")});
    const std::vector<Segment> segments = Segments(progressive);
    ASSERT_GE(segments.size(), 3u);
    const Segment& last = segments[segments.size() - 2];
    ASSERT_EQ(last.marker, 0xDA);
    const QByteArray scan = progressive.mid(last.offset, last.size);
    const QByteArray end = progressive.mid(segments.back().offset);
    const QByteArray head = progressive.left(segments.back().offset);
    EXPECT_FALSE(DecodeJpeg(head + scan.repeated(20) + end).isNull());
    ExpectJpegError(head + scan.repeated(300) + end);
}

// One picture in every pixel format the program holds: 16 × 16-aligned flat colour blocks above
// (colour), a fine grey pattern below (position of every pixel), odd width (padded rows).
struct Sample {
    QImage image;
    QImage expected; // on white, as RGB888
};

Sample MakeSample(QImage::Format format) {
    const QRgb blocks[] = {qRgb(200, 30, 30), qRgb(30, 160, 60), qRgb(40, 60, 220),
                           qRgba(250, 0, 0, 0)}; // the last is transparent where supported
    QImage rgba(53, 48, QImage::Format_ARGB32);
    for (int y = 0; y < rgba.height(); ++y)
        for (int x = 0; x < rgba.width(); ++x) {
            QRgb c;
            if (y < 16)
                c = blocks[std::min(x / 16, 3)];
            else // 1-pixel grey stripes of irregular widths
                c = ((x * 7 + y) % 5 < 2) ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            rgba.setPixel(x, y, c);
        }
    Sample s;
    if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
        format == QImage::Format_Grayscale8) {
        // Only the pattern: these formats hold no colour.
        QImage pattern = rgba.copy(0, 16, 53, 32);
        s.image = pattern.convertToFormat(format, Qt::ThresholdDither);
    } else if (format == QImage::Format_Indexed8) {
        s.image = rgba.convertToFormat(format, Qt::ThresholdDither);
        QVector<QRgb> table = s.image.colorTable();
        for (QRgb& c : table) // a half-transparent entry goes on white too
            if (qAlpha(c) == 0)
                c = qRgba(0, 0, 200, 128);
        s.image.setColorTable(table);
    } else {
        s.image = rgba.convertToFormat(format);
    }
    QImage onWhite(s.image.size(), QImage::Format_RGB888);
    onWhite.fill(Qt::white);
    QPainter(&onWhite).drawImage(0, 0, s.image);
    s.expected = onWhite;
    return s;
}

// Differences at the sample's checkpoints: every pattern pixel and the centre of each block.
int SampleDifference(const QImage& decoded, const QImage& expected) {
    if (decoded.size() != expected.size())
        return 1000;
    int worst = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            // Chroma is subsampled and smoothed, so colour is compared at block centres only, and
            // the grey pattern from two rows below the colour blocks on.
            const bool colourSample = expected.height() == 48;
            if (colourSample && y < 16 && (y != 8 || x % 16 != 8))
                continue;
            if (colourSample && y >= 16 && y < 20)
                continue;
            const QRgb a = decoded.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    return worst;
}

TEST_F(JpegTest, EncodesEveryPixelFormatOnWhite) {
    const QImage::Format formats[] = {
        QImage::Format_RGB888,   QImage::Format_BGR888,  QImage::Format_RGB32,
        QImage::Format_RGBX8888, QImage::Format_ARGB32,  QImage::Format_ARGB32_Premultiplied,
        QImage::Format_RGB16,    QImage::Format_RGBA64,  QImage::Format_Indexed8,
        QImage::Format_Mono,     QImage::Format_MonoLSB, QImage::Format_Grayscale8,
    };
    for (QImage::Format format : formats) {
        SCOPED_TRACE(format);
        const Sample s = MakeSample(format);
        EXPECT_LE(SampleDifference(DecodeJpeg(EncodeJpeg(s.image, 100)), s.expected),
                  NearLosslessTolerance);
    }
}

// What Velmora writes is what cjpeg writes for "-quality 90 -baseline": the same quantisation
// tables and frame (baseline, 8-bit, YCbCr, 2 × 2 luminance sampling), and other decoders read it.
TEST_F(JpegTest, WritesBaselineQuality90LikeCjpeg) {
    const QImage picture = DecodeWithMagick(m_source);
    const QByteArray ours = EncodeJpeg(picture);
    const QByteArray theirs =
        Cjpeg({QStringLiteral("-quality"), QStringLiteral("90"), QStringLiteral("-baseline")});
    EXPECT_EQ(SegmentBytes(ours, 0xDB), SegmentBytes(theirs, 0xDB)); // quantisation tables
    EXPECT_EQ(SegmentBytes(ours, 0xC0), SegmentBytes(theirs, 0xC0)); // baseline frame
    EXPECT_TRUE(SegmentBytes(ours, 0xC2).isEmpty());                 // not progressive
    EXPECT_TRUE(ours.startsWith(QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10)));

    const QString path = Path(QStringLiteral("ours.jpg"));
    WriteFile(path, ours);
    EXPECT_LE(MaxChannelDifference(DecodeWithMagick(path), DecodeJpeg(ours)), DecoderTolerance);
}

TEST_F(JpegTest, PicturesJpegCannotHoldRaiseJpegErrors) {
    EXPECT_THROW(EncodeJpeg(QImage()), EJPEG);
    QImage wide(70000, 1, QImage::Format_RGB888);
    wide.fill(Qt::white);
    EXPECT_THROW(EncodeJpeg(wide), EJPEG);
}

} // namespace

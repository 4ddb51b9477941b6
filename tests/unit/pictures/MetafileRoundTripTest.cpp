// Converting metafiles: every sample played into the recorder of the other kind (EMF to WMF, WMF
// to EMF) and back must render like the original, within named tolerances, and keep its size.
// The tolerances are mean differences in levels (0 to 255) per colour channel over the whole
// picture at its own size; each source is also checked to differ from a blank page by far more,
// so an empty conversion cannot pass.

#include "pictures/PictureFiles.h"
#include "pictures/metafile/MetaRecorder.h"
#include "tests/unit/pictures/PictureTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace {

// EMF keeps 1/16 px coordinates, Bézier curves, text and alpha: only edge antialiasing differs.
constexpr double ToEmfTolerance = 1.5;
// WMF rounds to its 16-bit grid, flattens curves and composites alpha on white.
constexpr double ToWmfTolerance = 3.0;
// The outside encoder's samples hold a panel of raster operations (XOR, NOT) that the player draws
// as plain copies whenever it does not draw into pixels, so a conversion records them as copies.
constexpr double RasterOpSampleTolerance = 2.5;
// A source must differ from a blank page by at least this factor times the tolerance.
constexpr double BlankFactor = 3;

double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size() || x.isNull())
        return 255;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return sum / (double(x.width()) * x.height() * 3);
}

QByteArray Sample(const char* name) {
    QFile file(QStringLiteral(VELMORA_METAFILE_SAMPLES "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Drawn(TMetafileKind kind, QSize size, const std::function<void(QPainter&)>& draw) {
    TMetaRecorder recorder(kind, size);
    QPainter p(&recorder);
    draw(p);
    p.end();
    return recorder.Bytes();
}

// What Velmora draws itself into metafiles: shapes, curves, text, images, clips and transforms.
void Scene(QPainter& p) {
    p.setPen(QPen(QColor(20, 40, 160), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(240, 200, 40));
    p.drawRect(QRectF(20, 20, 160, 100));
    p.drawEllipse(QRectF(200, 30, 120, 80));
    QPainterPath wave;
    wave.moveTo(20, 200);
    wave.cubicTo(80, 130, 140, 270, 200, 200);
    wave.lineTo(200, 260);
    wave.lineTo(20, 260);
    wave.closeSubpath();
    p.setBrush(QColor(60, 170, 90));
    p.drawPath(wave);
    QPainterPath ring; // a hole, odd-even
    ring.addEllipse(QRectF(230, 150, 100, 100));
    ring.addEllipse(QRectF(255, 175, 50, 50));
    p.setBrush(QColor(200, 40, 40));
    p.drawPath(ring);
    p.setFont(QFont(QStringLiteral("Liberation Sans"), 20, QFont::Bold));
    p.setPen(Qt::black);
    p.drawText(QPointF(30, 300), QStringLiteral("Velmora Kopie"));
    p.save();
    p.translate(300, 300);
    p.rotate(-30);
    p.setFont(QFont(QStringLiteral("Liberation Serif"), 14));
    p.drawText(QPointF(0, 0), QStringLiteral("gedreht"));
    p.restore();
    QImage photo(32, 24, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 8, y * 10, 128));
    p.drawImage(QRectF(350, 20, 96, 72), photo);
    p.setClipRect(QRect(350, 120, 60, 60));
    p.setBrush(QColor(120, 0, 160));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(330, 100, 100, 100));
}

// What only EMF can say directly: translucency, gradients and images with alpha.
void TranslucentScene(QPainter& p) {
    p.fillRect(QRect(0, 0, 200, 150), QColor(255, 255, 255));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 200));
    p.drawRect(QRect(20, 20, 100, 100));
    QLinearGradient gradient(0, 0, 200, 0);
    gradient.setColorAt(0, Qt::red);
    gradient.setColorAt(1, Qt::yellow);
    p.setBrush(gradient);
    p.drawRect(QRect(10, 130, 180, 15));
    QImage spot(40, 40, QImage::Format_ARGB32);
    spot.fill(Qt::transparent);
    {
        QPainter s(&spot);
        s.setRenderHint(QPainter::Antialiasing);
        s.setPen(Qt::NoPen);
        s.setBrush(QColor(0, 160, 0, 255));
        s.drawEllipse(QRectF(0, 0, 40, 40));
    }
    p.drawImage(QRectF(100, 40, 80, 80), spot);
}

} // namespace

TEST(MetafileRoundTrip, ConvertedBothWaysRendersLikeTheOriginal) {
    const struct {
        const char* name;
        QByteArray bytes;
        double tolerance; // of the first conversion; the way back may add as much again
    } cases[] = {
        {"sample EMF, many record kinds", Sample("ref_libuemf.emf"), RasterOpSampleTolerance},
        {"sample WMF", Sample("ref_libuemfw.wmf"), RasterOpSampleTolerance},
        {"sample EMF, HIMETRIC", Sample("ref_mm_himetric.emf"), ToWmfTolerance},
        {"sample EMF, ISOTROPIC", Sample("ref_mm_isotropic.emf"), ToWmfTolerance},
        {"sample EMF, TWIPS", Sample("ref_mm_twips.emf"), ToWmfTolerance},
        {"own EMF scene", Drawn(TMetafileKind::Emf, {460, 330}, Scene), ToWmfTolerance},
        {"own WMF scene", Drawn(TMetafileKind::Wmf, {460, 330}, Scene), ToEmfTolerance},
        {"own EMF with alpha", Drawn(TMetafileKind::Emf, {200, 150}, TranslucentScene),
         ToWmfTolerance},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        const TMetafile original(c.bytes);
        const TMetafileKind other =
            original.MetafileKind() == TMetafileKind::Emf ? TMetafileKind::Wmf : TMetafileKind::Emf;
        const QImage reference = RenderGraphic(original);
        QImage blank(reference.size(), QImage::Format_RGB888);
        blank.fill(Qt::white);
        EXPECT_GT(MeanDifference(reference, blank), BlankFactor * c.tolerance);

        const TMetafile converted(RecordGraphic(original, other));
        EXPECT_EQ(converted.MetafileKind(), other);
        EXPECT_EQ(converted.Width(), original.Width());
        EXPECT_EQ(converted.Height(), original.Height());
        const double there = MeanDifference(RenderGraphic(converted), reference);
        EXPECT_LT(there, c.tolerance);

        const TMetafile back(RecordGraphic(converted, original.MetafileKind()));
        EXPECT_EQ(back.MetafileKind(), original.MetafileKind());
        EXPECT_EQ(back.Width(), original.Width());
        EXPECT_EQ(back.Height(), original.Height());
        const double andBack = MeanDifference(RenderGraphic(back), reference);
        EXPECT_LT(andBack, 2 * c.tolerance);
        std::printf("%-32s to %s %.3f, and back %.3f\n", c.name,
                    other == TMetafileKind::Emf ? "EMF" : "WMF", there, andBack);
    }
}

TEST(MetafileRoundTrip, RecordedEmfKeepsAlphaThatWmfCompositesOnWhite) {
    // Half-transparent black over red: EMF keeps the mix with red, WMF mixes with white.
    auto draw = [](QPainter& p) {
        p.fillRect(QRect(0, 0, 40, 40), Qt::red);
        p.fillRect(QRect(10, 10, 20, 20), QColor(0, 0, 0, 128));
    };
    const QImage emf = RenderGraphic(TMetafile(Drawn(TMetafileKind::Emf, {40, 40}, draw)));
    const QImage wmf = RenderGraphic(TMetafile(Drawn(TMetafileKind::Wmf, {40, 40}, draw)));
    const QColor overRed = emf.pixelColor(20, 20);
    EXPECT_NEAR(overRed.red(), 127, 3);
    EXPECT_NEAR(overRed.green(), 0, 3);
    const QColor onWhite = wmf.pixelColor(20, 20);
    EXPECT_NEAR(onWhite.red(), 127, 3);
    EXPECT_NEAR(onWhite.green(), 127, 3);
    EXPECT_EQ(emf.pixelColor(2, 2), QColor(Qt::red));
    EXPECT_EQ(wmf.pixelColor(2, 2), QColor(Qt::red));
}

// An outside reader: LibreOffice, when installed, renders the conversions; they must look like
// its rendering of the originals (the reference images beside the samples, made the same way).
TEST(MetafileRoundTrip, ConversionsReadByAnOutsideReader) {
    REQUIRE_TOOLS("soffice");
    // LibreOffice draws both through its own player; what differs is where it draws raster
    // operations and pattern brushes differently from what the conversion made of them.
    constexpr double OutsideTestPageTolerance = 10.0;
    constexpr double OutsideMapModeTolerance = 1.0;
    const struct {
        const char* sample;
        const char* converted;
        const char* reference;
        double tolerance;
    } cases[] = {
        {"ref_libuemf.emf", "libuemf.wmf", "ref_libuemf.png", OutsideTestPageTolerance},
        {"ref_libuemfw.wmf", "libuemfw.emf", "ref_libuemfw.png", OutsideTestPageTolerance},
        {"ref_mm_himetric.emf", "himetric.wmf", "ref_mm_himetric.png", OutsideMapModeTolerance},
        {"ref_mm_twips.emf", "twips.wmf", "ref_mm_twips.png", OutsideMapModeTolerance},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList files;
    for (const auto& c : cases) {
        const TMetafile original(Sample(c.sample));
        const TMetafileKind other =
            original.MetafileKind() == TMetafileKind::Emf ? TMetafileKind::Wmf : TMetafileKind::Emf;
        picturetest::WriteFile(dir.filePath(QLatin1String(c.converted)),
                               RecordGraphic(original, other));
        files << dir.filePath(QLatin1String(c.converted));
    }
    QProcess soffice;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    soffice.setProcessEnvironment(env);
    soffice.start(QStringLiteral("soffice"),
                  QStringList{QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                              QStringLiteral("png"), QStringLiteral("--outdir"), dir.path()} +
                      files);
    ASSERT_TRUE(soffice.waitForFinished(180000));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.converted);
        const QString png =
            dir.filePath(QFileInfo(QLatin1String(c.converted)).baseName() + QStringLiteral(".png"));
        const QImage page(png);
        ASSERT_FALSE(page.isNull()) << "LibreOffice did not read " << c.converted;
        // The picture on LibreOffice's A4 page, cut out as for the reference images.
        const QImage picture = page.copy(QRect(38, 307, 718, 508));
        const QImage reference(QStringLiteral(VELMORA_METAFILE_SAMPLES "/") +
                               QLatin1String(c.reference));
        ASSERT_FALSE(reference.isNull());
        QImage blank(reference.size(), QImage::Format_RGB888);
        blank.fill(Qt::white);
        EXPECT_GT(MeanDifference(reference, blank), BlankFactor * c.tolerance);
        const double difference = MeanDifference(picture, reference);
        EXPECT_LT(difference, c.tolerance);
        std::printf("%-14s read by LibreOffice: %.3f from its rendering of the original\n",
                    c.converted, difference);
    }
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

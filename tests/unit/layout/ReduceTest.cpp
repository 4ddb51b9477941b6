// Box reduction on tiny hand-built pictures, the reduced copy behind drawing a picture small, and
// pictures printed in bands.

#include "layout/Reduce.h"
#include "layout/Graphic.h"

#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPicture>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A black hairline averaged over a 16-pixel block keeps 1/16 of full contrast (255 / 16 ≈ 16
// levels); one level is allowed for rounding.
constexpr int HairlineContrast16x = 255 / 16 - 1;
// After drawing, Qt's bilinear step from the copy (at most 30 % larger than the target) keeps
// at least a third of the copy's contrast; below this a line counts as vanished.
constexpr int MinVisibleContrast = 5;
// Colours drawn through Qt's bilinear interpolation may differ by its 8-bit rounding.
constexpr int DrawTolerance = 2;

// Pictures from pixel lists, row by row.
QImage Image(int w, int h, QImage::Format format, std::initializer_list<QRgb> pixels) {
    QImage img(w, h, format);
    auto p = pixels.begin();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, *p++);
    return img;
}
QImage Grey(int w, int h, std::initializer_list<int> values) {
    QImage img(w, h, QImage::Format_Grayscale8);
    auto v = values.begin();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.scanLine(y)[x] = uchar(*v++);
    return img;
}
QImage Indexed(int w, int h, const QList<QRgb>& palette, std::initializer_list<int> indexes) {
    QImage img(w, h, QImage::Format_Indexed8);
    img.setColorTable(palette);
    auto i = indexes.begin();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.scanLine(y)[x] = uchar(*i++);
    return img;
}
QList<QRgb> GreyPalette(bool reversed = false) {
    QList<QRgb> greys;
    for (int i = 0; i < 256; ++i)
        greys << (reversed ? qRgb(255 - i, 255 - i, 255 - i) : qRgb(i, i, i));
    return greys;
}
QImage BilevelPage(int w, int h, QImage::Format format = QImage::Format_Mono) {
    QImage page(w, h, format);
    page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)}); // index 1 is ink
    page.fill(0);
    return page;
}

int GreyAt(const QImage& img, int x, int y) {
    return qGray(img.pixel(x, y));
}
QRgb Premultiplied(const QImage& img, int x) {
    return reinterpret_cast<const QRgb*>(img.constScanLine(0))[x];
}
bool Near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QImage Preview(const TRasterGraphic& graphic, int w, int h) {
    QImage bitmap(w, h, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    graphic.Draw(painter, QRect(0, 0, w, h));
    return bitmap;
}

} // namespace

// ---- BoxReduce ----------------------------------------------------------------------------------

TEST(BoxReduce, BlocksAverageEachChannelRoundedToNearest) {
    const QImage colour = Image(4, 2, QImage::Format_RGB888,
                                {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(7, 8, 9), qRgb(7, 8, 9),
                                 qRgb(10, 20, 30), qRgb(30, 40, 51), qRgb(7, 8, 9), qRgb(7, 8, 9)});
    for (const QImage::Format format : {QImage::Format_RGB888, QImage::Format_RGB32}) {
        const QImage out = BoxReduce(colour.convertToFormat(format), 2, 2);
        ASSERT_EQ(out.format(), format);
        ASSERT_EQ(out.size(), QSize(2, 1));
        // (0 + 255 + 10 + 30) / 4 = 73.75, (0 + 255 + 20 + 40) / 4 = 78.75, 336 / 4 = 84
        EXPECT_EQ(out.pixel(0, 0), qRgb(74, 79, 84));
        EXPECT_EQ(out.pixel(1, 0), qRgb(7, 8, 9));
    }
    const QImage grey = BoxReduce(Grey(4, 2, {1, 1, 1, 0, 0, 0, 0, 0}), 2, 2);
    ASSERT_EQ(grey.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(GreyAt(grey, 0, 0), 1); // 0.5 rounds up
    EXPECT_EQ(GreyAt(grey, 1, 0), 0); // 0.25 rounds down
}

TEST(BoxReduce, PalettePicturesAverageColoursNotIndexes) {
    // With a reversed grey palette, averaging indexes would give the inverse grey.
    const QImage grey = BoxReduce(Indexed(2, 1, GreyPalette(true), {0, 55}), 2, 1);
    ASSERT_EQ(grey.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(GreyAt(grey, 0, 0), 228); // (255 + 200) / 2

    const QList<QRgb> redBlue = {qRgb(255, 0, 0), qRgb(0, 0, 255)};
    const QImage colour = BoxReduce(Indexed(2, 2, redBlue, {0, 1, 1, 0}), 2, 2);
    ASSERT_EQ(colour.format(), QImage::Format_RGB888);
    EXPECT_EQ(colour.pixel(0, 0), qRgb(128, 0, 128));
    // Indexes past the palette's end read its last entry instead of memory beyond it.
    EXPECT_EQ(BoxReduce(Indexed(2, 2, redBlue, {0, 1, 1, 200}), 2, 2).pixel(0, 0),
              qRgb(64, 0, 191));
}

TEST(BoxReduce, BilevelPicturesReadBitsInTheirOwnOrder) {
    for (const QImage::Format format : {QImage::Format_Mono, QImage::Format_MonoLSB}) {
        SCOPED_TRACE(format);
        QImage page = BilevelPage(8, 1, format);
        for (int x = 0; x < 3; ++x)
            page.setPixel(x, 0, 1);
        const QImage out = BoxReduce(page, 2, 1);
        ASSERT_EQ(out.format(), QImage::Format_Grayscale8);
        ASSERT_EQ(out.size(), QSize(4, 1));
        EXPECT_EQ(GreyAt(out, 0, 0), 0);
        EXPECT_EQ(GreyAt(out, 1, 0), 128); // half ink
        EXPECT_EQ(GreyAt(out, 2, 0), 255);
        EXPECT_EQ(GreyAt(out, 3, 0), 255);
    }
    QImage coloured(2, 1, QImage::Format_Mono);
    coloured.setColorTable({qRgb(0, 0, 255), qRgb(255, 255, 0)});
    coloured.setPixel(1, 0, 1);
    coloured.setPixel(0, 0, 0);
    const QImage out = BoxReduce(coloured, 2, 1);
    EXPECT_EQ(out.format(), QImage::Format_RGB888);
    EXPECT_EQ(out.pixel(0, 0), qRgb(128, 128, 128));
}

TEST(BoxReduce, AlphaIsAveragedPremultiplied) {
    // An invisible green pixel must not tint its opaque red neighbour.
    const QImage icon =
        Image(2, 1, QImage::Format_ARGB32, {qRgba(255, 0, 0, 255), qRgba(0, 255, 0, 0)});
    const QImage out = BoxReduce(icon, 2, 1);
    ASSERT_EQ(out.format(), QImage::Format_ARGB32_Premultiplied);
    const QRgb p = Premultiplied(out, 0);
    EXPECT_EQ(qAlpha(p), 128);
    EXPECT_EQ(qRed(p), 128);
    EXPECT_EQ(qGreen(p), 0);

    const QImage premultiplied = icon.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(Premultiplied(BoxReduce(premultiplied, 2, 1), 0), p);
    const QImage palette =
        BoxReduce(Indexed(2, 1, {qRgba(255, 0, 0, 255), qRgba(0, 255, 0, 0)}, {0, 1}), 2, 1);
    ASSERT_EQ(palette.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(Premultiplied(palette, 0), p);
}

TEST(BoxReduce, OtherFormatsAreConvertedFirst) {
    const QImage rgb16 = Image(2, 1, QImage::Format_RGB16, {qRgb(255, 0, 0), qRgb(0, 0, 255)});
    const QImage out = BoxReduce(rgb16, 2, 1);
    EXPECT_EQ(out.format(), QImage::Format_RGB888);
    EXPECT_EQ(out.pixel(0, 0), qRgb(128, 0, 128));

    QImage grey16(2, 1, QImage::Format_Grayscale16);
    reinterpret_cast<quint16*>(grey16.scanLine(0))[0] = 0;
    reinterpret_cast<quint16*>(grey16.scanLine(0))[1] = 65535;
    const QImage greyOut = BoxReduce(grey16, 2, 1);
    EXPECT_EQ(greyOut.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(GreyAt(greyOut, 0, 0), 128);
}

TEST(BoxReduce, RemainderColumnsAndRowsAverageOnlyExistingPixels) {
    const QImage out = BoxReduce(Grey(5, 3,
                                      {0, 10, 20, 30, 40,  //
                                       50, 60, 70, 80, 90, //
                                       100, 110, 120, 130, 140}),
                                 2, 2);
    ASSERT_EQ(out.size(), QSize(3, 2));
    EXPECT_EQ(GreyAt(out, 0, 0), 30);  // (0 + 10 + 50 + 60) / 4
    EXPECT_EQ(GreyAt(out, 2, 0), 65);  // (40 + 90) / 2: one column left
    EXPECT_EQ(GreyAt(out, 0, 1), 105); // (100 + 110) / 2: one row left
    EXPECT_EQ(GreyAt(out, 2, 1), 140); // the corner pixel alone

    QImage page = BilevelPage(11, 1); // the row ends inside its second byte
    page.setPixel(9, 0, 1);
    page.setPixel(10, 0, 1);
    const QImage bits = BoxReduce(page, 4, 1);
    ASSERT_EQ(bits.size(), QSize(3, 1));
    EXPECT_EQ(GreyAt(bits, 1, 0), 255);
    EXPECT_EQ(GreyAt(bits, 2, 0), 85); // two of three pixels are ink
}

TEST(BoxReduce, FactorOneOversizedFactorsAndInvalidInput) {
    const QImage grey = Grey(3, 2, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(BoxReduce(grey, 1, 1), grey);
    QImage page = BilevelPage(3, 1);
    page.setPixel(1, 0, 1);
    EXPECT_EQ(BoxReduce(page, 1, 1), page.convertToFormat(QImage::Format_Grayscale8));

    const QImage dot = BoxReduce(Image(1, 1, QImage::Format_RGB888, {qRgb(1, 2, 3)}), 16, 16);
    ASSERT_EQ(dot.size(), QSize(1, 1));
    EXPECT_EQ(dot.pixel(0, 0), qRgb(1, 2, 3));
    // Blocks of more than 257 rows need wider sums.
    QImage tall(1, 600, QImage::Format_Grayscale8);
    tall.fill(255);
    EXPECT_EQ(GreyAt(BoxReduce(tall, 1, 600), 0, 0), 255);

    EXPECT_TRUE(BoxReduce(QImage(), 2, 2).isNull());
    EXPECT_TRUE(BoxReduce(grey, 0, 1).isNull());
    EXPECT_TRUE(BoxReduce(grey, 1, -3).isNull());
}

TEST(BoxReduce, HairlineOnA1BitAnd8BitPageSurvives16xReduction) {
    // Nearest-neighbour or bilinear sampling at 16x reads 1 or 2 of every 16 columns and loses
    // a line between them. The line lies off the block grid on purpose.
    constexpr int lineX = 165;
    QImage page = BilevelPage(320, 320);
    QImage grey(320, 320, QImage::Format_Indexed8);
    grey.setColorTable(GreyPalette());
    grey.fill(255);
    for (int y = 0; y < 320; ++y) {
        page.setPixel(lineX, y, 1);
        grey.scanLine(y)[lineX] = 0;
    }
    for (const QImage& picture : {page, grey}) {
        SCOPED_TRACE(picture.format());
        const QImage out = BoxReduce(picture, 16, 16);
        ASSERT_EQ(out.size(), QSize(20, 20));
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                if (x != lineX / 16) {
                    EXPECT_EQ(GreyAt(out, x, y), 255);
                    continue;
                }
                EXPECT_LE(GreyAt(out, x, y), 255 - HairlineContrast16x);
                EXPECT_GT(GreyAt(out, x, y), 0); // averaged, not smeared to full black
            }
    }
}

// ---- The reduced copy ---------------------------------------------------------------------------

TEST(ReducedCopy, StaysWithinBudgetAndCoversTheTarget) {
    QImage colour(2000, 1500, QImage::Format_RGB888);
    colour.fill(Qt::darkCyan);
    QImage grey(2000, 1500, QImage::Format_Indexed8);
    grey.setColorTable(GreyPalette());
    grey.fill(77);
    QImage icon(256, 256, QImage::Format_ARGB32);
    icon.fill(qRgba(10, 20, 30, 40));
    const std::pair<const QImage&, QSize> cases[] = {
        {colour, {300, 225}}, {colour, {499, 374}}, {colour, {100, 700}}, {colour, {7, 5}},
        {grey, {300, 225}},   {grey, {450, 330}},   {icon, {32, 32}},     {icon, {48, 48}}};
    for (const auto& [picture, target] : cases) {
        SCOPED_TRACE(testing::Message()
                     << picture.format() << " " << target.width() << "x" << target.height());
        TReducedCopy reduced;
        const QImage* copy = reduced.For(picture, target);
        ASSERT_NE(copy, nullptr);
        EXPECT_LE(reduced.Bytes(), ReducedCopyBudget * double(picture.sizeInBytes()));
        // The final bilinear step only shrinks, and by less than 2x so it reaches every pixel.
        EXPECT_GE(copy->width(), target.width());
        EXPECT_GE(copy->height(), target.height());
        EXPECT_LT(copy->width(), 2 * target.width());
        EXPECT_LT(copy->height(), 2 * target.height());
    }

    // A 1-bit page's copy takes eight times its bytes per pixel: the budget wins over the size.
    const QImage page = BilevelPage(1600, 1600);
    TReducedCopy reduced;
    const QImage* copy = reduced.For(page, QSize(400, 400));
    ASSERT_NE(copy, nullptr);
    EXPECT_LE(reduced.Bytes(), ReducedCopyBudget * double(page.sizeInBytes()));
    EXPECT_LT(copy->width(), 400);
    // Half the picture's size or more: the full picture is drawn, nothing is kept.
    EXPECT_EQ(reduced.For(colour, QSize(1000, 200)), nullptr);
    EXPECT_EQ(reduced.For(colour, QSize(200, 750)), nullptr);
}

TEST(ReducedCopy, TargetChangingByAFewPixelsReusesIt) {
    QImage picture(3000, 3000, QImage::Format_RGB888);
    picture.fill(Qt::gray);
    TReducedCopy reduced;
    const qint64 first = reduced.For(picture, QSize(300, 300))->cacheKey();
    for (int size = 290; size <= 305; ++size)
        EXPECT_EQ(reduced.For(picture, QSize(size, size))->cacheKey(), first) << size;
    // Far smaller: rebuilt, since shrinking the old copy that much would skip thin lines.
    EXPECT_NE(reduced.For(picture, QSize(100, 100))->cacheKey(), first);
}

// ---- Drawing ------------------------------------------------------------------------------------

TEST(RasterDraw, ThinLinesStayVisibleInAPreviewAtEveryPosition) {
    // 1-pixel lines at each of the 16 positions within a reduction block, drawn at 1/16 size.
    constexpr int size = 1600;
    QImage page = BilevelPage(size, size);
    for (int i = 0; i < 16; ++i)
        for (int y = 0; y < size; ++y)
            page.setPixel(96 * i + 40 + i, y, 1);
    TBitmap graphic;
    graphic.SetImage(page);
    const QImage preview = Preview(graphic, 100, 100);
    ASSERT_GT(graphic.ReducedCopyBytes(), 0);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const int centre = (96 * i + 40 + i) / 16;
        const int darkest = std::min({GreyAt(preview, centre - 1, 50), GreyAt(preview, centre, 50),
                                      GreyAt(preview, centre + 1, 50)});
        EXPECT_LE(darkest, 255 - MinVisibleContrast);
        EXPECT_EQ(GreyAt(preview, centre + 3, 50), 255);
    }
}

TEST(RasterDraw, SetImageDropsTheCopyOfThePreviousPixels) {
    QImage picture(800, 800, QImage::Format_RGB888);
    picture.fill(Qt::black);
    TBitmap graphic;
    graphic.SetImage(picture);
    EXPECT_EQ(Preview(graphic, 80, 80).pixel(40, 40), qRgb(0, 0, 0));
    ASSERT_GT(graphic.ReducedCopyBytes(), 0);

    picture.fill(Qt::red);
    graphic.SetImage(picture);
    EXPECT_EQ(graphic.ReducedCopyBytes(), 0);
    EXPECT_TRUE(Near(Preview(graphic, 80, 80).pixel(40, 40), qRgb(255, 0, 0), DrawTolerance));
}

TEST(RasterDraw, DrawsThroughTheCopyWhereTheFullPictureWouldPutIt) {
    // 1597 = 14 · 114 + 1: at 1/16 size the copy's last column stands for a single pixel, and
    // stretching the copy's whole width would pull the red/blue edge almost a pixel left.
    QImage picture(1597, 1000, QImage::Format_RGB888);
    picture.fill(Qt::blue);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < 1540; ++x)
            picture.setPixel(x, y, qRgb(255, 0, 0));
    TBitmap graphic;
    graphic.SetImage(picture);
    const QImage preview = Preview(graphic, 100, 100); // the edge falls at x = 96.4
    ASSERT_GT(graphic.ReducedCopyBytes(), 0);
    EXPECT_TRUE(Near(preview.pixel(0, 0), qRgb(255, 0, 0), DrawTolerance));
    EXPECT_TRUE(Near(preview.pixel(95, 50), qRgb(255, 0, 0), DrawTolerance));
    EXPECT_TRUE(Near(preview.pixel(97, 50), qRgb(0, 0, 255), DrawTolerance));
    EXPECT_TRUE(Near(preview.pixel(99, 99), qRgb(0, 0, 255), DrawTolerance));
}

TEST(RasterDraw, CopyIsChosenByDevicePixelsAndNeverForPrinters) {
    QImage picture(2000, 2000, QImage::Format_RGB888);
    picture.fill(Qt::green);
    TBitmap graphic;
    graphic.SetImage(picture);
    QImage bitmap(200, 200, QImage::Format_RGB32); // 100 × 100 logical pixels at ratio 2
    bitmap.setDevicePixelRatio(2);
    QPainter painter(&bitmap);
    painter.scale(0.1, 0.1); // a 1000-unit target covers 100 logical, 200 device pixels
    graphic.Draw(painter, QRect(0, 0, 1000, 1000));
    painter.end();
    // A copy for 100 pixels would be upscaled twice on this bitmap.
    EXPECT_GE(graphic.ReducedCopyBytes(), 200 * 200 * 3);
    EXPECT_TRUE(Near(bitmap.pixel(100, 100), qRgb(0, 255, 0), DrawTolerance));

    TBitmap printed;
    printed.SetImage(picture);
    QPicture recording; // stands for a printer: replayed at its own resolution
    QPainter recorder(&recording);
    printed.Draw(recorder, QRect(0, 0, 50, 50));
    recorder.end();
    EXPECT_EQ(printed.ReducedCopyBytes(), 0);
}

TEST(RasterDraw, ZoomedInPictureMatchesQtsOwnDrawingUpToTheBitmapBorder) {
    // Every source pixel differs from its neighbours, so a border pixel interpolated against the
    // wrong neighbour shows.
    QImage picture(97, 89, QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb((x * 73) % 256, (y * 151) % 256, ((x + y) * 37) % 256));
    TBitmap graphic;
    graphic.SetImage(picture);
    const QRect target(-333, -271, 1031, 877); // about 10.6 × 9.9, off the pixel grid
    QImage ours(80, 60, QImage::Format_RGB32);
    QImage qts(80, 60, QImage::Format_RGB32);
    ours.fill(Qt::white);
    qts.fill(Qt::white);
    QPainter painter(&ours);
    graphic.Draw(painter, target);
    painter.end();
    QPainter reference(&qts);
    reference.setRenderHint(QPainter::SmoothPixmapTransform);
    reference.drawImage(target, picture);
    reference.end();
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            ASSERT_TRUE(Near(ours.pixel(x, y), qts.pixel(x, y), DrawTolerance)) << x << "," << y;
}

TEST(RasterDraw, HugeTargetOnASmallBitmapDrawsOnlyWhatIsVisible) {
    // Left half red, right half blue; the bitmap looks at a spot deep inside each half of a
    // picture zoomed far beyond anything that could be allocated (4 · 10^18 bytes). Magnified
    // four times more by the painter, the target's device size leaves the int range, where
    // Qt alone draws nothing.
    QImage picture(400, 400, QImage::Format_RGB888);
    picture.fill(Qt::blue);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 200; ++x)
            picture.setPixel(x, y, qRgb(255, 0, 0));
    TBitmap graphic;
    graphic.SetImage(picture);
    constexpr int huge = 1'000'000'000;
    for (const qreal magnify : {1.0, 4.0})
        for (const auto& [left, expected] :
             {std::pair{-huge / 4, qRgb(255, 0, 0)}, std::pair{-3 * (huge / 4), qRgb(0, 0, 255)}}) {
            SCOPED_TRACE(testing::Message() << magnify << " " << left);
            QImage bitmap(60, 40, QImage::Format_RGB32);
            bitmap.fill(Qt::white);
            QPainter painter(&bitmap);
            painter.scale(magnify, magnify);
            graphic.Draw(painter, QRect(left, -huge / 2, huge, huge));
            painter.end();
            EXPECT_TRUE(Near(bitmap.pixel(0, 0), expected, DrawTolerance));
            EXPECT_TRUE(Near(bitmap.pixel(59, 39), expected, DrawTolerance));
            EXPECT_EQ(graphic.ReducedCopyBytes(), 0);
        }
}

TEST(RasterDraw, PrintedInBandsTheWayThePictureLooks) {
    // Drawn into a PDF at one picture pixel per device pixel and rendered back: a band one row
    // out of place, or a row left out, shows in the rows of 16-row stripes, whose edges fall on
    // the band boundaries and on the blocks of the PDF's JPEG (which keep them sharp).
    QProcess probe;
    probe.start(QStringLiteral("gs"), {QStringLiteral("--version")});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit)
        GTEST_SKIP() << "Ghostscript is missing";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString tmp = dir.path();
    constexpr int w = 300, h = 700; // bands of 256, 256 and 188 rows
    for (const QImage::Format format : {QImage::Format_RGB888, QImage::Format_Indexed8}) {
        SCOPED_TRACE(format);
        QImage picture(w, h, format);
        if (format == QImage::Format_Indexed8)
            picture.setColorTable(GreyPalette());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int stripe = (y / 16) % 2 ? 200 : 40;
                if (format == QImage::Format_Indexed8)
                    picture.setPixel(x, y, uint(stripe));
                else
                    picture.setPixel(x, y, qRgb(stripe, stripe, stripe + x % 50));
            }
        TBitmap graphic;
        graphic.SetImage(picture);
        const QString pdf = tmp + QStringLiteral("/bands.pdf");
        {
            QPdfWriter writer(pdf);
            writer.setResolution(300);
            writer.setPageMargins(QMarginsF());
            writer.setPageSize(QPageSize(QSizeF(w / 300.0, h / 300.0), QPageSize::Inch));
            QPainter painter(&writer);
            graphic.Draw(painter, QRect(0, 0, w, h));
        }
        // Ghostscript maps picture rows onto device rows exactly, where poppler drifts by
        // fractions of a row across a picture.
        QProcess render;
        render.start(QStringLiteral("gs"),
                     {QStringLiteral("-q"), QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"),
                      QStringLiteral("-dNOPAUSE"), QStringLiteral("-sDEVICE=png16m"),
                      QStringLiteral("-r300"), "-sOutputFile=" + tmp + "/bands.png", pdf});
        ASSERT_TRUE(render.waitForFinished(30000));
        const QImage printed =
            QImage(tmp + QStringLiteral("/bands.png")).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(printed.size(), picture.size());
        const QImage original = picture.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            long error = 0;
            for (int x = 0; x < w; ++x) {
                const QRgb a = printed.pixel(x, y), b = original.pixel(x, y);
                error += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                         std::abs(qBlue(a) - qBlue(b));
            }
            // A row taken from the wrong stripe costs 106 or more, a blank row more than 50.
            ASSERT_LT(error / (3.0 * w), 8) << "row " << y;
        }
    }
}

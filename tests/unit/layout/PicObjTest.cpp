// The layout record's figures against worked examples, and the invariants that tie them together.

#include "layout/PicObj.h"
#include "platform/Errors.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <limits>

namespace {

// A picture of the given pixel size (content does not matter for the figures).
void SetPicture(TPicProperties& p, int w, int h) {
    auto bmp = std::make_unique<TBitmap>();
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(Qt::white);
    bmp->SetImage(img);
    p.Picture.SetGraphic(std::move(bmp));
}

TPrinterProperties Device(int areaW, int areaH, int mmW, int mmH, int dpiX, int dpiY) {
    TPrinterProperties d;
    d.PrnAreaWidth = areaW;
    d.PrnAreaHeight = areaH;
    d.PrnAreaMMWidth = mmW;
    d.PrnAreaMMHeight = mmH;
    d.PrnDPI.X = dpiX;
    d.PrnDPI.Y = dpiY;
    return d;
}

} // namespace

TEST(PicProperties, NewRecordIsEmptyWithNeutralLayout) {
    TPrinterProperties shared;
    TPicProperties p(&shared);
    EXPECT_FALSE(p.OwnsPrinterProperties);
    EXPECT_EQ(p.PrinterProperties, &shared);
    EXPECT_TRUE(p.IsEmpty());
    EXPECT_EQ(p.PicWidth(), 0);
    EXPECT_EQ(p.PicHeight(), 0);
    EXPECT_EQ(p.xZoom, 1.0);
    EXPECT_EQ(p.yZoom, 1.0);
    EXPECT_EQ(p.xRelPos, 0.0);
    EXPECT_EQ(p.yRelPos, 0.0);
    EXPECT_EQ(p.ScannerDPI.X, 0);
    EXPECT_EQ(p.ScannerDPI.Y, 0);
    EXPECT_EQ(p.PicDPIX(), 0.0);
    // Figures that divide by the (still zero) scanner resolution fail instead of lying; with no
    // device read yet every such quotient is 0 / 0.
    EXPECT_THROW(p.QualityX(), EInvalidOp);
    EXPECT_THROW(p.xRelSize(), EInvalidOp);
    EXPECT_THROW(p.PrnPicWidth(), EInvalidOp);
    shared.PrnDPI = {300, 300};
    EXPECT_THROW(p.PrnPicWidth(), EZeroDivide);

    TPicProperties own(nullptr);
    EXPECT_TRUE(own.OwnsPrinterProperties);
    ASSERT_NE(own.PrinterProperties, nullptr);
    EXPECT_EQ(own.PrinterProperties->PrnAreaWidth, 0);
    EXPECT_EQ(own.PrinterProperties->PrnDPI.Y, 0);
}

TEST(PicProperties, WorkedExampleOnA200DpiDevice) {
    TPrinterProperties dev = Device(800, 900, 102, 114, 200, 200);
    TPicProperties p(&dev);
    SetPicture(p, 300, 400);
    p.ScannerDPI = {100, 100};

    EXPECT_EQ(p.PrnPicWidth(), 600);
    EXPECT_EQ(p.PrnPicHeight(), 800);
    EXPECT_DOUBLE_EQ(p.xRelSize(), 0.75);
    EXPECT_DOUBLE_EQ(p.yRelSize(), 800.0 / 900.0);
    EXPECT_EQ(p.PrnPicMMWidth(), 76); // Round(76.5): halves go to the even neighbour
    EXPECT_EQ(p.PrnPicMMHeight(), 101);
    EXPECT_DOUBLE_EQ(p.PicDPIX(), 100.0);
    EXPECT_DOUBLE_EQ(p.QualityX(), 1.0);
    EXPECT_FALSE(p.IsWiderThanArea());

    p.xRelPos = (1 - p.xRelSize()) * 0.5;
    EXPECT_DOUBLE_EQ(p.xRelPos, 0.125);
    EXPECT_EQ(p.XPos(), 100);

    p.xZoom = 0.5;
    EXPECT_DOUBLE_EQ(p.PicDPIX(), 200.0);
    EXPECT_DOUBLE_EQ(p.QualityX(), 2.0);
    EXPECT_EQ(p.PrnPicWidth(), 300);
}

TEST(PicProperties, SharedPrinterPropertiesRelayOutEveryPicture) {
    TPrinterProperties dev = Device(800, 900, 102, 114, 200, 200);
    TPicProperties a(&dev), b(&dev);
    SetPicture(a, 300, 400);
    SetPicture(b, 100, 100);
    a.ScannerDPI = b.ScannerDPI = {100, 100};
    dev.PrnDPI = {600, 600};
    EXPECT_EQ(a.PrnPicWidth(), 1800);
    EXPECT_EQ(b.PrnPicWidth(), 600);
}

TEST(PicProperties, RelativeSizeWriteActsThroughZoom) {
    struct Case {
        int picW, picH, scanX, scanY, areaW, areaH, dpiX, dpiY;
    };
    const Case cases[] = {
        {300, 400, 100, 100, 800, 900, 200, 200},
        {2480, 3508, 300, 300, 4760, 6779, 600, 600},
        {1000, 10, 600, 300, 9317, 12833, 1200, 1200},
        {7, 13, 75, 1200, 333, 777, 300, 600},
    };
    for (const Case& c : cases) {
        TPrinterProperties dev = Device(c.areaW, c.areaH, 200, 280, c.dpiX, c.dpiY);
        TPicProperties p(&dev);
        SetPicture(p, c.picW, c.picH);
        p.ScannerDPI = {c.scanX, c.scanY};

        p.SetxRelSize(1.0);
        EXPECT_NEAR(p.xRelSize(), 1.0, 1e-12);
        EXPECT_NEAR(p.PrnPicWidth(), c.areaW, 1);
        p.SetyRelSize(0.5);
        EXPECT_NEAR(p.yRelSize(), 0.5, 1e-12);
        EXPECT_NEAR(p.PrnPicHeight(), c.areaH / 2.0, 1);
        // The relative size is the printed size over the printable size, up to rounding.
        EXPECT_NEAR(p.xRelSize() * c.areaW, p.PrnPicWidth(), 0.5);
        // Quality is the inverse zoom whatever the resolutions.
        EXPECT_NEAR(p.QualityX(), 1.0 / p.xZoom, 1e-12);
        EXPECT_NEAR(p.QualityY(), 1.0 / p.yZoom, 1e-12);
    }
}

TEST(PicProperties, EmptyPictureIgnoresSizeWritesAndDrawsNothing) {
    TPrinterProperties dev = Device(800, 900, 102, 114, 200, 200);
    TPicProperties p(&dev);
    p.ScannerDPI = {100, 100};
    p.xZoom = 1.7;
    p.SetxRelSize(1.0);
    p.SetyRelSize(1.0);
    EXPECT_EQ(p.xZoom, 1.7);
    EXPECT_EQ(p.yZoom, 1.0);
    EXPECT_EQ(p.PrnPicWidth(), 0);
    EXPECT_EQ(p.xRelSize(), 0.0);

    QImage canvas(10, 10, QImage::Format_RGB32);
    canvas.fill(Qt::red);
    QPainter painter(&canvas);
    p.Draw(painter, 0, 0, 10, 10);
    painter.end();
    EXPECT_EQ(canvas.pixel(5, 5), QColor(Qt::red).rgb());
}

TEST(PicProperties, PositionsRoundTripAndMayLeaveThePaper) {
    for (int areaW : {1, 7, 800, 4760, 9317}) {
        TPrinterProperties dev = Device(areaW, areaW + 100, 100, 100, 300, 300);
        TPicProperties p(&dev);
        for (int pos : {123, -50, 0, 3 * areaW + 17}) {
            p.SetXPos(pos);
            EXPECT_EQ(p.XPos(), pos) << "area " << areaW;
            p.SetYPos(pos);
            EXPECT_EQ(p.YPos(), pos) << "area " << areaW;
        }
    }
    TPrinterProperties dev = Device(800, 900, 102, 114, 200, 200);
    TPicProperties p(&dev);
    p.xRelPos = -0.25;
    p.yRelPos = 1.5;
    EXPECT_EQ(p.XPos(), -200);
    EXPECT_EQ(p.YPos(), 1350);
}

TEST(PicProperties, RoundingGoesHalfToEven) {
    // Printer pixels of exactly 2.5 and 3.5: 5 and 7 source pixels at half the resolution.
    TPrinterProperties dev = Device(100, 100, 10, 10, 100, 100);
    TPicProperties p(&dev);
    p.ScannerDPI = {200, 200};
    SetPicture(p, 5, 7);
    EXPECT_EQ(p.PrnPicWidth(), 2);
    EXPECT_EQ(p.PrnPicHeight(), 4);
    p.xRelPos = -0.025; // -2.5 px
    EXPECT_EQ(p.XPos(), -2);
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
}

TEST(PicProperties, AbsurdZoomSaturatesInsteadOfWrapping) {
    TPrinterProperties dev = Device(4760, 6779, 200, 280, 600, 600);
    TPicProperties p(&dev);
    SetPicture(p, 4960, 7016);
    p.ScannerDPI = {600, 600};
    p.xZoom = 21474836.47; // 2147483647 %
    EXPECT_EQ(p.PrnPicWidth(), std::numeric_limits<int>::max());
    p.xZoom = 0;
    EXPECT_EQ(p.PrnPicWidth(), 0);
    EXPECT_EQ(p.PicDPIX(), 0.0);
    EXPECT_EQ(p.QualityX(), 0.0);
}

TEST(PicProperties, WiderThanAreaComparesPixelProportionsOnly) {
    struct Case {
        int w, h, areaW, areaH, scanX, scanY;
        bool wider;
    };
    const Case cases[] = {
        {400, 400, 800, 900, 100, 100, true},
        {400, 800, 800, 900, 100, 100, false},
        {400, 400, 800, 900, 10, 1000, true},  // resolutions do not enter
        {800, 900, 800, 900, 100, 100, false}, // equal proportions: not wider
    };
    for (const Case& c : cases) {
        TPrinterProperties dev = Device(c.areaW, c.areaH, 1, 1, 300, 300);
        TPicProperties p(&dev);
        SetPicture(p, c.w, c.h);
        p.ScannerDPI = {c.scanX, c.scanY};
        EXPECT_EQ(p.IsWiderThanArea(), c.wider) << c.w << "x" << c.h;
    }
}

TEST(PicProperties, ZeroDivisorsFailAndLeaveTheRecordUnchanged) {
    TPrinterProperties dev; // no device read yet
    TPicProperties p(&dev);
    SetPicture(p, 300, 400);
    p.ScannerDPI = {100, 100};
    p.xRelPos = 0.3;
    p.xZoom = 1.25;
    EXPECT_THROW(p.SetXPos(10), EZeroDivide);
    EXPECT_EQ(p.xRelPos, 0.3);
    EXPECT_THROW(p.SetYPos(0), EInvalidOp);
    EXPECT_THROW(p.SetxRelSize(1.0), EZeroDivide);
    EXPECT_EQ(p.xZoom, 1.25);
    EXPECT_THROW(p.IsWiderThanArea(), EZeroDivide);
    EXPECT_EQ(p.XPos(), 0); // reading a position needs no division

    dev = Device(800, 900, 102, 114, 200, 200);
    p.ScannerDPI = {0, 100};
    EXPECT_THROW(p.PrnPicWidth(), EZeroDivide);
    EXPECT_THROW(p.PrnPicMMWidth(), EZeroDivide);
    EXPECT_EQ(p.PrnPicHeight(), 800);
}

TEST(PicProperties, DrawStretchesTheWholeGraphicIntoTheRectangle) {
    TPicProperties p(nullptr);
    auto bmp = std::make_unique<TBitmap>();
    QImage img(2, 1, QImage::Format_RGB888);
    img.setPixelColor(0, 0, Qt::black);
    img.setPixelColor(1, 0, Qt::white);
    bmp->SetImage(img);
    p.Picture.SetGraphic(std::move(bmp));

    QImage canvas(40, 20, QImage::Format_RGB32);
    canvas.fill(Qt::blue);
    QPainter painter(&canvas);
    p.Draw(painter, 10, 5, 20, 10);
    painter.end();
    EXPECT_EQ(canvas.pixel(5, 10), QColor(Qt::blue).rgb()); // outside: untouched
    EXPECT_LT(qGray(canvas.pixel(12, 10)), 64);             // left half black
    EXPECT_GT(qGray(canvas.pixel(27, 10)), 192);            // right half white
    EXPECT_EQ(canvas.pixel(35, 10), QColor(Qt::blue).rgb());
}

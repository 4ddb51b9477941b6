// Sheet layout, copy placement, grab bands and info texts against worked examples.

#include "layout/CopyGeometry.h"
#include "platform/Errors.h"

#include <QImage>
#include <QLocale>
#include <gtest/gtest.h>

namespace {

TPrinterProperties Device(int areaW, int areaH, int dpiX, int dpiY, int mmW = 200, int mmH = 280) {
    TPrinterProperties d;
    d.PrnAreaWidth = areaW;
    d.PrnAreaHeight = areaH;
    d.PrnAreaMMWidth = mmW;
    d.PrnAreaMMHeight = mmH;
    d.PrnDPI = {dpiX, dpiY};
    return d;
}

void SetPicture(TPicProperties& p, int w, int h) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetImage(QImage(w, h, QImage::Format_RGB888));
    p.Picture.SetGraphic(std::move(bmp));
}

} // namespace

TEST(SheetLayout, WorkedExamples) {
    struct Case {
        int cw, ch, A, B, DX, DY;
        bool widthBound;
        int prevX, prevY, margin, paperLeft, paperTop, paperW, paperH;
    };
    const Case cases[] = {
        // portrait area 600 x 850 at 75 dpi in a 400 x 300 panel: the height binds
        {400, 300, 600, 850, 75, 75, false, 169, 240, 15, 101, 15, 199, 270},
        // the same device in a wide panel: still bound by the height
        {900, 300, 600, 850, 75, 75, false, 169, 240, 15, 351, 15, 199, 270},
        // in a tall panel: the width binds
        {200, 600, 600, 850, 75, 75, true, 160, 227, 10, 10, 177, 180, 247},
    };
    for (const Case& c : cases) {
        const SheetLayout s = ComputeSheetLayout(c.cw, c.ch, Device(c.A, c.B, c.DX, c.DY));
        SCOPED_TRACE(testing::Message() << c.cw << "x" << c.ch);
        EXPECT_EQ(s.WidthBound, c.widthBound);
        EXPECT_EQ(s.PrevXSize, c.prevX);
        EXPECT_EQ(s.PrevYSize, c.prevY);
        EXPECT_EQ(s.Margin, c.margin);
        EXPECT_EQ(s.PaperLeft, c.paperLeft);
        EXPECT_EQ(s.PaperTop, c.paperTop);
        EXPECT_EQ(s.PaperWidth, c.paperW);
        EXPECT_EQ(s.PaperHeight, c.paperH);
    }
}

TEST(SheetLayout, KeepsPhysicalProportionsOnUnequalResolutions) {
    // 8 x 11 inches at 600 x 300 dpi is 4800 x 3300 device pixels: pixel proportions say landscape,
    // the paper is portrait. The preview must show the paper.
    for (auto [cw, ch] : {std::pair{400, 300}, std::pair{300, 400}, std::pair{1000, 200}}) {
        const SheetLayout s = ComputeSheetLayout(cw, ch, Device(4800, 3300, 600, 300));
        EXPECT_NEAR(static_cast<double>(s.PrevYSize) / s.PrevXSize, 11.0 / 8.0, 0.02);
        // The binding side takes 80 % of the panel, the other fits inside it.
        if (s.WidthBound) {
            EXPECT_EQ(s.PrevXSize, RoundHalfEven(cw * 0.8));
            EXPECT_LE(s.PrevYSize, ch * 0.8 + 1);
        } else {
            EXPECT_EQ(s.PrevYSize, RoundHalfEven(ch * 0.8));
            EXPECT_LE(s.PrevXSize, cw * 0.8 + 1);
        }
        EXPECT_EQ(s.PaperWidth, s.PrevXSize + 2 * s.Margin);
        EXPECT_EQ(s.PaperHeight, s.PrevYSize + 2 * s.Margin);
    }
}

TEST(CopyPlacement, FollowsRelativePositionAndSize) {
    TPrinterProperties dev = Device(800, 900, 200, 200);
    TPicProperties pic(&dev);
    SetPicture(pic, 300, 400);
    pic.ScannerDPI = {100, 100};
    pic.xRelPos = 0.125;
    pic.yRelPos = -0.5;
    const PreviewPlacement p = PlaceCopy(pic, 160, 180);
    EXPECT_EQ(p.Left, 20);
    EXPECT_EQ(p.Top, -90);
    EXPECT_EQ(p.Width, 120);  // 0.75 of 160
    EXPECT_EQ(p.Height, 160); // 8/9 of 180

    pic.ScannerDPI = {0, 100};
    EXPECT_THROW(PlaceCopy(pic, 160, 180), EZeroDivide);
}

TEST(GrabBands, WidthAndCursors) {
    // A tenth of the copy, at most a tenth of the area, never below 5.
    EXPECT_EQ(EdgeBand(200, 300), 20);
    EXPECT_EQ(EdgeBand(2000, 300), 30);
    EXPECT_EQ(EdgeBand(30, 300), 5);
    EXPECT_EQ(EdgeBand(0, 0), 5);

    const int W = 200, H = 100, bw = EdgeBand(W, 300), bh = EdgeBand(H, 300);
    struct Case {
        int x, y;
        HoverCursor cursor;
    };
    const Case cases[] = {
        {3, 50, HoverCursor::SizeHor},      {W - 3, 50, HoverCursor::SizeHor},
        {100, 2, HoverCursor::SizeVer},     {100, H - 2, HoverCursor::SizeVer},
        {2, 2, HoverCursor::SizeFDiag},     {W - 2, H - 2, HoverCursor::SizeFDiag},
        {W - 2, 2, HoverCursor::SizeBDiag}, {2, H - 2, HoverCursor::SizeBDiag},
        {100, 50, HoverCursor::Hand},       {-1, 50, HoverCursor::Unchanged},
        {W, 50, HoverCursor::Unchanged},    {100, H, HoverCursor::Unchanged},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CursorForHover(c.x, c.y, W, H, bw, bh), c.cursor) << c.x << "," << c.y;

    // On a 4 x 4 copy every point lies in all four bands: the cursor stays as it was.
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(EdgesAt(x, y, 4, 4, 5, 5), 15);
            EXPECT_EQ(CursorForHover(x, y, 4, 4, 5, 5), HoverCursor::Unchanged);
        }
}

TEST(InfoTexts, FiguresOfTheCopy) {
    TPrinterProperties dev = Device(800, 900, 200, 200, 102, 114);
    TPicProperties pic(&dev);
    SetPicture(pic, 300, 400);
    pic.ScannerDPI = {300, 300};
    EXPECT_EQ(PicPixelsText(pic), QStringLiteral("300 x 400 Pixel"));
    EXPECT_EQ(PicDPIText(pic), QStringLiteral("DPI  X: 300, Y: 300"));
    EXPECT_EQ(QualityText(pic), QStringLiteral("Qual. X: 1.0, Y: 1.0"));
    EXPECT_EQ(PicMMText(pic), QStringLiteral("26 x 34 mm²"));

    struct Case {
        double zoom;
        const char* quality;
    };
    for (const Case& c :
         {Case{0.75, "1.3"}, Case{2.0, "0.5"}, Case{0.1, "10.0"}, Case{3.0, "0.3"}}) {
        pic.xZoom = c.zoom;
        EXPECT_EQ(QualityText(pic), QStringLiteral("Qual. X: %1, Y: 1.0").arg(c.quality));
    }
    // A zoom of 0 on one axis leaves that axis's figures empty.
    pic.xZoom = 0;
    EXPECT_EQ(PicDPIText(pic), QStringLiteral("DPI  X: , Y: 300"));
    EXPECT_EQ(QualityText(pic), QStringLiteral("Qual. X: , Y: 1.0"));

    // Whatever the locale, the quality uses a point.
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    pic.xZoom = 0.75;
    EXPECT_EQ(QualityText(pic), QStringLiteral("Qual. X: 1.3, Y: 1.0"));
    QLocale::setDefault(old);

    pic.ScannerDPI = {0, 300};
    EXPECT_THROW(PicMMText(pic), EZeroDivide);
}

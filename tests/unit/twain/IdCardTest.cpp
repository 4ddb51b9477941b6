// The ID-card copy's picture: both card areas at the front's resolution, white around them.

#include "twain/IdCard.h"

#include <QColor>
#include <gtest/gtest.h>

namespace {

const QRgb Red = qRgb(255, 0, 0);
const QRgb Blue = qRgb(0, 0, 255);
const QRgb Green = qRgb(0, 255, 0);
const QRgb White = qRgb(255, 255, 255);

// A scan of `w` x `h` pixels in `outside`, with its top-left `areaW` x `areaH` in `inside`.
QImage Scan(int w, int h, QRgb inside, int areaW, int areaH, QRgb outside = Green) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(outside);
    for (int y = 0; y < std::min(h, areaH); ++y)
        for (int x = 0; x < std::min(w, areaW); ++x)
            image.setPixel(x, y, inside);
    return image;
}

bool Near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 8 && std::abs(qGreen(a) - qGreen(b)) <= 8 &&
           std::abs(qBlue(a) - qBlue(b)) <= 8;
}

// The colour of every pixel of `rect` is `want`.
::testing::AssertionResult All(const QImage& image, const QRect& rect, QRgb want) {
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (!Near(image.pixel(x, y), want))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is "
                                                     << qPrintable(QColor(image.pixel(x, y)).name())
                                                     << ", not " << qPrintable(QColor(want).name());
    return ::testing::AssertionSuccess();
}

struct CardCase {
    const char* name;
    int frontDpiX, frontDpiY;
    QSize frontScan; // pixels; the card area of the front's resolution is filled red
    int backDpiX, backDpiY;
    QSize backScan; // pixels; the card area of the back's resolution is filled blue
    QSize want;     // the composed picture
    int areaHeight; // rows of one card area in the picture
    int gap;        // rows of white between them
    QSize frontRed; // the red part in the picture (a smaller scan is padded white)
    QSize backBlue;
};

TEST(IdCard, BothAreasAtTheFrontsResolutionWithWhiteAroundThem) {
    const CardCase cases[] = {
        // A4 bed at 300 dpi: 95 x 65 mm are 1122 x 768 pixels, 10 mm 118 rows.
        {"300 dpi, whole-bed scans",
         300,
         300,
         {2480, 3508},
         300,
         300,
         {2480, 3508},
         {1122, 1654},
         768,
         118,
         {1122, 768},
         {1122, 768}},
        {"150 dpi, whole-bed scans",
         150,
         150,
         {1240, 1754},
         150,
         150,
         {1240, 1754},
         {561, 827},
         384,
         59,
         {561, 384},
         {561, 384}},
        {"front smaller than the area: padded white",
         300,
         300,
         {600, 400},
         300,
         300,
         {2480, 3508},
         {1122, 1654},
         768,
         118,
         {600, 400},
         {1122, 768}},
        {"back smaller than the area: padded white",
         300,
         300,
         {2480, 3508},
         300,
         300,
         {500, 300},
         {1122, 1654},
         768,
         118,
         {1122, 768},
         {500, 300}},
        {"back at 150 dpi: scaled to the front's 300",
         300,
         300,
         {2480, 3508},
         150,
         150,
         {1240, 1754},
         {1122, 1654},
         768,
         118,
         {1122, 768},
         {1122, 768}},
        {"back at 600 dpi, smaller: scaled down",
         300,
         300,
         {2480, 3508},
         600,
         600,
         {1000, 600},
         {1122, 1654},
         768,
         118,
         {1122, 768},
         {500, 300}},
        {"200 x 100 dpi: widths by the one, heights by the other",
         200,
         100,
         {1654, 1169},
         200,
         100,
         {1654, 1169},
         {748, 551},
         256,
         39,
         {748, 256},
         {748, 256}},
    };
    for (const CardCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TCardSide front{Scan(c.frontScan.width(), c.frontScan.height(), Red,
                                   CardPixels(CardAreaWidthMM, c.frontDpiX),
                                   CardPixels(CardAreaHeightMM, c.frontDpiY)),
                              c.frontDpiX, c.frontDpiY};
        const TCardSide back{Scan(c.backScan.width(), c.backScan.height(), Blue,
                                  CardPixels(CardAreaWidthMM, c.backDpiX),
                                  CardPixels(CardAreaHeightMM, c.backDpiY)),
                             c.backDpiX, c.backDpiY};
        const QImage card = ComposeIdCard(front, back);
        ASSERT_EQ(card.size(), c.want);
        EXPECT_EQ(card.dotsPerMeterX(), qRound(c.frontDpiX / 0.0254));
        EXPECT_EQ(card.dotsPerMeterY(), qRound(c.frontDpiY / 0.0254));
        const int width = c.want.width();
        const int backTop = c.areaHeight + c.gap;
        // Nothing of a scan beyond its card area (the green) reaches the picture.
        EXPECT_TRUE(All(card, QRect(QPoint(0, 0), c.frontRed), Red));
        EXPECT_TRUE(All(card, QRect(QPoint(0, backTop), c.backBlue), Blue));
        EXPECT_TRUE(All(card, QRect(0, c.areaHeight, width, c.gap), White)) << "the gap";
        // White where a smaller scan does not reach, right of it and below it (empty
        // rectangles for a scan that fills its area).
        const int fw = c.frontRed.width(), fh = c.frontRed.height();
        const int bw = c.backBlue.width(), bh = c.backBlue.height();
        EXPECT_TRUE(All(card, QRect(fw, 0, width - fw, c.areaHeight), White));
        EXPECT_TRUE(All(card, QRect(0, fh, width, c.areaHeight - fh), White));
        EXPECT_TRUE(All(card, QRect(bw, backTop, width - bw, c.areaHeight), White));
        EXPECT_TRUE(All(card, QRect(0, backTop + bh, width, c.areaHeight - bh), White));
    }
}

} // namespace

// The scan area of the scanner dialog's preview: grips, dragging, the area from the device's
// options, the document found on the glass, and the pane driven with real mouse events.

#include "dsm/sane/ScanArea.h"
#include "dsm/sane/PreviewPane.h"

#include <QApplication>
#include <QBuffer>
#include <QPainter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace sanebridge;

namespace {

// Bed units are compared to within rounding; one preview pixel is about 0.35 mm below.
constexpr double Exact = 1e-9;

void ExpectRect(const QRectF& actual, const QRectF& expected, double tolerance) {
    EXPECT_NEAR(actual.left(), expected.left(), tolerance);
    EXPECT_NEAR(actual.top(), expected.top(), tolerance);
    EXPECT_NEAR(actual.right(), expected.right(), tolerance);
    EXPECT_NEAR(actual.bottom(), expected.bottom(), tolerance);
}

TEST(ScanArea, DraggedAreaFollowsTheGripWithinTheBed) {
    const QRectF bed(0, 0, 210, 297);
    const QRectF start(10, 10, 50, 50);
    const struct {
        const char* what;
        Grip grip;
        QPointF from, to;
        QRectF expected;
    } cases[] = {
        {"draw", Grip::None, {10, 20}, {50, 80}, {10, 20, 40, 60}},
        {"draw backwards", Grip::None, {50, 80}, {10, 20}, {10, 20, 40, 60}},
        {"draw past the bed", Grip::None, {100, 100}, {300, -50}, {100, 0, 110, 100}},
        {"move", Grip::Inside, {20, 20}, {40, 30}, {30, 20, 50, 50}},
        {"move against right and bottom", Grip::Inside, {20, 20}, {400, 400}, {160, 247, 50, 50}},
        {"move against left and top", Grip::Inside, {20, 20}, {-100, -100}, {0, 0, 50, 50}},
        {"right edge", Grip::Right, {60, 30}, {80, 35}, {10, 10, 70, 50}},
        {"top edge", Grip::Top, {30, 10}, {99, 40}, {10, 40, 50, 20}},
        {"left edge past the right", Grip::Left, {10, 30}, {100, 30}, {60, 10, 40, 50}},
        {"bottom edge past the top", Grip::Bottom, {30, 60}, {30, 0}, {10, 0, 50, 10}},
        {"top-left corner out of the bed", Grip::TopLeft, {10, 10}, {-20, -5}, {0, 0, 60, 60}},
        {"bottom-right corner out of the bed",
         Grip::BottomRight,
         {60, 60},
         {500, 500},
         {10, 10, 200, 287}},
        {"top-right corner", Grip::TopRight, {60, 10}, {90, 30}, {10, 30, 80, 30}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRect(DraggedArea(start, c.grip, c.from, c.to, bed), c.expected, Exact);
    }
}

OptionDesc AreaOption(const char* name, double max, double value) {
    OptionDesc option;
    option.name = name;
    option.type = OptionType::Fixed;
    option.unit = OptionUnit::Mm;
    option.constraint = Constraint::Range;
    option.min = 0;
    option.max = max;
    option.numbers = {value};
    return option;
}

TEST(ScanArea, AreaFromOptionsNeedsAllFourSettableOptions) {
    const auto complete = [] {
        OptionDesc resolution;
        resolution.name = "resolution";
        resolution.numbers = {300};
        return std::vector<OptionDesc>{resolution, AreaOption("tl-x", 215.9, 10),
                                       AreaOption("tl-y", 297, 20), AreaOption("br-x", 215.9, 110),
                                       AreaOption("br-y", 297, 220)};
    };
    const struct {
        const char* what;
        void (*spoil)(std::vector<OptionDesc>&);
    } spoilt[] = {
        {"missing", [](std::vector<OptionDesc>& o) { o.pop_back(); }},
        {"inactive", [](std::vector<OptionDesc>& o) { o[1].active = false; }},
        {"not settable", [](std::vector<OptionDesc>& o) { o[3].settable = false; }},
        {"no range", [](std::vector<OptionDesc>& o) { o[2].constraint = Constraint::None; }},
        {"no value", [](std::vector<OptionDesc>& o) { o[4].numbers.clear(); }},
        {"no extent", [](std::vector<OptionDesc>& o) { o[3].max = 0; }},
    };

    QRectF bed, area;
    ASSERT_TRUE(AreaFromOptions(complete(), &bed, &area));
    ExpectRect(bed, QRectF(0, 0, 215.9, 297), Exact);
    ExpectRect(area, QRectF(10, 20, 100, 200), Exact);
    for (const auto& s : spoilt) {
        SCOPED_TRACE(s.what);
        auto options = complete();
        s.spoil(options);
        EXPECT_FALSE(AreaFromOptions(options, &bed, &area));
    }
    // An area the device holds beyond its own ranges is shown as the part a scan gets.
    auto beyond = complete();
    beyond[3].numbers = {400};
    ASSERT_TRUE(AreaFromOptions(beyond, &bed, &area));
    ExpectRect(area, QRectF(10, 20, 205.9, 200), Exact);
}

// A preview of the whole A4 bed at about 72 dpi.
constexpr int PreviewWidth = 600, PreviewHeight = 850;
const QRectF A4Bed(0, 0, 210, 297);
constexpr double MmPerPixelX = 210.0 / PreviewWidth, MmPerPixelY = 297.0 / PreviewHeight;

QImage AddNoise(QImage image, int amplitude) {
    QRandomGenerator random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const auto jitter = [&](int v) {
                return qBound(0, v + int(random.bounded(2 * amplitude + 1)) - amplitude, 255);
            };
            line[x] = qRgb(jitter(qRed(line[x])), jitter(qGreen(line[x])), jitter(qBlue(line[x])));
        }
    }
    return image;
}

QImage ThroughJpeg(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPG", 60));
    QImage decoded;
    EXPECT_TRUE(decoded.loadFromData(bytes, "JPG"));
    return decoded;
}

QRectF PixelsToBed(const QRect& pixels) {
    return QRectF(QPointF(pixels.left() * MmPerPixelX, pixels.top() * MmPerPixelY),
                  QPointF((pixels.right() + 1) * MmPerPixelX, (pixels.bottom() + 1) * MmPerPixelY));
}

TEST(ScanArea, DocumentAreaIsWhatDiffersFromTheBedsWhite) {
    constexpr double Margin = 3;
    // Within about a pixel of the truth, in bed units.
    constexpr double OnePixel = 0.4;
    const QRect card(400, 560, 200, 290); // in the bottom-right corner
    const QRect note(60, 80, 150, 40);
    const struct {
        const char* what;
        QColor bed;
        int noise;
        bool jpeg;
        QList<QPair<QRect, QColor>> content;
        QRect truth; // null: nothing on the glass
    } cases[] = {
        {"dark card in a corner, JPEG", Qt::white, 0, true, {{card, QColor(40, 40, 40)}}, card},
        {"light yellow highlighter", Qt::white, 4, false, {{note, QColor(255, 245, 150)}}, note},
        {"greyish lid",
         QColor(235, 235, 235),
         8,
         false,
         {{note, QColor(150, 150, 150)}, {card, QColor(120, 60, 60)}},
         note.united(card)},
        {"grey lid of an old scanner",
         QColor(200, 200, 205),
         6,
         true,
         {{card, QColor(60, 60, 60)}},
         card},
        {"specks beside the document",
         Qt::white,
         0,
         true,
         {{note, Qt::black},
          {QRect(500, 20, 2, 2), Qt::black},
          {QRect(30, 700, 3, 3), Qt::black},
          {QRect(580, 840, 1, 1), Qt::black}},
         note},
        {"empty glass", QColor(250, 248, 252), 6, true, {}, QRect()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QImage preview(PreviewWidth, PreviewHeight, QImage::Format_RGB32);
        preview.fill(c.bed);
        {
            QPainter painter(&preview);
            for (const auto& [rect, colour] : c.content)
                painter.fillRect(rect, colour);
        }
        if (c.noise)
            preview = AddNoise(preview, c.noise);
        if (c.jpeg)
            preview = ThroughJpeg(preview);
        const QRectF found = DocumentArea(preview, A4Bed, Margin);
        if (c.truth.isNull()) {
            EXPECT_TRUE(found.isNull());
            continue;
        }
        const QRectF expected =
            PixelsToBed(c.truth).adjusted(-Margin, -Margin, Margin, Margin).intersected(A4Bed);
        ExpectRect(found, expected, OnePixel);
    }
    // A preview scanned as grey lines, and a bed that does not start at 0.
    QImage grey(PreviewWidth, PreviewHeight, QImage::Format_Grayscale8);
    grey.fill(Qt::white);
    QPainter(&grey).fillRect(note, Qt::black);
    ExpectRect(DocumentArea(grey, A4Bed.translated(5, 5), 0), PixelsToBed(note).translated(5, 5),
               Exact);
}

// A pane of 2 view pixels per millimetre: the A4 bed appears at (4, 4) with 420 × 594 pixels.
class PaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pane.resize(428, 602);
        m_pane.SetBed(A4Bed);
        m_pane.SetArea(QRectF(10, 10, 50, 50));
        m_pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_pane));
        ASSERT_EQ(m_pane.BedInView(), QRectF(4, 4, 420, 594));
    }
    static QPoint View(double x, double y) { return QPoint(int(4 + 2 * x), int(4 + 2 * y)); }
    void Drag(QPoint from, std::initializer_list<QPoint> steps) {
        QTest::mousePress(&m_pane, Qt::LeftButton, Qt::NoModifier, from);
        for (const QPoint& step : steps)
            QTest::mouseMove(&m_pane, step);
        QTest::mouseRelease(&m_pane, Qt::LeftButton, Qt::NoModifier, *(steps.end() - 1));
    }
    void Hover(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, m_pane.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&m_pane, &move);
    }

    PreviewPane m_pane;
    QSignalSpy m_dragged{&m_pane, &PreviewPane::AreaDragged};
    QSignalSpy m_chosen{&m_pane, &PreviewPane::AreaChosen};
};

TEST_F(PaneTest, DrawingMovingAndResizingWithTheMouse) {
    // Drawn outside the area: a new one from the press to the release.
    Drag(View(100, 100), {View(110, 120), View(130, 160), View(150, 200)});
    EXPECT_EQ(m_dragged.count(), 3);
    ASSERT_EQ(m_chosen.count(), 1);
    ExpectRect(m_chosen.takeFirst().at(0).toRectF(), QRectF(100, 100, 50, 100), Exact);
    ExpectRect(m_dragged.takeLast().at(0).toRectF(), QRectF(100, 100, 50, 100), Exact);
    m_dragged.clear();

    // Its bottom-right corner, taken 3 pixels beside it.
    Drag(View(150, 200) + QPoint(3, -3), {View(170, 220) + QPoint(3, -3)});
    ASSERT_EQ(m_chosen.count(), 1);
    ExpectRect(m_chosen.takeFirst().at(0).toRectF(), QRectF(100, 100, 70, 120), Exact);

    // Moved from inside, held back by the bed's right edge without shrinking.
    Drag(View(120, 150), {View(150, 150), View(300, 150)});
    ASSERT_EQ(m_chosen.count(), 1);
    ExpectRect(m_pane.Area(), QRectF(140, 100, 70, 120), Exact);
    m_chosen.clear();

    // A click outside, or a stroke under 3 pixels high, is no area: the last one stays.
    m_dragged.clear();
    Drag(View(20, 250), {View(20, 250) + QPoint(1, 1)});
    Drag(View(20, 250), {View(80, 250) + QPoint(0, 2)});
    EXPECT_EQ(m_dragged.count(), 0);
    EXPECT_EQ(m_chosen.count(), 0);
    ExpectRect(m_pane.Area(), QRectF(140, 100, 70, 120), Exact);

    // A double click takes the whole bed.
    QTest::mouseDClick(&m_pane, Qt::LeftButton, Qt::NoModifier, View(20, 250));
    ASSERT_EQ(m_chosen.count(), 1);
    EXPECT_EQ(m_chosen.takeFirst().at(0).toRectF(), A4Bed);
    EXPECT_EQ(m_pane.Area(), A4Bed);
    // An area as large as the bed cannot move: a drag inside it draws a new one.
    Hover(View(100, 100));
    EXPECT_EQ(m_pane.cursor().shape(), Qt::CrossCursor);
    Drag(View(100, 100), {View(150, 200)});
    ExpectRect(m_pane.Area(), QRectF(100, 100, 50, 100), Exact);
}

TEST_F(PaneTest, CursorShowsWhatADragWouldDo) {
    // The area (10, 10)–(60, 60) mm lies at (24, 24)–(124, 124) in the view.
    const struct {
        QPoint at;
        Qt::CursorShape shape;
    } cases[] = {
        {{24, 24}, Qt::SizeFDiagCursor},  {{127, 127}, Qt::SizeFDiagCursor},
        {{124, 22}, Qt::SizeBDiagCursor}, {{21, 124}, Qt::SizeBDiagCursor},
        {{22, 70}, Qt::SizeHorCursor},    {{126, 70}, Qt::SizeHorCursor},
        {{70, 24}, Qt::SizeVerCursor},    {{70, 128}, Qt::SizeVerCursor},
        {{70, 70}, Qt::SizeAllCursor},    {{200, 300}, Qt::CrossCursor},
    };
    for (const auto& c : cases) {
        Hover(c.at);
        EXPECT_EQ(m_pane.cursor().shape(), c.shape) << c.at.x() << "," << c.at.y();
    }
}

TEST_F(PaneTest, WithoutABedTheMouseDoesNothing) {
    m_pane.SetBed(QRectF());
    QImage image(300, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    m_pane.SetImage(image);
    // The picture's own shape fills the pane: 420 × 560 in the 420 × 594 room.
    EXPECT_EQ(m_pane.BedInView(), QRectF(4, 21, 420, 560));
    Drag(QPoint(100, 100), {QPoint(200, 200), QPoint(300, 300)});
    QTest::mouseDClick(&m_pane, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    Hover(QPoint(20, 20));
    EXPECT_EQ(m_dragged.count(), 0);
    EXPECT_EQ(m_chosen.count(), 0);
    EXPECT_NE(m_pane.cursor().shape(), Qt::CrossCursor);
}

TEST_F(PaneTest, PreviewArrivingLineByLineAndTheDimmedOutside) {
    // Half of the bed scanned so far: the upper half shows it, the lower half is empty bed.
    QImage half(210, 148, QImage::Format_RGB888);
    half.fill(QColor(250, 250, 250));
    m_pane.SetImage(half);
    // In view pixels, also where the screen has more pixels than the view.
    const auto pixel = [](const QImage& image, QPoint at) {
        return image.pixel((QPointF(at) * image.devicePixelRatio()).toPoint());
    };
    const QImage shown = m_pane.grab().toImage();
    const auto grey = [&](QPoint at) { return qGray(pixel(shown, at)); };
    EXPECT_EQ(grey(View(30, 30)), 250);                    // the preview inside the area
    EXPECT_LT(grey(View(100, 100)), 250);                  // and dimmed outside it
    EXPECT_LT(grey(View(100, 250)), grey(View(100, 100))); // the empty bed, dimmed as well
    m_pane.SetArea(A4Bed);
    const QImage whole = m_pane.grab().toImage();
    EXPECT_EQ(qGray(pixel(whole, View(100, 100))), 250);
    EXPECT_EQ(pixel(whole, View(100, 147)), QColor(250, 250, 250).rgb()); // the last lines so far
    EXPECT_EQ(pixel(whole, View(100, 149)), QColor(224, 224, 224).rgb());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// One drag step over the preview as a table of invariants: the grabbed edges follow the mouse,
// the opposite edges stay, the coupled zooms end equal, and a zoom never goes below 0.

#include "layout/PreviewDrag.h"
#include "layout/CopyGeometry.h"
#include "platform/Errors.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

// A 1000 x 800 picture scanned at 300 dpi on a 600 dpi printable area of 4000 x 5000 pixels,
// shown in a 400 x 500 preview: 10 printer pixels per preview pixel.
struct Scene {
    TPrinterProperties device;
    TPicProperties pic{&device};
    Scene() {
        device.PrnAreaWidth = 4000;
        device.PrnAreaHeight = 5000;
        device.PrnAreaMMWidth = 169;
        device.PrnAreaMMHeight = 212;
        device.PrnDPI = {600, 600};
        auto bmp = std::make_unique<TBitmap>();
        bmp->SetImage(QImage(1000, 800, QImage::Format_RGB888));
        pic.Picture.SetGraphic(std::move(bmp));
        pic.ScannerDPI = {300, 300};
        pic.xZoom = pic.yZoom = 1.0;
        pic.xRelPos = 0.125; // left 50 of 400
        pic.yRelPos = 0.12;  // top 60 of 500
    }
};

constexpr int kAreaW = 400;
constexpr int kAreaH = 500;

// The copy in preview pixels, unrounded.
struct Box {
    double left, top, width, height;
};
Box BoxOf(const TPicProperties& pic) {
    return {pic.xRelPos * kAreaW, pic.yRelPos * kAreaH, pic.xRelSize() * kAreaW,
            pic.yRelSize() * kAreaH};
}

} // namespace

TEST(PreviewDrag, OneStepKeepsTheGrabbedEdgesUnderTheMouse) {
    struct Case {
        const char* name;
        int edges;
        bool keepAspect;
        int dx, dy; // mouse offset from the press
    };
    const Case cases[] = {
        {"move", 0, false, 17, -9},
        {"move off the paper", 0, true, -300, 600},
        {"left wider", EdgeLeft, false, -30, 0},
        {"left narrower", EdgeLeft, false, 40, 5},
        {"right", EdgeRight, false, 25, 3},
        {"top", EdgeTop, false, 0, -20},
        {"bottom", EdgeBottom, false, -4, 35},
        {"bottom, keep aspect", EdgeBottom, true, 0, 35},
        {"right, keep aspect", EdgeRight, true, 25, 0},
        {"top-left corner", EdgeLeft | EdgeTop, false, -10, -20},
        {"top-left corner, keep aspect", EdgeLeft | EdgeTop, true, -10, -20},
        {"bottom-right corner, keep aspect", EdgeRight | EdgeBottom, true, 30, -15},
        {"right across the left edge", EdgeRight, false, -250, 0},
        {"top across the bottom edge", EdgeTop, true, 0, 200},
        {"left across the right edge", EdgeLeft | EdgeBottom, false, 260, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        const Box before = BoxOf(s.pic); // 50, 60, 200 x 128
        // Pressed just inside the grabbed edges (the middle for a move).
        const int downX = c.edges & EdgeLeft    ? 2
                          : c.edges & EdgeRight ? int(before.width) - 2
                                                : int(before.width) / 2;
        const int downY = c.edges & EdgeTop      ? 2
                          : c.edges & EdgeBottom ? int(before.height) - 2
                                                 : int(before.height) / 2;
        TDragInput in;
        in.Edges = c.edges;
        in.DownX = downX;
        in.DownY = downY;
        in.DownWidth = int(before.width);
        in.DownHeight = int(before.height);
        in.Left = int(before.left);
        in.Top = int(before.top);
        in.Width = int(before.width);
        in.Height = int(before.height);
        in.X = downX + c.dx;
        in.Y = downY + c.dy;
        in.AreaWidth = kAreaW;
        in.AreaHeight = kAreaH;
        const TDragStep step = DragStep(in);
        ApplyDragStep(s.pic, step, c.keepAspect);
        const Box after = BoxOf(s.pic);

        // Each grabbed edge moved with the mouse; its opposite edge stayed.
        if (c.edges == 0) {
            EXPECT_DOUBLE_EQ(after.left, before.left + c.dx);
            EXPECT_DOUBLE_EQ(after.top, before.top + c.dy);
            EXPECT_DOUBLE_EQ(after.width, before.width);
            EXPECT_DOUBLE_EQ(after.height, before.height);
        }
        const bool horizontal = c.edges & (EdgeLeft | EdgeRight);
        const bool vertical = c.edges & (EdgeTop | EdgeBottom);
        if (c.edges & EdgeLeft) {
            ASSERT_TRUE(step.xRelSize && step.xRelPos);
            EXPECT_DOUBLE_EQ(*step.xRelSize * kAreaW, before.width - c.dx);
            EXPECT_DOUBLE_EQ(*step.xRelPos * kAreaW, before.left + c.dx);
        } else if (c.edges & EdgeRight) {
            ASSERT_TRUE(step.xRelSize);
            EXPECT_FALSE(step.xRelPos);
            EXPECT_DOUBLE_EQ(*step.xRelSize * kAreaW, before.width + c.dx);
        }
        if (c.edges & EdgeTop) {
            ASSERT_TRUE(step.yRelSize && step.yRelPos);
            EXPECT_DOUBLE_EQ(*step.yRelSize * kAreaH, before.height - c.dy);
            EXPECT_DOUBLE_EQ(*step.yRelPos * kAreaH, before.top + c.dy);
        } else if (c.edges & EdgeBottom) {
            ASSERT_TRUE(step.yRelSize);
            EXPECT_FALSE(step.yRelPos);
            EXPECT_DOUBLE_EQ(*step.yRelSize * kAreaH, before.height + c.dy);
        }
        if (!horizontal && c.edges != 0) {
            EXPECT_FALSE(step.xRelSize || step.xRelPos);
        }
        if (!vertical && c.edges != 0) {
            EXPECT_FALSE(step.yRelSize || step.yRelPos);
        }
        // The top-left corner stays where it was unless its own edges were grabbed.
        if (!(c.edges & EdgeLeft)) {
            EXPECT_DOUBLE_EQ(after.left, c.edges ? before.left : before.left + c.dx);
        }
        if (!(c.edges & EdgeTop)) {
            EXPECT_DOUBLE_EQ(after.top, c.edges ? before.top : before.top + c.dy);
        }

        // Zooms: never negative; an edge dragged across the opposite one gives 0.
        EXPECT_GE(s.pic.xZoom, 0);
        EXPECT_GE(s.pic.yZoom, 0);
        if (step.xRelSize && *step.xRelSize < 0) {
            EXPECT_EQ(s.pic.xZoom, 0);
        }
        if (step.yRelSize && *step.yRelSize < 0) {
            EXPECT_EQ(s.pic.yZoom, 0);
        }
        // Coupled: both zooms end equal, the vertical step's zoom winning at a corner.
        if (c.keepAspect && (horizontal || vertical)) {
            EXPECT_EQ(s.pic.xZoom, s.pic.yZoom);
            if (vertical && step.yRelSize && *step.yRelSize >= 0) {
                EXPECT_DOUBLE_EQ(s.pic.yZoom * before.height, *step.yRelSize * kAreaH);
            }
        }
        if (!c.keepAspect && !vertical) {
            EXPECT_EQ(s.pic.yZoom, 1.0);
        }
        if (!c.keepAspect && !horizontal) {
            EXPECT_EQ(s.pic.xZoom, 1.0);
        }
    }
}

TEST(PreviewDrag, StepsOfOneDragAddUp) {
    // The layout puts the box where the record says after every step: dragging the left edge
    // in five steps of -6 ends where one step of -30 does, and the right edge stays put.
    Scene one, many;
    const auto drag = [](Scene& s, int dx) {
        const Box b = BoxOf(s.pic);
        TDragInput in;
        in.Edges = EdgeLeft;
        in.DownX = 2;
        in.DownWidth = 200;
        in.Left = RoundHalfEven(b.left);
        in.Top = RoundHalfEven(b.top);
        in.Width = RoundHalfEven(b.width);
        in.Height = RoundHalfEven(b.height);
        in.X = 2 + dx;
        in.AreaWidth = kAreaW;
        in.AreaHeight = kAreaH;
        ApplyDragStep(s.pic, DragStep(in), false);
    };
    drag(one, -30);
    for (int i = 0; i < 5; ++i)
        drag(many, -6);
    EXPECT_NEAR(BoxOf(many.pic).left, BoxOf(one.pic).left, 1e-9);
    EXPECT_NEAR(BoxOf(many.pic).width, BoxOf(one.pic).width, 1e-9);
    EXPECT_NEAR(BoxOf(many.pic).left + BoxOf(many.pic).width, 250, 1e-9);
}

TEST(PreviewDrag, EmptyAreaRaises) {
    TDragInput in;
    in.X = 5;
    EXPECT_THROW(DragStep(in), EZeroDivide);
}

TEST(CopyGeometry, CentringUsesOneExpressionRoundedHalfToEven) {
    struct Case {
        int area, copy;
        int pos; // the centred position in printer pixels
    };
    const Case cases[] = {
        {1000, 600, 200},   {1000, 1000, 0},
        {1024, 1261, -118}, // -118.5 rounds to the even neighbour, not away from zero
        {1024, 1263, -120}, // -119.5
        {1024, 1025, 0},    // -0.5
        {1024, 1027, -2},   // -1.5
    };
    for (const Case& c : cases) {
        TPrinterProperties device;
        device.PrnAreaWidth = c.area;
        device.PrnAreaHeight = c.area;
        device.PrnDPI = {300, 300};
        TPicProperties pic(&device);
        auto bmp = std::make_unique<TBitmap>();
        bmp->SetImage(QImage(c.copy, c.copy, QImage::Format_RGB888));
        pic.Picture.SetGraphic(std::move(bmp));
        pic.ScannerDPI = {300, 300};
        pic.xZoom = pic.yZoom = 1.0;
        pic.xRelPos = CentredRelPos(pic.xRelSize());
        pic.yRelPos = CentredRelPos(pic.yRelSize());
        EXPECT_EQ(pic.XPos(), c.pos) << c.area << " " << c.copy;
        EXPECT_EQ(pic.YPos(), c.pos) << c.area << " " << c.copy;
        // Centred: equal overhang on both sides, to the half pixel.
        EXPECT_DOUBLE_EQ(2 * pic.xRelPos * c.area + c.copy, c.area);
    }
}

// The copy layout on the real main window: the info panel's edits and figures, the centring
// buttons, the sheet preview and the mouse handling over the copy.

#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "layout/PicObj.h"
#include "pictures/metafile/MetaRecords.h"
#include "pictures/metafile/Metafile.h"
#include "platform/Errors.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

// A picture of w x h pixels: white with a black frame, so its placement can be seen.
void SetPicture(TPicProperties& p, int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(Qt::white);
    for (int x = 0; x < w; ++x)
        img.setPixelColor(x, 0, Qt::black), img.setPixelColor(x, h - 1, Qt::black);
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetImage(img);
    p.Picture.SetGraphic(std::move(bmp));
}

// An EMF of one inch square that fills only its left half, red.
QByteArray LeftHalfRedEmf() {
    QByteArray b;
    const auto put = [&b](std::initializer_list<uint32_t> values) {
        for (uint32_t v : values)
            for (int i = 0; i < 4; ++i)
                b.append(char(v >> (8 * i)));
    };
    put({Emf::EMR_HEADER, 88, 0, 0, 96, 96, 0, 0,   2540, 2540, Emf::Signature,
         0x10000,         0,  6, 4, 0,  0,  0, 960, 960,  254,  254});
    put({Emf::EMR_CREATEBRUSHINDIRECT, 24, 1, Gdi::BS_SOLID, 0x0000FF, 0});
    put({Emf::EMR_SELECTOBJECT, 12, 1});
    put({Emf::EMR_SELECTOBJECT, 12, Gdi::NULL_PEN});
    put({Emf::EMR_RECTANGLE, 24, 0, 0, 48, 96});
    put({Emf::EMR_EOF, 20, 0, 16, 20});
    return b;
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TMainForm> form;
    std::unique_ptr<DialogRecorder> dialogs;

    TFloatSpinEdit* XZoom() { return Child<TFloatSpinEdit>(*form, "XZoomEdit"); }
    TFloatSpinEdit* YZoom() { return Child<TFloatSpinEdit>(*form, "YZoomEdit"); }
    TSpinEdit* XPos() { return Child<TSpinEdit>(*form, "XPosEdit"); }
    TSpinEdit* YPos() { return Child<TSpinEdit>(*form, "YPosEdit"); }
    QCheckBox* Both() { return Child<QCheckBox>(*form, "BothBox"); }
    QWidget* Box() { return Child<QWidget>(*form, "PreviewPaintBox"); }
    QWidget* Paint() { return Child<QWidget>(*form, "PaintPanel"); }
    QString Label(const char* name) { return Child<QLabel>(*form, name)->text(); }

    // Lays out a picture of picW x picH pixels scanned at scanDpi on an A4-like device of
    // 600 dpi, as a scan would: resolution shown, copy centred, preview drawn.
    void LayOut(int picW, int picH, int scanDpi, int areaW = 4760, int areaH = 6779) {
        TPrinterProperties& dev = *form->PrinterProps;
        dev.PrnAreaWidth = areaW;
        dev.PrnAreaHeight = areaH;
        dev.PrnAreaMMWidth = 201;
        dev.PrnAreaMMHeight = 287;
        dev.PrnDPI = {600, 600};
        SetPicture(*form->pic, picW, picH);
        form->pic->ScannerDPI = {scanDpi, scanDpi};
        form->pic->xZoom = form->pic->yZoom = 1.0;
        Child<TSpinEdit>(*form, "SrcXDPIEdit")->SetValue(scanDpi);
        Child<TSpinEdit>(*form, "SrcYDPIEdit")->SetValue(scanDpi);
        form->ShowZoomValues();
        form->FormResize();
        form->UpdatePicInfo(true);
        form->PaintPanelResize();
    }

private slots:
    void init() {
        dialogs = std::make_unique<DialogRecorder>();
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    void cleanup() {
        form.reset();
        dialogs.reset();
    }

    void figuresOfALaidOutScan() {
        LayOut(2480, 3508, 300);
        QCOMPARE(Label("PicPixelsLabel"), QStringLiteral("2480 x 3508 Pixel"));
        QCOMPARE(Label("PicDPILabel"), QStringLiteral("DPI  X: 300, Y: 300"));
        QCOMPARE(Label("QualityLabel"), QStringLiteral("Qual. X: 1.0, Y: 1.0"));
        // 100 % of a 210 mm wide scan on a 201 mm wide printable area of 4760 pixels.
        QCOMPARE(form->pic->PrnPicWidth(), 4960);
        QCOMPARE(XZoom()->Text(), QStringLiteral("100,00"));
        // Centred: the copy overlaps both sides equally. The 7016 pixels high copy on 6779
        // pixels stands at -118.5, which rounds to the even -118 (not away from zero).
        QCOMPARE(XPos()->Value(), (4760 - 4960) / 2);
        QCOMPARE(form->pic->PrnPicHeight(), 7016);
        QCOMPARE(YPos()->Value(), -118);

        // The preview sheet keeps the printable area's proportions; the copy sits on it.
        QVERIFY(form->PrevXSize > 0 && form->PrevYSize > 0);
        QVERIFY(qAbs(double(form->PrevYSize) / form->PrevXSize - 6779.0 / 4760) < 0.02);
        QVERIFY(Box()->width() > 0);
        QVERIFY(form->PreviewBitmap && !form->PreviewBitmap->isNull());
        // Only the visible part is rendered.
        QVERIFY(form->PreviewBitmap->width() <= Paint()->contentsRect().width());
    }

    void typingAZoomCouplesBothAxesOncePerKeystroke() {
        LayOut(2480, 3508, 300);
        QVERIFY(Both()->isChecked());
        QSignalSpy yChanges(YZoom(), &TFloatSpinEdit::Change);
        XZoom()->setFocus();
        XZoom()->selectAll();
        QStringList dpiAfterKey;
        for (const char* key : {"1", "5", "0"}) {
            QTest::keyClicks(XZoom(), QString::fromLatin1(key));
            dpiAfterKey << Label("PicDPILabel");
        }
        // 1 %, 15 %, 150 %: each keystroke recomputed the figures once.
        QCOMPARE(dpiAfterKey, QStringList({QStringLiteral("DPI  X: 30000, Y: 30000"),
                                           QStringLiteral("DPI  X: 2000, Y: 2000"),
                                           QStringLiteral("DPI  X: 200, Y: 200")}));
        QCOMPARE(yChanges.count(), 3);
        QCOMPARE(form->pic->xZoom, 1.5);
        QCOMPARE(form->pic->yZoom, 1.5);
        QCOMPARE(YZoom()->Text(), QStringLiteral("150,00"));
        // Leaving the edit rewrites its text in the two-decimal form.
        Child<QToolButton>(*form, "CenterPosBtn")->setFocus();
        QCOMPARE(XZoom()->Text(), QStringLiteral("150,00"));
        // The top-left corner stays where it was.
        QCOMPARE(XPos()->Value(), (4760 - 4960) / 2);
    }

    void couplingEqualisesToTheSmallerZoom() {
        LayOut(1000, 1000, 300);
        // Checking the box while the zooms differ.
        Both()->setChecked(false);
        XZoom()->SetValue(200);
        YZoom()->SetValue(100);
        QCOMPARE(form->pic->xZoom, 2.0);
        QCOMPARE(form->pic->yZoom, 1.0);
        Both()->setChecked(true);
        QCOMPARE(form->pic->xZoom, 1.0);
        QCOMPARE(form->pic->yZoom, 1.0);
        QCOMPARE(XZoom()->Text(), QStringLiteral("100,00"));
        // Unchecking it while they differ (a record laid out with two zooms, the box still
        // checked): the smaller one wins again, here the vertical one.
        form->pic->xZoom = 1.5;
        form->pic->yZoom = 0.5;
        form->ShowZoomValues();
        QVERIFY(Both()->isChecked());
        Both()->setChecked(false);
        QCOMPARE(form->pic->xZoom, 0.5);
        QCOMPARE(form->pic->yZoom, 0.5);
        QCOMPARE(XZoom()->Text(), QStringLiteral("50,00"));
        QCOMPARE(YZoom()->Text(), QStringLiteral("50,00"));
    }

    void centringButtons() {
        // A landscape scan is relatively wider than the portrait printable area.
        LayOut(3508, 2480, 300);
        QVERIFY(form->pic->IsWiderThanArea());
        Child<QToolButton>(*form, "CenterSizeBtn")->click();
        QCOMPARE(XPos()->Value(), 0);
        QVERIFY(qAbs(form->pic->PrnPicWidth() - 4760) <= 1);
        QCOMPARE(XZoom()->Text(), YZoom()->Text());
        // Both zooms 4760 / 7016: the copy is 2480 * 2 * 4760 / 7016 = 3365.1 pixels high and
        // centred at (6779 - 3365.1) / 2 = 1706.9.
        QCOMPARE(form->pic->PrnPicHeight(), 3365);
        QCOMPARE(YPos()->Value(), 1707);

        // Uncoupled, the copy fills the printable area on each axis on its own.
        Both()->setChecked(false);
        Child<QToolButton>(*form, "CenterSizeBtn")->click();
        QCOMPARE(XPos()->Value(), 0);
        QCOMPARE(YPos()->Value(), 0);
        QVERIFY(qAbs(form->pic->PrnPicHeight() - 6779) <= 1);
        QVERIFY(XZoom()->Text() != YZoom()->Text());

        // A copy larger than the area is centred with negative positions.
        XZoom()->SetValue(300);
        Child<QToolButton>(*form, "CenterPosBtn")->click();
        // 3508 * 2 * 3 = 21048 pixels wide on 4760: (4760 - 21048) / 2.
        QCOMPARE(form->pic->PrnPicWidth(), 21048);
        QCOMPARE(XPos()->Value(), -8144);

        // A negative position typed by hand is taken as it is.
        XPos()->SetValue(-50);
        QCOMPARE(form->pic->XPos(), -50);
    }

    void hoverCursors() {
        LayOut(2480, 3508, 300);
        const int W = Box()->width(), H = Box()->height();
        const int bw = form->EdgeBandWidth();
        QVERIFY(bw >= 5);
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, 2, H / 2);
        QCOMPARE(Box()->cursor().shape(), Qt::SizeHorCursor);
        QCOMPARE(form->DragEdges, 1);
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, 1, 1);
        QCOMPARE(Box()->cursor().shape(), Qt::SizeFDiagCursor);
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W - 2, 1);
        QCOMPARE(Box()->cursor().shape(), Qt::SizeBDiagCursor);
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W / 2, H - 1);
        QCOMPARE(Box()->cursor().shape(), Qt::SizeVerCursor);
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W / 2, H / 2);
        QCOMPARE(Box()->cursor().shape(), Qt::BitmapCursor); // the hand of our own
        QCOMPARE(form->DragEdges, 0);
    }

    void draggingTheRightEdgeAcrossTheLeftGivesZoomZeroAndBack() {
        LayOut(2480, 3508, 300);
        Both()->setChecked(false);
        const int W = Box()->width(), H = Box()->height();
        const int left = Box()->x();
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W - 1, H / 2);
        QCOMPARE(form->DragEdges, 4);
        form->PreviewPaintBoxMouseDown(Qt::LeftButton, Qt::NoModifier, W - 1, H / 2);
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, -40, H / 2);
        QCOMPARE(form->pic->xZoom, 0.0);
        QCOMPARE(XZoom()->Value(), 0.0);
        QCOMPARE(Box()->width(), 0);
        QCOMPARE(Label("PicDPILabel"), QStringLiteral("DPI  X: , Y: 300"));
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W / 2, H / 2);
        QVERIFY(form->pic->xZoom > 0);
        QVERIFY(qAbs(Box()->width() - W / 2) <= 1);
        QCOMPARE(Box()->x(), left); // the left edge never moved
        form->PreviewPaintBoxMouseUp(Qt::LeftButton, Qt::NoModifier, W / 2, H / 2);
        QVERIFY(!form->Dragging);
        QCOMPARE(form->DragEdges, 0);
    }

    void cornerDragWithCouplingLetsTheVerticalStepWin() {
        LayOut(2480, 3508, 300);
        const int W = Box()->width(), H = Box()->height();
        const QPoint topLeft = Box()->pos();
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W - 1, H - 1);
        QCOMPARE(form->DragEdges, 12);
        form->PreviewPaintBoxMouseDown(Qt::LeftButton, Qt::NoModifier, W - 1, H - 1);
        // Right by a lot, down by a little: the vertical zoom decides for both.
        form->PreviewPaintBoxMouseMove(Qt::NoModifier, W + 30, H + 9);
        const double expected = form->pic->yZoom;
        QCOMPARE(form->pic->xZoom, expected);
        QCOMPARE(XZoom()->Text(), YZoom()->Text());
        QVERIFY(qAbs(Box()->height() - (H + 10)) <= 1);
        QCOMPARE(Box()->pos(), topLeft);
        form->PreviewPaintBoxMouseUp(Qt::LeftButton, Qt::NoModifier, 0, 0);
    }

    void movingWithTheRealMouseKeepsTheGrabbedPointUnderIt() {
        LayOut(1000, 1000, 300);
        const QPoint start = Box()->pos();
        const QPoint grab(Box()->width() / 2, Box()->height() / 2);
        QTest::mouseMove(Box(), grab);
        QCOMPARE(form->DragEdges, 0);
        QTest::mousePress(Box(), Qt::LeftButton, Qt::NoModifier, grab);
        QVERIFY(form->Dragging);
        const int x0 = XPos()->Value();
        const int y0 = YPos()->Value();
        const QPoint pressedAt = Box()->mapToGlobal(grab);
        for (int step = 1; step <= 5; ++step) {
            const QPoint mouse = pressedAt + step * QPoint(3, 2);
            QTest::mouseMove(Box(), Box()->mapFromGlobal(mouse));
            // Laid out anew after the step: the grabbed point is under the mouse again.
            QCOMPARE(Box()->mapFromGlobal(mouse), grab);
        }
        QTest::mouseRelease(Box(), Qt::LeftButton, Qt::NoModifier, grab);
        QVERIFY(!form->Dragging);
        QCOMPARE(Box()->pos(), start + QPoint(15, 10));
        // 15 and 10 preview pixels in printer pixels, to the rounding of each step.
        const double perPixelX = 4760.0 / Paint()->contentsRect().width();
        const double perPixelY = 6779.0 / Paint()->contentsRect().height();
        QVERIFY(qAbs(XPos()->Value() - (x0 + 15 * perPixelX)) <= 5 * perPixelX / 2);
        QVERIFY(qAbs(YPos()->Value() - (y0 + 10 * perPixelY)) <= 5 * perPixelY / 2);
    }

    void draggingEdgesWithTheRealMouseEndsOnReleaseOutside_data() {
        QTest::addColumn<int>("edges");
        QTest::addColumn<bool>("keepAspect");
        QTest::addColumn<QPoint>("drag"); // in preview pixels, in three steps
        QTest::newRow("left edge out") << 1 << false << QPoint(-30, 0);
        QTest::newRow("left edge in") << 1 << false << QPoint(24, 0);
        QTest::newRow("top edge") << 2 << false << QPoint(0, -21);
        QTest::newRow("bottom edge, keep aspect") << 8 << true << QPoint(0, 30);
        QTest::newRow("top-left corner, keep aspect") << 3 << true << QPoint(-12, -24);
    }

    void draggingEdgesWithTheRealMouseEndsOnReleaseOutside() {
        QFETCH(int, edges);
        QFETCH(bool, keepAspect);
        QFETCH(QPoint, drag);
        LayOut(1000, 1000, 300);
        Both()->setChecked(keepAspect);
        const QRect before = Box()->geometry();
        const QPoint grab((edges & 1) ? 1 : before.width() / 2, (edges & 2) ? 1
                                                                : (edges & 8)
                                                                    ? before.height() - 2
                                                                    : before.height() / 2);
        QTest::mouseMove(Box(), grab);
        QCOMPARE(form->DragEdges, edges);
        QTest::mousePress(Box(), Qt::LeftButton, Qt::NoModifier, grab);
        const QPoint pressedAt = Box()->mapToGlobal(grab);
        for (int step = 1; step <= 3; ++step)
            QTest::mouseMove(Box(), Box()->mapFromGlobal(pressedAt + drag * step / 3));
        // Released far outside the box (and the preview): the drag ends all the same.
        QTest::mouseRelease(Box(), Qt::LeftButton, Qt::NoModifier,
                            Box()->mapFromGlobal(pressedAt + QPoint(-500, -500)));
        QVERIFY(!form->Dragging);
        QCOMPARE(form->DragEdges, 0);
        const QRect after = Box()->geometry();
        // Grabbed edges moved with the mouse, the others stayed (to a pixel of rounding).
        const auto near = [](int a, int b) { return qAbs(a - b) <= 1; };
        if (edges & 1) {
            QVERIFY2(near(after.left(), before.left() + drag.x()), "left edge follows");
            // At a coupled corner the vertical zoom decides the width as well.
            if (!(keepAspect && (edges & 2)))
                QVERIFY2(near(after.right(), before.right()), "right edge stays");
        }
        if (edges & 2) {
            QVERIFY2(near(after.top(), before.top() + drag.y()), "top edge follows");
            if (!keepAspect)
                QVERIFY2(near(after.bottom(), before.bottom()), "bottom edge stays");
        }
        if (edges & 8) {
            QVERIFY2(near(after.bottom(), before.bottom() + drag.y()), "bottom edge follows");
            QVERIFY2(near(after.top(), before.top()), "top edge stays");
            QVERIFY2(near(after.left(), before.left()), "left edge stays");
        }
        if (keepAspect) {
            QCOMPARE(form->pic->xZoom, form->pic->yZoom);
            QCOMPARE(XZoom()->Text(), YZoom()->Text());
        } else {
            QVERIFY(form->pic->xZoom != form->pic->yZoom);
        }
        // A later move without the button only hovers.
        const QRect released = Box()->geometry();
        QTest::mouseMove(Box(), QPoint(released.width() / 2, released.height() / 2));
        QCOMPARE(Box()->geometry(), released);
    }

    void zeroScannerResolutionIsReportedAndRecoverable() {
        LayOut(2480, 3508, 300);
        const QString before = Label("PicCMLabel");
        TSpinEdit* dpi = Child<TSpinEdit>(*form, "SrcXDPIEdit");
        dpi->setFocus();
        dpi->selectAll();
        QTest::keyClicks(dpi, QStringLiteral("0"));
        QTest::keyClick(dpi, Qt::Key_Return);
        // The figures fail on the division; the report is shown and the program goes on.
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        QVERIFY(dialogs->LastMessage().Text.contains(QStringLiteral("EZeroDivide")));
        QCOMPARE(Label("PicCMLabel"), before);
        // Once: hovering, dragging, resizing the window and leaving the edit again report
        // nothing more, and the preview stays as it stands.
        const QRect box = Box()->geometry();
        for (const QPoint at : {QPoint(2, 2), QPoint(box.width() / 2, box.height() / 2)})
            QTest::mouseMove(Box(), at);
        QTest::mousePress(Box(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseMove(Box(), QPoint(25, 15));
        QTest::mouseRelease(Box(), Qt::LeftButton, Qt::NoModifier, QPoint(25, 15));
        form->resize(form->width() + 40, form->height() + 30);
        QApplication::processEvents();
        form->SrcXDPIEditExit(dpi);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        QCOMPARE(Box()->size(), box.size());
        QCOMPARE(Label("PicCMLabel"), before);
        // A valid value repairs it: the copy is half as wide at twice the resolution.
        dpi->selectAll();
        QTest::keyClicks(dpi, QStringLiteral("600"));
        QTest::keyClick(dpi, Qt::Key_Return);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        QCOMPARE(Label("PicDPILabel"), QStringLiteral("DPI  X: 600, Y: 300"));
        QCOMPARE(form->pic->ScannerDPI.X, 600);
        QCOMPARE(Box()->width(),
                 RoundHalfEven(form->pic->xRelSize() * Paint()->contentsRect().width()));
        QVERIFY(Box()->width() < box.width() * 0.6);
    }

    void absurdInputNeitherCrashesNorAllocates() {
        LayOut(1, 1, 300);
        XZoom()->SetValue(2147483647.0);
        const QRect client = Paint()->contentsRect();
        QVERIFY(form->PreviewBitmap->width() <= client.width());
        QVERIFY(form->PreviewBitmap->height() <= client.height());
        XZoom()->SetValue(0);
        XPos()->SetValue(-2000000000);
        YPos()->SetValue(2000000000);
        XZoom()->SetValue(100);
        QVERIFY(form->PreviewBitmap->isNull() || form->PreviewBitmap->width() <= client.width());
        // A picture far larger than the paper.
        LayOut(4000, 6000, 50);
        QVERIFY(form->PreviewBitmap->width() <= client.width());
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    // A metafile is played into the preview bitmap itself: where it draws nothing the paper
    // colour shows, and its own colours stand beside it.
    void metafileDrawsOnThePaperInThePreview() {
        LayOut(100, 100, 300);
        dialogs->ColorAnswers.push_back(QColor(255, 255, 200));
        QTest::mouseClick(Child<QLabel>(*form, "PaperColorLabel"), Qt::LeftButton);
        form->pic->Picture.SetGraphic(std::make_unique<TMetafile>(LeftHalfRedEmf()));
        form->UpdatePicInfo(true);
        form->PaintPanelResize(); // renders the preview bitmap again
        QVERIFY(form->PreviewBitmap && !form->PreviewBitmap->isNull());
        const QImage& preview = *form->PreviewBitmap;
        int red = 0, paper = 0, other = 0;
        for (int y = 0; y < preview.height(); ++y)
            for (int x = 0; x < preview.width(); ++x) {
                const QRgb p = preview.pixel(x, y) & 0xFFFFFF;
                if (p == 0xFF0000)
                    ++red;
                else if (p == 0xFFFFC8)
                    ++paper;
                else
                    ++other;
            }
        QVERIFY2(red > 0 && paper > 0,
                 qPrintable(
                     QStringLiteral("red %1, paper %2, other %3").arg(red).arg(paper).arg(other)));
        // Antialiased edges only: the two halves are about equal.
        QVERIFY(other < (red + paper) / 10);
        QVERIFY(std::abs(red - paper) < (red + paper) / 5);
    }

    void paperColourRecoloursThePreviewOnly() {
        LayOut(100, 100, 300);
        dialogs->ColorAnswers.push_back(QColor(255, 255, 200));
        QTest::mouseClick(Child<QLabel>(*form, "PaperColorLabel"), Qt::LeftButton);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Color), 1);
        QCOMPARE(dialogs->History.last().color, QColor(Qt::white)); // preset with the current
        QCOMPARE(Paint()->palette().color(QPalette::Window), QColor(255, 255, 200));
        // A cancelled chooser changes nothing.
        QTest::mouseClick(Child<QWidget>(*form, "PaperColorShape"), Qt::RightButton);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Color), 2);
        QCOMPARE(Paint()->palette().color(QPalette::Window), QColor(255, 255, 200));
    }
};

VELMORA_GUI_TEST_MAIN(LayoutTest)
#include "LayoutTest.moc"

// The main window's copy layout: the copy geometry of the info panel and the sheet preview
// with mouse positioning.

#include "app/EventHook.h"
#include "app/MainForm.h"
#include "app/VelmoraApplication.h"
#include "layout/CopyGeometry.h"
#include "layout/PicObj.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {

// Property of each figure label holding the text it shows for an empty page.
constexpr char EmptyPageText[] = "velmoraEmptyPageText";

} // namespace

void TMainForm::SetupLayoutHandlers() {
    // The figures' texts of the window design are what an empty page shows.
    for (QLabel* label : {PicPixelsLabel, PicCMLabel, PicDPILabel, QualityLabel})
        label->setProperty(EmptyPageText, label->text());

    connect(XZoomEdit, &TFloatSpinEdit::Change, this,
            Guarded([this] { XZoomEditChange(XZoomEdit); }));
    connect(YZoomEdit, &TFloatSpinEdit::Change, this,
            Guarded([this] { XZoomEditChange(YZoomEdit); }));
    // Every change of the check state counts, whether the user or the program made it.
    connect(BothBox, &QCheckBox::toggled, this, Guarded([this] { BothBoxClick(); }));
    connect(CenterSizeBtn, &QToolButton::clicked, this, Guarded([this] { CenterSizeBtnClick(); }));
    connect(CenterPosBtn, &QToolButton::clicked, this, Guarded([this] { CenterPosBtnClick(); }));
    connect(XPosEdit, &TSpinEdit::Change, this, Guarded([this] { XPosEditChange(); }));
    connect(YPosEdit, &TSpinEdit::Change, this, Guarded([this] { YPosEditChange(); }));
    for (TSpinEdit* edit : {SrcXDPIEdit, SrcYDPIEdit}) {
        connect(edit, &TSpinEdit::Exit, this, Guarded([this, edit] { SrcXDPIEditExit(edit); }));
        HookEvent(edit, QEvent::KeyPress, [this, edit](QEvent* event) {
            auto* keyEvent = static_cast<QKeyEvent*>(event);
            int key = keyEvent->key();
            SrcXDPIEditKeyDown(edit, key, keyEvent->modifiers());
            return key == 0;
        });
    }

    // The preview panel changes size only with the window, and the layout needs its new size.
    HookEvent(PreviewPanel, QEvent::Resize, [this](QEvent*) {
        FormResize();
        return false;
    });
    HookEvent(PaintPanel, QEvent::Resize, [this](QEvent*) {
        PaintPanelResize();
        return false;
    });
    HookEvent(PreviewPaintBox, QEvent::Paint, [this](QEvent*) {
        PreviewPaintBoxPaint();
        return false;
    });

    // A double click arrives in place of the second press; it is a press all the same.
    for (QEvent::Type press : {QEvent::MouseButtonPress, QEvent::MouseButtonDblClick})
        HookEvent(PreviewPaintBox, press, [this](QEvent* event) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint at = mouse->position().toPoint();
            PreviewPaintBoxMouseDown(mouse->button(), mouse->modifiers(), at.x(), at.y());
            return true;
        });
    HookEvent(PreviewPaintBox, QEvent::MouseMove, [this](QEvent* event) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->position().toPoint();
        PreviewPaintBoxMouseMove(mouse->modifiers(), at.x(), at.y());
        return true;
    });
    HookEvent(PreviewPaintBox, QEvent::MouseButtonRelease, [this](QEvent* event) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->position().toPoint();
        PreviewPaintBoxMouseUp(mouse->button(), mouse->modifiers(), at.x(), at.y());
        return true;
    });
    HookEvent(PaperColorShape, QEvent::MouseButtonRelease, [this](QEvent* event) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint at = mouse->position().toPoint();
        PaperColorShapeMouseUp(mouse->button(), mouse->modifiers(), at.x(), at.y());
        return true;
    });
    // A label has no click of its own: a left button released over it is one.
    HookEvent(PaperColorLabel, QEvent::MouseButtonRelease, [this](QEvent* event) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            PaperColorLabel->rect().contains(mouse->position().toPoint()))
            PaperColorLabelClick();
        return false;
    });
}

namespace {

// Qt keeps widget coordinates and sizes below 2^24; an absurd zoom or position must not wrap.
constexpr int BoxLimit = 1 << 24;

int ClampCoord(long long v) {
    return static_cast<int>(std::clamp<long long>(v, -BoxLimit, BoxLimit));
}

int ClampSize(long long v) {
    return static_cast<int>(std::clamp<long long>(v, 0, BoxLimit));
}

// While the program writes the zoom or position edits itself, their change handler must not
// recompute anything. Restores the flag also when a figure fails on the way.
class UpdatesPause {
public:
    explicit UpdatesPause(bool& flag) : m_flag(flag) { m_flag = false; }
    ~UpdatesPause() { m_flag = true; }
    UpdatesPause(const UpdatesPause&) = delete;
    UpdatesPause& operator=(const UpdatesPause&) = delete;

private:
    bool& m_flag;
};

} // namespace

// ---- Copy geometry ---------------------------------------------------------------------------

void TMainForm::UpdatePicInfo(bool Center) {
    // An empty page shows the figures of no picture, not those of the page shown before it.
    if (pic->IsEmpty()) {
        for (QLabel* label : {PicPixelsLabel, PicCMLabel, PicDPILabel, QualityLabel})
            label->setText(label->property(EmptyPageText).toString());
        return;
    }
    // A scanner resolution of 0 was reported when it was entered (SrcXDPIEditExit); until a
    // valid value repairs it, the figures stay as they stand instead of failing on every hover
    // and every resize.
    if (!pic->HasScannerResolution())
        return;
    ShowPicFigures(Center);
}

void TMainForm::ShowPicFigures(bool Center) {
    if (pic->IsEmpty())
        return;
    // One label at a time: when a figure fails (a scanner resolution of 0), the labels before it
    // are already up to date and the rest keep their previous texts.
    PicPixelsLabel->setText(PicPixelsText(*pic));
    PicCMLabel->setText(PicMMText(*pic));
    const QString dpiText = PicDPIText(*pic);
    const QString qualityText = QualityText(*pic);
    PicDPILabel->setText(dpiText);
    QualityLabel->setText(qualityText);
    if (Center)
        pic->xRelPos = CentredRelPos(pic->xRelSize());
    XPosEdit->SetValue(pic->XPos());
    if (Center)
        pic->yRelPos = CentredRelPos(pic->yRelSize());
    YPosEdit->SetValue(pic->YPos());
}

void TMainForm::ShowZoomValues() {
    UpdatesPause pause(UpdatesEnabled);
    XZoomEdit->SetValue(pic->xZoom * 100);
    YZoomEdit->SetValue(pic->yZoom * 100);
}

void TMainForm::XZoomEditChange(QObject* Sender) {
    if (!UpdatesEnabled)
        return;
    // The zoom is read back from the text, so the record holds exactly the percentage shown.
    if (Sender == XZoomEdit)
        pic->xZoom = XZoomEdit->Value() * 0.01;
    else
        pic->yZoom = YZoomEdit->Value() * 0.01;
    if (BothBox->isChecked()) {
        UpdatesPause pause(UpdatesEnabled);
        if (Sender == XZoomEdit) {
            pic->yZoom = pic->xZoom;
            YZoomEdit->SetValue(pic->yZoom * 100);
        } else {
            pic->xZoom = pic->yZoom;
            XZoomEdit->SetValue(pic->xZoom * 100);
        }
    }
    UpdatePicInfo(false);
    PaintPanelResize();
}

void TMainForm::BothBoxClick() {
    // Checking and unchecking alike bring both axes to the smaller zoom; writing the edit runs
    // the zoom handler, which does the rest.
    if (pic->xZoom == pic->yZoom)
        return;
    if (pic->xZoom < pic->yZoom) {
        pic->yZoom = pic->xZoom;
        YZoomEdit->SetValue(pic->yZoom * 100);
    } else {
        pic->xZoom = pic->yZoom;
        XZoomEdit->SetValue(pic->xZoom * 100);
    }
}

void TMainForm::CenterSizeBtnClick() {
    if (BothBox->isChecked()) {
        if (pic->IsWiderThanArea()) {
            pic->xRelPos = 0;
            pic->SetxRelSize(1.0);
            pic->yZoom = pic->xZoom;
            pic->yRelPos = CentredRelPos(pic->yRelSize());
        } else {
            pic->yRelPos = 0;
            pic->SetyRelSize(1.0);
            pic->xZoom = pic->yZoom;
            pic->xRelPos = CentredRelPos(pic->xRelSize());
        }
    } else {
        pic->xRelPos = 0;
        pic->SetxRelSize(1.0);
        pic->yRelPos = 0;
        pic->SetyRelSize(1.0);
    }
    {
        UpdatesPause pause(UpdatesEnabled);
        XPosEdit->SetValue(pic->XPos());
        YPosEdit->SetValue(pic->YPos());
        XZoomEdit->SetValue(pic->xZoom * 100);
        YZoomEdit->SetValue(pic->yZoom * 100);
    }
    UpdatePicInfo(false);
    PaintPanelResize();
}

void TMainForm::CenterPosBtnClick() {
    // The preview follows through the position edits' change handlers.
    pic->xRelPos = CentredRelPos(pic->xRelSize());
    XPosEdit->SetValue(pic->XPos());
    pic->yRelPos = CentredRelPos(pic->yRelSize());
    YPosEdit->SetValue(pic->YPos());
}

void TMainForm::XPosEditChange() {
    // From here on the position is held at whole printer pixels.
    pic->SetXPos(XPosEdit->Value());
    SetPreviewBoxLeft(RoundHalfEven(PaintPanel->contentsRect().width() * pic->xRelPos));
}

void TMainForm::YPosEditChange() {
    pic->SetYPos(YPosEdit->Value());
    SetPreviewBoxTop(RoundHalfEven(PaintPanel->contentsRect().height() * pic->yRelPos));
}

void TMainForm::SrcXDPIEditExit(QObject* Sender) {
    // The value as typed, before the edit clamps it: a resolution of 0 makes the figures fail,
    // which the error report shows; the next positive value puts everything right again.
    int& resolution = Sender == SrcXDPIEdit ? pic->ScannerDPI.X : pic->ScannerDPI.Y;
    const int typed = (Sender == SrcXDPIEdit ? SrcXDPIEdit : SrcYDPIEdit)->Value();
    const bool changed = typed != resolution;
    resolution = typed;
    if (!pic->HasScannerResolution()) {
        // Reported once, when the value is entered: the figures fail on it. The preview is left
        // as it stands.
        if (changed)
            ShowPicFigures(false);
        return;
    }
    UpdatePicInfo(false);
    PaintPanelResize();
}

void TMainForm::SrcXDPIEditKeyDown(QObject* Sender, int& Key, Qt::KeyboardModifiers Shift) {
    Q_UNUSED(Shift)
    if (Key == Qt::Key_Return || Key == Qt::Key_Enter) {
        SrcXDPIEditExit(Sender);
        Key = 0;
    }
}

void TMainForm::CommitScannerDPIEdit() {
    QWidget* focused = focusWidget();
    if (focused != SrcXDPIEdit && focused != SrcYDPIEdit)
        return;
    // As when the focus leaves the edit for a button: a resolution of 0 is reported, and the
    // command goes on all the same.
    try {
        SrcXDPIEditExit(focused);
    } catch (...) {
        VelmoraApplication::ReportCurrentException();
    }
}

// ---- Preview ---------------------------------------------------------------------------------

void TMainForm::FormResize() {
    if (!pic || pic->PrinterProperties->PrnAreaWidth == 0)
        return;
    // The strip keeps room for its vertical scroll bar beside the page buttons.
    ButtonScrollBox->resize(2 * PicBtn->width(), ButtonScrollBox->height());
    const int cw = PreviewPanel->contentsRect().width();
    const int ch = PreviewPanel->contentsRect().height();
    if (cw <= 0 || ch <= 0)
        return; // a minimised window has nothing to lay out
    const SheetLayout s = ComputeSheetLayout(cw, ch, *pic->PrinterProperties);
    PrevXSize = s.PrevXSize;
    PrevYSize = s.PrevYSize;
    PaperPanel->setGeometry(s.PaperLeft, s.PaperTop, s.PaperWidth, s.PaperHeight);
    // A new size of the printable area runs PaintPanelResize through its resize event.
    PaintPanel->setGeometry(s.Margin, s.Margin, s.PrevXSize, s.PrevYSize);
}

void TMainForm::PaintPanelResize() {
    if (!pic)
        return;
    if (pic->IsEmpty()) {
        // Nothing of the page shown before may stay on the sheet.
        PreviewPaintBox->resize(0, PreviewPaintBox->height());
        if (PreviewBitmap)
            *PreviewBitmap = QImage();
        RenderedPart = QRect();
        return;
    }
    // Without a scanner resolution the copy has no size: the preview keeps its last state.
    if (!pic->HasScannerResolution())
        return;
    const QRect client = PaintPanel->contentsRect();
    const PreviewPlacement p = PlaceCopy(*pic, client.width(), client.height());
    SetPreviewBoxGeometry(p.Left, p.Top, p.Width, p.Height);
    RenderPreviewBitmap(true);
    PreviewPaintBox->update();
}

void TMainForm::SetPreviewBoxGeometry(int Left, int Top, int Width, int Height) {
    const QPoint origin = PaintPanel->contentsRect().topLeft();
    PreviewPaintBox->setGeometry(ClampCoord(origin.x() + static_cast<long long>(Left)),
                                 ClampCoord(origin.y() + static_cast<long long>(Top)),
                                 ClampSize(Width), ClampSize(Height));
}

void TMainForm::SetPreviewBoxLeft(int Left) {
    const QPoint origin = PaintPanel->contentsRect().topLeft();
    PreviewPaintBox->move(ClampCoord(origin.x() + static_cast<long long>(Left)),
                          PreviewPaintBox->y());
    RenderPreviewBitmap(false);
    PreviewPaintBox->update();
}

void TMainForm::SetPreviewBoxTop(int Top) {
    const QPoint origin = PaintPanel->contentsRect().topLeft();
    PreviewPaintBox->move(PreviewPaintBox->x(),
                          ClampCoord(origin.y() + static_cast<long long>(Top)));
    RenderPreviewBitmap(false);
    PreviewPaintBox->update();
}

void TMainForm::RenderPreviewBitmap(bool Always) {
    if (!PreviewBitmap || !pic || pic->IsEmpty())
        return; // closed, or nothing to show: the preview keeps its last state
    const int W = PreviewPaintBox->width();
    const int H = PreviewPaintBox->height();
    if (W <= 0 || H <= 0)
        return;
    // Only the part of the box inside the printable area can be seen; the bitmap never gets
    // larger than that, however large or far off the paper the copy is.
    const QRect client = PaintPanel->contentsRect();
    const QRect visible =
        QRect(client.topLeft() - PreviewPaintBox->pos(), client.size()) & QRect(0, 0, W, H);
    if (!Always && visible == RenderedPart)
        return; // moved within the printable area: the bitmap still shows the right part
    RenderedPart = visible;
    if (visible.isEmpty()) {
        *PreviewBitmap = QImage();
        return;
    }
    QImage bitmap(visible.size(), QImage::Format_RGB32);
    bitmap.fill(PaperColor());
    QPainter painter(&bitmap);
    painter.translate(-visible.topLeft());
    pic->Draw(painter, 0, 0, W, H);
    painter.end();
    *PreviewBitmap = std::move(bitmap);
}

void TMainForm::PreviewPaintBoxPaint() {
    // Painting only copies the bitmap: repaints never rescale the picture.
    if (PreviewPaintBox->width() <= 0 || !PreviewBitmap || PreviewBitmap->isNull())
        return;
    QPainter painter(PreviewPaintBox);
    painter.drawImage(RenderedPart.topLeft(), *PreviewBitmap);
}

QColor TMainForm::PaperColor() const {
    // The paper colour lives in the swatch; it is never saved and never printed.
    return PaperColorShape->palette().color(QPalette::Window);
}

void TMainForm::SetPaperColor(const QColor& Color) {
    for (QWidget* w : {static_cast<QWidget*>(PaperColorShape), static_cast<QWidget*>(PaperPanel),
                       static_cast<QWidget*>(PaintPanel)}) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::Window, Color);
        w->setPalette(palette);
    }
}

void TMainForm::PaperColorLabelClick() {
    QColor color = PaperColor();
    if (!Dialogs::Get().ChooseColor(this, color))
        return;
    SetPaperColor(color);
    PaintPanelResize();
}

void TMainForm::PaperColorShapeMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                       int Y) {
    Q_UNUSED(Button)
    Q_UNUSED(Shift)
    Q_UNUSED(X)
    Q_UNUSED(Y)
    PaperColorLabelClick();
}

int TMainForm::EdgeBandWidth() const {
    return EdgeBand(PreviewPaintBox->width(), PaintPanel->contentsRect().width());
}

int TMainForm::EdgeBandHeight() const {
    return EdgeBand(PreviewPaintBox->height(), PaintPanel->contentsRect().height());
}

void TMainForm::PreviewPaintBoxMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                         int Y) {
    Q_UNUSED(Shift)
    // DragEdges keeps what the last hover found; Qt holds the mouse for the box while a button
    // is down, so the drag goes on outside the preview.
    Dragging = Button == Qt::LeftButton;
    DownX = X;
    DownY = Y;
    DownWidth = PreviewPaintBox->width();
    DownHeight = PreviewPaintBox->height();
}

void TMainForm::PreviewPaintBoxMouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                       int Y) {
    Q_UNUSED(Button)
    Q_UNUSED(Shift)
    Q_UNUSED(X)
    Q_UNUSED(Y)
    Dragging = false;
    DragEdges = 0;
}

void TMainForm::PreviewPaintBoxMouseMove(Qt::KeyboardModifiers Shift, int X, int Y) {
    Q_UNUSED(Shift)
    // A copy without size cannot be dragged; its resolution was reported when it was entered.
    if (!pic->HasScannerResolution())
        return;
    {
        UpdatesPause pause(UpdatesEnabled);
        const int W = PreviewPaintBox->width();
        const int H = PreviewPaintBox->height();
        const QRect client = PaintPanel->contentsRect();
        // The box's position on the printable area, as the layout placed it.
        const int left = PreviewPaintBox->x() - client.x();
        const int top = PreviewPaintBox->y() - client.y();

        if (!Dragging) {
            const int bw = EdgeBandWidth();
            const int bh = EdgeBandHeight();
            DragEdges = EdgesAt(X, Y, W, H, bw, bh);
            switch (CursorForHover(X, Y, W, H, bw, bh)) {
            case HoverCursor::Hand:
                PreviewPaintBox->setCursor(HandCursor);
                break;
            case HoverCursor::SizeHor:
                PreviewPaintBox->setCursor(Qt::SizeHorCursor);
                break;
            case HoverCursor::SizeVer:
                PreviewPaintBox->setCursor(Qt::SizeVerCursor);
                break;
            case HoverCursor::SizeFDiag:
                PreviewPaintBox->setCursor(Qt::SizeFDiagCursor);
                break;
            case HoverCursor::SizeBDiag:
                PreviewPaintBox->setCursor(Qt::SizeBDiagCursor);
                break;
            case HoverCursor::Unchanged:
                break;
            }
        } else {
            if (DragEdges == 0)
                PreviewPaintBox->setCursor(HandCursor); // moving
            TDragInput in;
            in.Edges = DragEdges;
            in.DownX = DownX;
            in.DownY = DownY;
            in.DownWidth = DownWidth;
            in.DownHeight = DownHeight;
            in.Left = left;
            in.Top = top;
            in.Width = W;
            in.Height = H;
            in.X = X;
            in.Y = Y;
            in.AreaWidth = client.width();
            in.AreaHeight = client.height();
            const TDragStep step = DragStep(in);
            ApplyDragStep(*pic, step, BothBox->isChecked());
            // The zoom edits show the record; writing a position edit holds the position at
            // whole printer pixels (XPosEditChange).
            if (step.xRelSize || step.yRelSize) {
                XZoomEdit->SetValue(pic->xZoom * 100);
                YZoomEdit->SetValue(pic->yZoom * 100);
            }
            if (step.xRelPos)
                XPosEdit->SetValue(pic->XPos());
            if (step.yRelPos)
                YPosEdit->SetValue(pic->YPos());
        }
    }
    UpdatePicInfo(false);
    PaintPanelResize();
}

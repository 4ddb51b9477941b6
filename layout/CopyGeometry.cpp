#include "layout/CopyGeometry.h"

#include "platform/Errors.h"

#include <algorithm>

QString PicPixelsText(const TPicProperties& pic) {
    return QStringLiteral("%1 x %2 Pixel").arg(pic.PicWidth()).arg(pic.PicHeight());
}

QString PicMMText(const TPicProperties& pic) {
    const int w = pic.PrnPicMMWidth();
    const int h = pic.PrnPicMMHeight();
    return QStringLiteral("%1 x %2 mm²").arg(w).arg(h);
}

QString OneDecimal(double value) {
    // QString::number always writes the C locale's point.
    return QString::number(value, 'f', 1);
}

// An axis with a zoom of 0 (or below) shows empty figures.
QString PicDPIText(const TPicProperties& pic) {
    const QString x = pic.xZoom > 0 ? QString::number(RoundHalfEven(pic.PicDPIX())) : QString();
    const QString y = pic.yZoom > 0 ? QString::number(RoundHalfEven(pic.PicDPIY())) : QString();
    return QStringLiteral("DPI  X: ") + x + QStringLiteral(", Y: ") + y;
}

QString QualityText(const TPicProperties& pic) {
    const QString x = pic.xZoom > 0 ? OneDecimal(pic.QualityX()) : QString();
    const QString y = pic.yZoom > 0 ? OneDecimal(pic.QualityY()) : QString();
    return QStringLiteral("Qual. X: ") + x + QStringLiteral(", Y: ") + y;
}

SheetLayout ComputeSheetLayout(int cw, int ch, const TPrinterProperties& device) {
    const double A = device.PrnAreaWidth;
    const double B = device.PrnAreaHeight;
    const double DX = device.PrnDPI.X;
    const double DY = device.PrnDPI.Y;
    SheetLayout s;
    // Compare at physical proportions: the resolution ratio enters both the choice and the size.
    s.WidthBound = CheckedDiv(A, cw) > CheckedDiv(B, ch) * CheckedDiv(DX, DY);
    if (s.WidthBound) {
        s.PrevXSize = RoundHalfEven(cw * 0.8);
        s.PrevYSize = RoundHalfEven(CheckedDiv(B, A) * s.PrevXSize * CheckedDiv(DX, DY));
        s.Margin = RoundHalfEven(cw * 0.05);
        s.PaperLeft = s.Margin;
        s.PaperWidth = 2 * s.Margin + s.PrevXSize;
        s.PaperHeight = 2 * s.Margin + s.PrevYSize;
        s.PaperTop = ch / 2 - s.PaperHeight / 2;
    } else {
        s.PrevYSize = RoundHalfEven(ch * 0.8);
        s.PrevXSize = RoundHalfEven(CheckedDiv(A, B) * s.PrevYSize * CheckedDiv(DY, DX));
        s.Margin = RoundHalfEven(ch * 0.05);
        s.PaperTop = s.Margin;
        s.PaperHeight = 2 * s.Margin + s.PrevYSize;
        s.PaperWidth = 2 * s.Margin + s.PrevXSize;
        s.PaperLeft = cw / 2 - s.PaperWidth / 2;
    }
    return s;
}

double CentredRelPos(double relSize) {
    return (1 - relSize) * 0.5;
}

PreviewPlacement PlaceCopy(const TPicProperties& pic, int pw, int ph) {
    PreviewPlacement p;
    p.Left = RoundHalfEven(pw * pic.xRelPos);
    p.Top = RoundHalfEven(ph * pic.yRelPos);
    p.Width = RoundHalfEven(pic.xRelSize() * pw);
    p.Height = RoundHalfEven(pic.yRelSize() * ph);
    return p;
}

int EdgeBand(int copyExtent, int areaExtent) {
    return std::max(5, std::min(copyExtent / 10, areaExtent / 10));
}

int EdgesAt(int X, int Y, int W, int H, int bandW, int bandH) {
    int edges = 0;
    if (X < bandW)
        edges |= EdgeLeft;
    if (Y < bandH)
        edges |= EdgeTop;
    if (X > W - bandW)
        edges |= EdgeRight;
    if (Y > H - bandH)
        edges |= EdgeBottom;
    return edges;
}

HoverCursor CursorForHover(int X, int Y, int W, int H, int bandW, int bandH) {
    if (!(X >= 0 && X < W && Y >= 0 && Y < H))
        return HoverCursor::Unchanged;
    const int edges = EdgesAt(X, Y, W, H, bandW, bandH);
    if (edges == 0)
        return HoverCursor::Hand;
    switch (edges) {
    case EdgeLeft | EdgeTop:
    case EdgeRight | EdgeBottom:
        return HoverCursor::SizeFDiag;
    case EdgeTop | EdgeRight:
    case EdgeLeft | EdgeBottom:
        return HoverCursor::SizeBDiag;
    case EdgeLeft:
    case EdgeRight:
        return HoverCursor::SizeHor;
    case EdgeTop:
    case EdgeBottom:
        return HoverCursor::SizeVer;
    default:
        // Overlapping bands on a tiny copy: keep whatever cursor is showing.
        return HoverCursor::Unchanged;
    }
}

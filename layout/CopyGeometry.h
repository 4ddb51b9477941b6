#pragma once
// Widget-free geometry of the copy layout: the info panel's texts, the sheet preview's layout,
// the placement of the copy on the preview and the grab bands of the mouse handling. The main
// window's handlers read their controls, call these and write the results back.

#include "layout/PicObj.h"
#include "layout/PreviewDrag.h"

#include <QString>

// Texts of the info panel for a non-empty picture. Pixels needs no division; the others divide by
// the scanner resolution and the printable area and raise the arithmetic errors on zero.
QString PicPixelsText(const TPicProperties& pic);
QString PicMMText(const TPicProperties& pic);
// "DPI  X: 300, Y: 300" / "Qual. X: 1.0, Y: 1.0"; an axis with zoom <= 0 has empty figures.
QString PicDPIText(const TPicProperties& pic);
QString QualityText(const TPicProperties& pic);
// One decimal and a point whatever the locale, no leading blanks (1.0, 0.3, 10.0).
QString OneDecimal(double value);

// Where the sheet and the printable area go in the preview panel (client size cw x ch). The
// printable area takes 80 % of the panel in the binding direction and is drawn at its physical
// proportions; the margin round it is 5 % of the panel in that direction.
struct SheetLayout {
    bool WidthBound = false;
    int PrevXSize = 0;
    int PrevYSize = 0;
    int Margin = 0;
    int PaperLeft = 0;
    int PaperTop = 0;
    int PaperWidth = 0;
    int PaperHeight = 0;
};
// Requires a device (PrnAreaWidth, PrnAreaHeight and both resolutions non-zero) and a non-empty
// panel; divisions by zero raise the arithmetic errors.
SheetLayout ComputeSheetLayout(int cw, int ch, const TPrinterProperties& device);

// The relative position that centres a copy of relative size `relSize` on the printable area
// (negative when the copy is larger than the area).
double CentredRelPos(double relSize);

// The copy's rectangle on a printable area of pw x ph preview pixels.
struct PreviewPlacement {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};
PreviewPlacement PlaceCopy(const TPicProperties& pic, int pw, int ph);

// Grab band along the copy's edges: a tenth of the copy, at most a tenth of the printable area,
// never narrower than 5 pixels.
int EdgeBand(int copyExtent, int areaExtent);

// Edges of the copy (DragEdge) under the point (X, Y) of a W x H copy.
int EdgesAt(int X, int Y, int W, int H, int bandW, int bandH);

// The cursor to show while hovering over the copy.
enum class HoverCursor { Unchanged, Hand, SizeHor, SizeVer, SizeFDiag, SizeBDiag };
HoverCursor CursorForHover(int X, int Y, int W, int H, int bandW, int bandH);

#pragma once
// The layout record of one picture and the printable-area record of the output device.
//
// A copy's position is stored relative to the printable area and its size as a zoom factor
// relative to the scanned document's physical size, so the same record lays the copy out
// correctly on any printer, on the screen and in the preview. Every derived figure is computed
// on each call; nothing is cached.

#include "layout/Graphic.h"
#include "platform/MemBlock.h"

class QPainter;

struct TPoint {
    int X = 0;
    int Y = 0;
};

// Printable area and resolution of the current output device. One instance is owned by the
// main window and shared by every picture, so a change of printer relays out all of them.
class TPrinterProperties {
public:
    int PrnAreaWidth = 0;    // printer pixels
    int PrnAreaHeight = 0;   // printer pixels
    int PrnAreaMMWidth = 0;  // mm
    int PrnAreaMMHeight = 0; // mm
    TPoint PrnDPI;           // dpi
};

class TPicProperties {
public:
    // `printerProperties` may be null: the record then owns a zeroed one of its own.
    explicit TPicProperties(TPrinterProperties* printerProperties);
    virtual ~TPicProperties();
    TPicProperties(const TPicProperties&) = delete;
    TPicProperties& operator=(const TPicProperties&) = delete;

    bool OwnsPrinterProperties;
    TPicture Picture;
    TPrinterProperties* PrinterProperties;
    TPoint ScannerDPI;
    double xZoom;
    double yZoom;
    double xRelPos;
    double yRelPos;

    bool IsEmpty() const { return Picture.IsEmpty(); }
    // Whether both scanner resolutions are set; with a 0 the picture has no size on paper.
    bool HasScannerResolution() const { return ScannerDPI.X != 0 && ScannerDPI.Y != 0; }
    // Removes the graphic; zoom, position and resolution stay.
    void Clear() { Picture.Clear(); }
    // Makes the picture a bitmap loaded from the packed DIB in `dib` (the block stays the
    // caller's). Raises EInvalidGraphic for a block that is not a valid bitmap; the picture is
    // then empty.
    void AssignDIB(HGLOBAL dib);
    // Draws the whole graphic stretched into the rectangle; nothing for an empty picture.
    void Draw(QPainter& canvas, int Left, int Top, int Width, int Height) const;

    int PicWidth() const { return Picture.Width(); }
    int PicHeight() const { return Picture.Height(); }
    int PrnPicWidth() const;
    int PrnPicHeight() const;
    int PrnPicMMWidth() const;
    int PrnPicMMHeight() const;
    double PicDPIX() const;
    double PicDPIY() const;
    double QualityX() const;
    double QualityY() const;
    bool IsWiderThanArea() const;

    int XPos() const;
    void SetXPos(int value);
    int YPos() const;
    void SetYPos(int value);
    double xRelSize() const;
    void SetxRelSize(double value);
    double yRelSize() const;
    void SetyRelSize(double value);
};

// Loads the packed device-independent bitmap held by the memory block `dib` (information
// header, colour table, pixel bits) into `graphic`. Never reads outside the block; raises
// EInvalidGraphic ("Bitmap ist ungültig") for anything that is not a valid bitmap.
void DIBToGraphic(HGLOBAL dib, TBitmap& graphic);

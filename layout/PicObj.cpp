#include "layout/PicObj.h"

#include "layout/Dib.h"
#include "platform/Errors.h"

#include <QPainter>
#include <QRect>

TPicProperties::TPicProperties(TPrinterProperties* printerProperties)
    : OwnsPrinterProperties(printerProperties == nullptr),
      PrinterProperties(printerProperties ? printerProperties : new TPrinterProperties), xZoom(1.0),
      yZoom(1.0), xRelPos(0.0), yRelPos(0.0) {
    Clear();
}

TPicProperties::~TPicProperties() {
    if (OwnsPrinterProperties)
        delete PrinterProperties;
}

void TPicProperties::AssignDIB(HGLOBAL dib) {
    Picture.Clear();
    auto bitmap = std::make_unique<TBitmap>();
    DIBToGraphic(dib, *bitmap);
    Picture.SetGraphic(std::move(bitmap));
}

void TPicProperties::Draw(QPainter& canvas, int Left, int Top, int Width, int Height) const {
    if (!IsEmpty())
        Picture.Draw(canvas, QRect(Left, Top, Width, Height));
}

// The factors are multiplied in the order the figures are defined in, so results agree to the
// last bit with the values shown elsewhere (report, preview, print).

int TPicProperties::PrnPicWidth() const {
    return RoundHalfEven(PicWidth() * CheckedDiv(PrinterProperties->PrnDPI.X, ScannerDPI.X) *
                         xZoom);
}

int TPicProperties::PrnPicHeight() const {
    return RoundHalfEven(PicHeight() * CheckedDiv(PrinterProperties->PrnDPI.Y, ScannerDPI.Y) *
                         yZoom);
}

int TPicProperties::PrnPicMMWidth() const {
    return RoundHalfEven(xRelSize() * PrinterProperties->PrnAreaMMWidth);
}

int TPicProperties::PrnPicMMHeight() const {
    return RoundHalfEven(yRelSize() * PrinterProperties->PrnAreaMMHeight);
}

double TPicProperties::PicDPIX() const {
    return xZoom > 0 ? ScannerDPI.X / xZoom : 0.0;
}
double TPicProperties::PicDPIY() const {
    return yZoom > 0 ? ScannerDPI.Y / yZoom : 0.0;
}
double TPicProperties::QualityX() const {
    return CheckedDiv(PicDPIX(), ScannerDPI.X);
}
double TPicProperties::QualityY() const {
    return CheckedDiv(PicDPIY(), ScannerDPI.Y);
}

bool TPicProperties::IsWiderThanArea() const {
    return CheckedDiv(PicWidth(), PrinterProperties->PrnAreaWidth) >
           CheckedDiv(PicHeight(), PrinterProperties->PrnAreaHeight);
}

int TPicProperties::XPos() const {
    return RoundHalfEven(PrinterProperties->PrnAreaWidth * xRelPos);
}

void TPicProperties::SetXPos(int value) {
    xRelPos = CheckedDiv(value, PrinterProperties->PrnAreaWidth);
}

int TPicProperties::YPos() const {
    return RoundHalfEven(PrinterProperties->PrnAreaHeight * yRelPos);
}

void TPicProperties::SetYPos(int value) {
    yRelPos = CheckedDiv(value, PrinterProperties->PrnAreaHeight);
}

double TPicProperties::xRelSize() const {
    return CheckedDiv(PicWidth(), PrinterProperties->PrnAreaWidth) *
           CheckedDiv(PrinterProperties->PrnDPI.X, ScannerDPI.X) * xZoom;
}

void TPicProperties::SetxRelSize(double value) {
    if (PicWidth() == 0)
        return;
    xZoom = CheckedDiv(value, CheckedDiv(PicWidth(), PrinterProperties->PrnAreaWidth) *
                                  CheckedDiv(PrinterProperties->PrnDPI.X, ScannerDPI.X));
}

double TPicProperties::yRelSize() const {
    return CheckedDiv(PicHeight(), PrinterProperties->PrnAreaHeight) *
           CheckedDiv(PrinterProperties->PrnDPI.Y, ScannerDPI.Y) * yZoom;
}

void TPicProperties::SetyRelSize(double value) {
    if (PicHeight() == 0)
        return;
    yZoom = CheckedDiv(value, CheckedDiv(PicHeight(), PrinterProperties->PrnAreaHeight) *
                                  CheckedDiv(PrinterProperties->PrnDPI.Y, ScannerDPI.Y));
}

void DIBToGraphic(HGLOBAL dib, TBitmap& graphic) {
    QImage image;
    {
        MemBlock::LockGuard lock(dib);
        if (!lock.Data())
            throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig"));
        image = DecodePackedDib(static_cast<unsigned char*>(lock.Data()), lock.Size());
    } // the block is unlocked on every way out, failures included
    graphic.SetImage(std::move(image));
}

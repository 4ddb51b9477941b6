#pragma once
// The three places a copy can go (printer, fax printer, clipboard bitmap), what each of them
// shows in the window, and the device figures behind the printer information. No widgets here:
// the main window's handlers read the radio buttons and write these results back.

#include "output/Printer.h"

#include <QSize>
#include <QSizeF>
#include <QString>

// The numbers are those the settings file stores under Output/Selected.
enum class TOutputMode { Printer = 0, Fax = 1, Bitmap = 2 };

// What a switch to a mode puts on the window.
struct TModeCaptions {
    QString PrintBtn;
    QString PrinterGroup;
    bool SetupEnabled = false;
};
TModeCaptions ModeCaptions(TOutputMode mode);

// Title of the printer setup dialog; empty in bitmap mode, where the dialog keeps its own.
QString SetupTitle(TOutputMode mode);

// PrinterLabel when a printer mode has no printer to show (none installed, no default printer).
QString NoPrinterText();
// PrinterLabel in bitmap mode.
QString BitmapTargetText();
// The box of the setup command when there is no printer to set up.
QString NoPrinterMessage();

// The four figure labels of the printer information, e.g. "197 x 272 mm²", "9317 x 12833 Pixel",
// "1200 DPI, waag.", "1200 DPI, senk.".
struct TDeviceLabels {
    QString MM;
    QString Pixels;
    QString XDPI;
    QString YDPI;
};
TDeviceLabels DeviceLabels(const TDeviceFigures& figures);

// The screen as the device of bitmap mode: `pixels` and the logical dots per inch as the window
// system reports them, `physicalMM` its physical size. Where the window system knows no physical
// size (an empty size), the size in millimetres follows from the pixels and the resolution.
TDeviceFigures ScreenFigures(const QSizeF& physicalMM, const QSize& pixels, double dpiX,
                             double dpiY);

#include "output/OutputTargets.h"

#include "platform/Errors.h"

namespace {

// A resolution of nothing would make every length infinite; a screen always has one, the
// conventional 96 dpi stands in where the window system reports none.
constexpr double kFallbackDpi = 96.0;

} // namespace

TModeCaptions ModeCaptions(TOutputMode mode) {
    switch (mode) {
    case TOutputMode::Printer:
        return {QStringLiteral("D&rucken"), QStringLiteral("&Drucker"), true};
    case TOutputMode::Fax:
        return {QStringLiteral("Fa&xen"), QStringLiteral("&Fax"), true};
    case TOutputMode::Bitmap:
        break;
    }
    return {QStringLiteral("&Kopieren"), QStringLiteral("&Bildschirm"), false};
}

QString SetupTitle(TOutputMode mode) {
    switch (mode) {
    case TOutputMode::Printer:
        return QStringLiteral(u"Drucker auswählen und einrichten");
    case TOutputMode::Fax:
        return QStringLiteral(u"Fax auswählen und einrichten");
    case TOutputMode::Bitmap:
        break;
    }
    return QString();
}

QString NoPrinterText() {
    return QStringLiteral(u"Kein Drucker ausgewählt");
}

QString BitmapTargetText() {
    return QStringLiteral("Bitmap in Zwischenablage");
}

QString NoPrinterMessage() {
    return QStringLiteral("Kein Drucker vorhanden!");
}

TDeviceLabels DeviceLabels(const TDeviceFigures& f) {
    // Plain decimal numbers: never the locale's digit grouping ("9.317").
    const auto n = [](int v) { return QString::number(v); };
    return {n(f.AreaMMWidth) + QStringLiteral(u" x ") + n(f.AreaMMHeight) + QStringLiteral(u" mm²"),
            n(f.AreaWidth) + QStringLiteral(" x ") + n(f.AreaHeight) + QStringLiteral(" Pixel"),
            n(f.DpiX) + QStringLiteral(" DPI, waag."), n(f.DpiY) + QStringLiteral(" DPI, senk.")};
}

TDeviceFigures ScreenFigures(const QSizeF& physicalMM, const QSize& pixels, double dpiX,
                             double dpiY) {
    if (!(dpiX > 0))
        dpiX = kFallbackDpi;
    if (!(dpiY > 0))
        dpiY = kFallbackDpi;
    TDeviceFigures f;
    f.AreaWidth = pixels.width();
    f.AreaHeight = pixels.height();
    f.DpiX = RoundHalfEven(dpiX);
    f.DpiY = RoundHalfEven(dpiY);
    const bool known = physicalMM.width() > 0 && physicalMM.height() > 0;
    f.AreaMMWidth = RoundHalfEven(known ? physicalMM.width() : f.AreaWidth * 25.4 / dpiX);
    f.AreaMMHeight = RoundHalfEven(known ? physicalMM.height() : f.AreaHeight * 25.4 / dpiY);
    return f;
}

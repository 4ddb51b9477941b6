#include "twain/Acquisition.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// A reported resolution as whole dpi; 0 for anything that is no resolution at all (none, not a
// number, or beyond what the resolution edits hold).
int WholeDPI(double Value) {
    const double rounded = std::nearbyint(Value);
    return std::isfinite(rounded) && rounded > 0 && rounded <= std::numeric_limits<int>::max()
               ? static_cast<int>(rounded)
               : 0;
}

} // namespace

bool ReadDriverDPI(const QString& Text, int& DPI) {
    const QString t = Text.trimmed();
    if (t.isEmpty())
        return false;
    for (const QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok);
    if (!ok || v > std::numeric_limits<int>::max())
        return false;
    DPI = static_cast<int>(v);
    return true;
}

TPageResolution DibHeaderResolution(const void* Dib, std::size_t Size) {
    TPageResolution r;
    if (!Dib || Size < 32)
        return r;
    const auto* p = static_cast<const unsigned char*>(Dib);
    std::uint32_t headerSize = 0;
    std::int32_t perMetre[2] = {0, 0};
    std::memcpy(&headerSize, p, sizeof headerSize);
    if (headerSize < 40)
        return r;
    std::memcpy(perMetre, p + 24, sizeof perMetre);
    r.HeaderX = perMetre[0] > 0 ? perMetre[0] * 0.0254 : 0.0;
    r.HeaderY = perMetre[1] > 0 ? perMetre[1] * 0.0254 : 0.0;
    return r;
}

void PageResolutionDPI(const TPageResolution& Page, int& X, int& Y) {
    const int sourceX = WholeDPI(Page.SourceX);
    const int sourceY = WholeDPI(Page.SourceY);
    const int headerX = WholeDPI(Page.HeaderX);
    const int headerY = WholeDPI(Page.HeaderY);
    // The source wins over the header. During a transfer its resolution capability is, by the
    // standard, the resolution of the page in hand, and a dialog that changes the resolution
    // changes the capability with it. The header's pixels per metre are optional in a DIB:
    // drivers often leave them 0 or at a screen default (72 or 96 dpi), which would make an A4
    // page three or four times its size. So the header only speaks where the source is silent.
    X = sourceX ? sourceX : headerX;
    // A header that disagrees with the horizontal value taken (pixels per metre lose a fraction
    // of a dpi) says nothing reliable about the vertical one either.
    const bool headerAgrees = headerX != 0 && std::abs(headerX - X) <= 1;
    Y = sourceY ? sourceY : headerAgrees && headerY ? headerY : X;
}

void SettlePageDPI(int& X, int& Y, const TPageDPIRules& Rules, bool& Known,
                   const std::function<double()>& SourceDPI,
                   const std::function<TPageResolution()>& PageDPI) {
    const bool fromScanner = Rules.AutoDPI || Rules.RequestedDPI == 0;
    bool fromDriver = false;
    if (fromScanner && Rules.DriverText) {
        // Text the driver left that is no number tells nothing: the source is asked instead.
        int driverDPI = 0;
        Known = ReadDriverDPI(Rules.DriverText->left(253), driverDPI);
        if (Known) {
            X = driverDPI;
            fromDriver = true;
        }
    }
    if (Rules.AutoDPI || X == 0) {
        int pageX = 0;
        int pageY = 0;
        if (Rules.ReadPage && !fromDriver && PageDPI)
            PageResolutionDPI(PageDPI(), pageX, pageY);
        if (pageX > 0) {
            X = pageX;
            Y = pageY;
        } else {
            // A page that tells nothing keeps an accepted request; the source is asked only
            // when the page was not already asked the same.
            if (!Known)
                X = !Rules.ReadPage && SourceDPI ? WholeDPI(SourceDPI()) : 0;
            Y = X;
        }
    }
    if (Y == 0)
        Y = X;
    if (X == 0)
        X = DefaultScannerDPI;
    if (Y == 0)
        Y = DefaultScannerDPI;
}

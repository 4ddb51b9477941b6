#include "twain/Acquisition.h"

#include <cmath>
#include <limits>

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

void SettlePageDPI(int& X, int& Y, const TPageDPIRules& Rules, bool& Known,
                   const std::function<double()>& SourceDPI) {
    const bool fromScanner = Rules.AutoDPI || Rules.RequestedDPI == 0;
    if (fromScanner && Rules.DriverText) {
        // Text the driver left that is no number tells nothing: the source is asked instead.
        int driverDPI = 0;
        Known = ReadDriverDPI(Rules.DriverText->left(253), driverDPI);
        if (Known)
            X = driverDPI;
    }
    if (Rules.AutoDPI || X == 0) {
        if (!Known) {
            const double asked = SourceDPI ? SourceDPI() : 0.0;
            const double rounded = std::nearbyint(asked);
            // A value beyond what the resolution edits hold is no resolution at all.
            X = std::isfinite(rounded) && rounded > 0 && rounded <= std::numeric_limits<int>::max()
                    ? static_cast<int>(rounded)
                    : 0;
        }
        Y = X;
    }
    if (Y == 0)
        Y = X;
    if (X == 0)
        X = DefaultScannerDPI;
    if (Y == 0)
        Y = DefaultScannerDPI;
}

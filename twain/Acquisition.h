#pragma once
// The widget-free rules of an acquisition: which scanner resolution a scanned page gets, and
// how the special driver mode reads the driver's resolution edit.

#include <QString>
#include <functional>
#include <optional>

// What decides a scanned page's resolution.
struct TPageDPIRules {
    bool AutoDPI = true;  // the "Automatisch" box: take the resolution from the scanner
    int RequestedDPI = 0; // what the source was asked for
    // The text of the driver's resolution edit, read after the scan; no value when the special
    // mode does not apply (not checked, fast copy, or no driver window).
    std::optional<QString> DriverText;
};

// The driver edit's text as a resolution: a whole decimal number from 0 to 2147483647, blanks
// around it allowed. False for anything else (empty text included).
bool ReadDriverDPI(const QString& Text, int& DPI);

// Settles the resolution of a freshly scanned page in place. `Known` says whether the value
// already held is the scanner's (the source accepted the request); the driver edit can make it
// known, and `SourceDPI` is asked only when neither did. Afterwards neither direction is 0:
// a missing vertical value follows the horizontal one, and a missing one falls to 300 dpi.
void SettlePageDPI(int& X, int& Y, const TPageDPIRules& Rules, bool& Known,
                   const std::function<double()>& SourceDPI);

// Resolution a page gets when nothing else says otherwise.
constexpr int DefaultScannerDPI = 300;

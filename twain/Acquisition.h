#pragma once
// The widget-free rules of an acquisition: which scanner resolution a scanned page gets, and
// how the special driver mode reads the driver's resolution edit.

#include <QString>
#include <cstddef>
#include <functional>
#include <optional>

// What decides a scanned page's resolution.
struct TPageDPIRules {
    bool AutoDPI = true;  // the "Automatisch" box: take the resolution from the scanner
    int RequestedDPI = 0; // what the source was asked for
    // The text of the driver's resolution edit, read after the scan; no value when the special
    // mode does not apply (not checked, fast copy, or no driver window).
    std::optional<QString> DriverText;
    // Normal acquisition: the user may have picked another resolution in the source's dialog,
    // so the page's own resolution is asked for while the page is in hand.
    bool ReadPage = false;
};

// What is known of the page in hand, in dpi, 0 where nothing is known: the source's current
// ICAP_XRESOLUTION and ICAP_YRESOLUTION during the transfer, and the pixels per metre of the
// page's DIB header.
struct TPageResolution {
    double SourceX = 0;
    double SourceY = 0;
    double HeaderX = 0;
    double HeaderY = 0;
};

// The pixels per metre of a packed DIB's information header as dpi; 0 for a field that is not
// positive, and both 0 for a block too small for it or a core header (which has no such field).
TPageResolution DibHeaderResolution(const void* Dib, std::size_t Size);

// The resolution a page was scanned at, from what the source and the page's header say; 0 in a
// direction where neither says anything usable.
void PageResolutionDPI(const TPageResolution& Page, int& X, int& Y);

// The driver edit's text as a resolution: a whole decimal number from 0 to 2147483647, blanks
// around it allowed. False for anything else (empty text included).
bool ReadDriverDPI(const QString& Text, int& DPI);

// Settles the resolution of a freshly scanned page in place. `Known` says whether the value
// already held is the scanner's (the source accepted the request); the driver edit can make it
// known, and `SourceDPI` is asked only when neither did. With `ReadPage` the page's own
// resolution (`PageDPI`) replaces both the accepted request and `SourceDPI`, while a readable
// driver edit still wins. Afterwards neither direction is 0: a missing vertical value follows
// the horizontal one, and a missing one falls to 300 dpi.
void SettlePageDPI(int& X, int& Y, const TPageDPIRules& Rules, bool& Known,
                   const std::function<double()>& SourceDPI,
                   const std::function<TPageResolution()>& PageDPI = {});

// Resolution a page gets when nothing else says otherwise.
constexpr int DefaultScannerDPI = 300;

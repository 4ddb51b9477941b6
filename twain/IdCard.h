#pragma once
// The ID-card copy: both sides of a card, each scanned with the card in the top-left corner of
// the scanner, put on one picture, front above back, each at its real size.

#include <QImage>

// One scanned side and the resolution it was scanned at, in dpi (both above 0).
struct TCardSide {
    QImage Image;
    int DPIX = 0;
    int DPIY = 0;
};

// The part of each scan that is kept: room around an ID-1 card (85.6 x 54 mm) laid into the
// corner not quite straight. The sides stand this far apart on the composed picture.
constexpr double CardAreaWidthMM = 95.0;
constexpr double CardAreaHeightMM = 65.0;
constexpr double CardGapMM = 10.0;

// Whole pixels of `mm` at `dpi`.
int CardPixels(double mm, int dpi);

// The top-left card area of a scan at `dpiX` x `dpiY`, or as much of it as the scan holds: all
// that the composed picture takes from the scan, so a whole-bed scan need not be kept.
QImage CardArea(const QImage& scan, int dpiX, int dpiY);

// The composed picture at the front's resolution: the top-left card area of the front above
// that of the back, CardGapMM between them, white wherever a scan does not reach. A back
// scanned at another resolution is scaled to the front's. Raises EOutOfMemory when the picture
// cannot be made.
QImage ComposeIdCard(const TCardSide& Front, const TCardSide& Back);

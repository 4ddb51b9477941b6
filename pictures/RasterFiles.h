#pragma once
// PNG, GIF and TIFF files through Qt's image readers and writers, widget-free. Every page of a
// multi-page TIFF (a scanner's batch, a fax) is a picture of its own, each with its own size and
// resolution; a GIF gives its first frame. Sizes are checked against Velmora's limits before
// Qt allocates a page.

#include "layout/Dib.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <vector>

enum class TRasterKind { Png, Gif, Tiff };

// The kind read or written under this extension (".png", ".gif", ".tif", ".tiff", compared
// without regard to case); false for any other.
bool RasterKindOf(const QString& lowerExtension, TRasterKind& kind);

// A decoded page: 1- and 8-bit pages keep their palette, colour pages are three bytes a pixel,
// transparent parts are put on white paper. `dpi` is the resolution the file records for the
// page, empty when it records none.
struct TRasterPage {
    QImage image;
    QSize dpi;
};

// Most pages one file may bring; a longer file is refused as damaged rather than read on.
constexpr int MaxRasterPages = 2000;

// Decodes every page of a file of `kind`. Raises EInvalidGraphic "Bitmap ist ungültig" for
// content Qt cannot decode, a GIF cut off before its end, a PNG whose chunks run past the end
// of the file, a page wider or higher than 65535 pixels or above `maxPixels`
// pixels, or more than MaxRasterPages pages, and EOutOfMemory "Zu wenig Arbeitsspeicher" when the
// pages together would hold more than `maxPixels` × 4 bytes. Never returns an empty list.
std::vector<TRasterPage> DecodeRasterFile(const QByteArray& file, TRasterKind kind,
                                          long long maxPixels = MaxPicturePixels);

// The PNG or TIFF file (`kind` Png or Tiff) of `image` with `dpi` recorded as its resolution
// (none for an empty `dpi` or one above 100000 dpi). TIFF is LZW-compressed. Raises EFCreateError
// for `path` when Qt cannot encode it.
QByteArray EncodeRasterFile(const QImage& image, TRasterKind kind, const QSize& dpi,
                            const QString& path);

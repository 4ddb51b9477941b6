#include "layout/Graphic.h"

#include <QPaintEngine>
#include <QPainter>
#include <QtMath>

TGraphic::~TGraphic() = default;

void TRasterGraphic::SetImage(QImage image) {
    // Keep 24-bit colour at three bytes per pixel: a 600-dpi A4 page is 104 MB instead of 139 MB.
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_BGR888)
        image.convertTo(QImage::Format_RGB888);
    m_reduced.Clear();
    m_image = std::move(image);
}

namespace {

// Draws `source` of `image` stretched to `target`, but only the part of the target that can
// reach the device. Qt's raster engine maps every device pixel back into the picture and never
// scales the whole picture first, yet it silently draws nothing once the target's device
// coordinates leave the int range, as a far zoomed-in picture on a magnifying painter does.
void DrawVisiblePart(QPainter& painter, const QRectF& target, const QImage& image,
                     const QRectF& source) {
    const QTransform toDevice = painter.deviceTransform();
    const QPaintDevice* device = painter.device();
    if (!device || !target.isValid() || toDevice.type() > QTransform::TxScale ||
        !toDevice.isInvertible()) {
        painter.drawImage(target, image, source);
        return;
    }
    // Images report their size in device pixels and widgets in logical ones; scaling both by the
    // pixel ratio can only overestimate the visible area.
    const qreal ratio = qMax<qreal>(1, device->devicePixelRatioF());
    const QRectF visible = toDevice.inverted().mapRect(
        QRectF(0, 0, device->width() * ratio, device->height() * ratio));
    const qreal perSourceX = target.width() / source.width(); // painter units per source pixel
    const qreal perSourceY = target.height() / source.height();
    // Two source pixels beyond the visible area keep the bilinear neighbours of its border
    // pixels inside the part drawn; two device pixels absorb rounding of the filled area. The
    // cap keeps a picture of a few pixels zoomed to millions inside the int range too.
    constexpr qreal maxSourceMargin = 1 << 20;
    const qreal marginX = qMin(2 * perSourceX, maxSourceMargin) + 2 / qAbs(toDevice.m11());
    const qreal marginY = qMin(2 * perSourceY, maxSourceMargin) + 2 / qAbs(toDevice.m22());
    const QRectF part = target & visible.adjusted(-marginX, -marginY, marginX, marginY);
    if (part.isEmpty())
        return;
    if (part == target) {
        painter.drawImage(target, image, source);
        return;
    }
    const QRectF sourcePart(source.x() + (part.x() - target.x()) / perSourceX,
                            source.y() + (part.y() - target.y()) / perSourceY,
                            part.width() / perSourceX, part.height() / perSourceY);
    painter.drawImage(part, image, sourcePart);
}

// A PDF printer's engine turns a picture into 32-bit pixels, plus an alpha mask it scans for,
// before it compresses it: for a whole page that is almost twice the page's memory again, and
// slow for being so large. Bands of a few hundred rows, handed over in the engine's own pixel
// format, keep it small. Each band reaches one row into the next, which is drawn over it, so
// that no hairline stays between them where a reader's rasteriser rounds both edges away.
void DrawInBands(QPainter& painter, const QRectF& target, const QImage& image) {
    constexpr int BandRows = 256;
    const int h = image.height();
    if (h <= BandRows || image.depth() == 1) {
        // One-bit pictures go out as compact bitmaps anyway.
        painter.drawImage(target, image);
        return;
    }
    const QImage::Format wanted =
        image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const qreal perRow = target.height() / h;
    for (int y = 0; y < h; y += BandRows) {
        const int rows = qMin(BandRows + 1, h - y);
        // A view of the band's rows: no copy of the picture is made for it.
        QImage view(image.constScanLine(y), image.width(), rows, image.bytesPerLine(),
                    image.format());
        if (!image.colorTable().isEmpty())
            view.setColorTable(image.colorTable());
        const QRectF part(target.x(), target.y() + y * perRow, target.width(), rows * perRow);
        painter.drawImage(part, view.convertToFormat(wanted));
    }
}

} // namespace

void TRasterGraphic::Draw(QPainter& painter, const QRect& target) const {
    if (m_image.isNull() || target.width() == 0 || target.height() == 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    if (!painter.paintEngine() || painter.paintEngine()->type() != QPaintEngine::Raster) {
        // Printers resample at their own resolution and get every pixel.
        if (painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Pdf)
            DrawInBands(painter, QRectF(target), m_image);
        else
            painter.drawImage(target, m_image);
        painter.restore();
        return;
    }
    // The copy is chosen by the size in device pixels, so a scaled painter or a high-density
    // screen gets the copy it needs. Clamped: a zoomed-in target can exceed the int range.
    const QRectF onDevice = painter.deviceTransform().mapRect(QRectF(target));
    const auto pixels = [](qreal size) { return qCeil(qMin<qreal>(size, 1 << 30)); };
    if (const QImage* copy =
            m_reduced.For(m_image, QSize(pixels(onDevice.width()), pixels(onDevice.height())))) {
        // The copy's last column and row may stand for partial blocks; mapping the picture's own
        // extent keeps its right and bottom edges where the full picture would put them.
        const QRectF extent(0, 0, qreal(m_image.width()) / m_reduced.FactorX(),
                            qreal(m_image.height()) / m_reduced.FactorY());
        DrawVisiblePart(painter, QRectF(target), *copy, extent);
    } else {
        DrawVisiblePart(painter, QRectF(target), m_image, QRectF(m_image.rect()));
    }
    painter.restore();
}

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
    m_graphic = std::move(graphic);
}

void TPicture::Draw(QPainter& painter, const QRect& target) const {
    if (m_graphic)
        m_graphic->Draw(painter, target);
}

#include "twain/IdCard.h"

#include "platform/Errors.h"

#include <QPainter>
#include <algorithm>

namespace {

// The card area of `side` at the left edge and `top` of `canvas`, whose resolution is `dpiX` x
// `dpiY`.
void DrawCardArea(QPainter& canvas, int top, const TCardSide& side, int dpiX, int dpiY) {
    // Only the area's pixels are copied (or scaled): a whole-bed scan stays out of the work.
    const QRect area =
        QRect(0, 0, CardPixels(CardAreaWidthMM, side.DPIX), CardPixels(CardAreaHeightMM, side.DPIY))
            .intersected(side.Image.rect());
    if (area.isEmpty())
        return;
    QImage part = side.Image.copy(area);
    if (side.DPIX != dpiX || side.DPIY != dpiY) {
        const int w = std::max(1, RoundHalfEven(double(area.width()) * dpiX / side.DPIX));
        const int h = std::max(1, RoundHalfEven(double(area.height()) * dpiY / side.DPIY));
        part = part.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    canvas.drawImage(QPoint(0, top), part);
}

} // namespace

int CardPixels(double mm, int dpi) {
    return RoundHalfEven(mm * dpi / 25.4);
}

QImage CardArea(const QImage& scan, int dpiX, int dpiY) {
    const QRect area =
        QRect(0, 0, CardPixels(CardAreaWidthMM, dpiX), CardPixels(CardAreaHeightMM, dpiY))
            .intersected(scan.rect());
    return area.isEmpty() ? QImage() : scan.copy(area);
}

QImage ComposeIdCard(const TCardSide& Front, const TCardSide& Back) {
    const int areaWidth = CardPixels(CardAreaWidthMM, Front.DPIX);
    const int areaHeight = CardPixels(CardAreaHeightMM, Front.DPIY);
    const int gap = CardPixels(CardGapMM, Front.DPIY);
    QImage card(areaWidth, 2 * areaHeight + gap, QImage::Format_RGB32);
    if (card.isNull())
        throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
    card.fill(Qt::white);
    {
        QPainter canvas(&card);
        // A scaled back must not spill over its own area into the gap or beyond.
        canvas.setClipRect(0, 0, areaWidth, areaHeight);
        DrawCardArea(canvas, 0, Front, Front.DPIX, Front.DPIY);
        canvas.setClipRect(0, areaHeight + gap, areaWidth, areaHeight);
        DrawCardArea(canvas, areaHeight + gap, Back, Front.DPIX, Front.DPIY);
    }
    card.setDotsPerMeterX(RoundHalfEven(Front.DPIX / 0.0254));
    card.setDotsPerMeterY(RoundHalfEven(Front.DPIY / 0.0254));
    return card;
}

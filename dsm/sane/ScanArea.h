#pragma once
// The scan area of the scanner dialog's preview, without widgets: the bed and the area in the
// device's own units (those of its tl-x, tl-y, br-x and br-y options, millimetres on nearly
// every device), dragging the area with the mouse, and the area a document on the glass takes.

#include "dsm/sane/SaneTypes.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <vector>

namespace sanebridge {

// The bed (the ranges of the area options) and the area set now, from the device's options.
// False when one of the four options is missing, inactive or not settable: such a device has no
// area to draw.
bool AreaFromOptions(const std::vector<OptionDesc>& options, QRectF* bed, QRectF* area);

// The part of an area the mouse is over: an edge or corner to resize, the inside to move, or
// outside (None: a drag there draws a new area).
enum class Grip {
    None,
    Inside,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
};

// Which grip `point` is over, for an area shown at `area` (both in view pixels); an edge or
// corner reaches `tolerance` pixels to either side of its line.
Grip GripAt(const QRectF& area, const QPointF& point, double tolerance);

// The area after dragging `grip` from `from` to `to`, all in bed units: an edge or corner follows
// the mouse, the inside moves the area keeping its size, None spans a new area from `from` to
// `to`. The result is normalised (an edge dragged past its opposite swaps roles) and lies within
// `bed`.
QRectF DraggedArea(const QRectF& start, Grip grip, const QPointF& from, const QPointF& to,
                   const QRectF& bed);

// The area of the document on the glass in a preview of the whole `bed`: the bounding box of
// what differs from the bed's white, widened by `margin` bed units on each side and kept within
// the bed. A null rectangle when the glass is empty.
QRectF DocumentArea(const QImage& preview, const QRectF& bed, double margin);

} // namespace sanebridge

#include "pictures/metafile/DeviceContext.h"

#include <QPainter>
#include <QtMath>
#include <algorithm>

namespace MetaPlay {

using namespace Gdi;

// --- pen, brush and raster operation -------------------------------------------------------------

QPen TDeviceContext::MakePen(qreal scale) const {
    const TPenSpec& pen = m_s.Pen;
    const uint32_t style = pen.Style & PS_STYLE_MASK;
    if (style == PS_NULL)
        return Qt::NoPen;
    QPen q(pen.Color);
    const qreal device = pen.Width * scale;
    if (device < 1.5 || !std::isfinite(device)) {
        q.setCosmetic(true);
        q.setWidthF(1);
    } else {
        // A pen wider than the whole device draws as wide as the device.
        const qreal cap = 4 * std::max({m_deviceRect.width(), m_deviceRect.height(), 1.0});
        q.setWidthF(std::min(pen.Width, cap / scale));
    }
    switch (style) {
    case PS_DASH:
        q.setStyle(Qt::DashLine);
        break;
    case PS_DOT:
    case PS_ALTERNATE:
        q.setStyle(Qt::DotLine);
        break;
    case PS_DASHDOT:
        q.setStyle(Qt::DashDotLine);
        break;
    case PS_DASHDOTDOT:
        q.setStyle(Qt::DashDotDotLine);
        break;
    default:
        q.setStyle(Qt::SolidLine);
        break;
    }
    switch (pen.Style & PS_ENDCAP_MASK) {
    case PS_ENDCAP_SQUARE:
        q.setCapStyle(Qt::SquareCap);
        break;
    case PS_ENDCAP_FLAT:
        q.setCapStyle(Qt::FlatCap);
        break;
    default:
        q.setCapStyle(Qt::RoundCap);
        break;
    }
    switch (pen.Style & PS_JOIN_MASK) {
    case PS_JOIN_BEVEL:
        q.setJoinStyle(Qt::BevelJoin);
        break;
    case PS_JOIN_MITER:
        q.setJoinStyle(Qt::MiterJoin);
        break;
    default:
        q.setJoinStyle(Qt::RoundJoin);
        break;
    }
    return q;
}

QBrush TDeviceContext::MakeBrush() const {
    const TBrushSpec& b = m_s.Brush;
    switch (b.Style) {
    case BS_NULL:
        return Qt::NoBrush;
    case BS_HATCHED: {
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                 Qt::FDiagPattern, Qt::BDiagPattern,
                                                 Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(b.Color, b.Hatch < 6 ? hatches[b.Hatch] : Qt::SolidPattern);
    }
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
        if (!b.Pattern.isNull())
            return QBrush(b.Pattern);
        return QBrush(b.Color);
    default:
        return QBrush(b.Color);
    }
}

bool TDeviceContext::SetRop() {
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (m_s.Rop2) {
    case R2_NOP:
        return false;
    case R2_XORPEN:
        if (m_raster)
            mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case R2_NOT:
        if (m_raster)
            mode = QPainter::RasterOp_NotDestination;
        break;
    case R2_MASKPEN:
        mode =
            m_raster ? QPainter::RasterOp_SourceAndDestination : QPainter::CompositionMode_Multiply;
        break;
    case R2_MERGEPEN:
        mode = m_raster ? QPainter::RasterOp_SourceOrDestination : QPainter::CompositionMode_Screen;
        break;
    default:
        break;
    }
    m_p.setCompositionMode(mode);
    return true;
}

void TDeviceContext::DrawLogicalPath(const QPainterPath& path, bool fill, bool stroke) {
    const QTransform t = ToPainter();
    if (!Finite(t) || !SetRop())
        return;
    const QRectF onDevice = t.mapRect(path.controlPointRect());
    const bool tooBig = std::abs(onDevice.left()) > MaxDeviceCoordinate ||
                        std::abs(onDevice.right()) > MaxDeviceCoordinate ||
                        std::abs(onDevice.top()) > MaxDeviceCoordinate ||
                        std::abs(onDevice.bottom()) > MaxDeviceCoordinate;
    QPen pen = stroke ? MakePen(LogicalScale()) : QPen(Qt::NoPen);
    QBrush brush = fill ? MakeBrush() : QBrush(Qt::NoBrush);
    if (m_s.Rop2 == R2_BLACK || m_s.Rop2 == R2_WHITE) {
        const QColor c = m_s.Rop2 == R2_BLACK ? Qt::black : Qt::white;
        if (pen.style() != Qt::NoPen)
            pen.setColor(c);
        if (brush.style() != Qt::NoBrush)
            brush = QBrush(c);
    }
    if (tooBig) {
        // Cut far-reaching shapes to what the device can show, in device coordinates: the
        // rasteriser's fixed-point coordinates cannot hold them. Open outlines are dropped, and
        // so are shapes too complex to cut in reasonable time.
        if (brush.style() == Qt::NoBrush || path.elementCount() > MaxClipElements)
            return;
        m_p.setWorldTransform(QTransform());
        QPainterPath cut;
        cut.addRect(m_deviceRect.adjusted(-16, -16, 16, 16));
        cut = m_p.deviceTransform().inverted().map(cut);
        m_p.setPen(Qt::NoPen);
        m_p.setBrush(brush);
        m_p.drawPath(t.map(path).intersected(cut));
        return;
    }
    m_p.setWorldTransform(t);
    m_p.setPen(pen);
    m_p.setBrush(brush);
    if (brush.style() > Qt::SolidPattern && brush.style() < Qt::LinearGradientPattern &&
        m_s.BkMode == OPAQUE) {
        m_p.setBackgroundMode(Qt::OpaqueMode);
        m_p.setBackground(m_s.BkColor);
    } else {
        m_p.setBackgroundMode(Qt::TransparentMode);
    }
    m_p.drawPath(path);
}

void TDeviceContext::DrawShape(QPainterPath path, bool fill, bool stroke) {
    if (m_inPath) {
        AddToPath(path, false, fill);
        return;
    }
    path.setFillRule(PolyFillRule());
    DrawLogicalPath(path, fill, stroke);
}

namespace {

// Every figure of `path` closed, as filling a path closes all its open figures first.
QPainterPath CloseFigures(const QPainterPath& path) {
    QPainterPath closed;
    closed.setFillRule(path.fillRule());
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            closed.closeSubpath();
            closed.moveTo(e);
        } else if (e.isLineTo()) {
            closed.lineTo(e);
        } else if (e.isCurveTo() && i + 2 < path.elementCount()) {
            closed.cubicTo(e, path.elementAt(i + 1), path.elementAt(i + 2));
            i += 2;
        }
    }
    closed.closeSubpath();
    return closed;
}

} // namespace

void TDeviceContext::StrokeFillPath(bool fill, bool stroke) {
    QPainterPath path = fill ? CloseFigures(m_path) : m_path;
    m_path = QPainterPath();
    m_inPath = false;
    m_figureOpen = false;
    path.setFillRule(PolyFillRule());
    // The path is in device space; draw it there, with the pen as wide as the mapping makes it.
    const TState keep = m_s;
    const qreal scale = DeviceScale();
    m_s.World = QTransform();
    m_s.MapMode = MM_TEXT;
    m_s.WindowOrg = m_s.ViewportOrg = QPointF();
    m_s.WindowExt = m_s.ViewportExt = QSizeF(1, 1);
    m_s.Pen.Width = keep.Pen.Width * scale;
    if (m_layout.Kind == TMetafileKind::Wmf) {
        m_s.WindowOrg = m_layout.Frame.topLeft();
        m_s.WindowExt = m_layout.Frame.size();
    }
    DrawLogicalPath(path, fill, stroke);
    m_s = keep;
}

void TDeviceContext::PolyLine(const QPolygonF& points, bool fromCurrent, bool closed) {
    if (points.isEmpty())
        return;
    QPainterPath path;
    path.moveTo(fromCurrent ? m_s.Position : points.front());
    for (int i = fromCurrent ? 0 : 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    if (closed)
        path.closeSubpath();
    if (m_inPath)
        AddToPath(path, fromCurrent, closed);
    else
        DrawShape(path, closed, true);
    if (fromCurrent)
        m_s.Position = points.back();
}

void TDeviceContext::PolyBezier(const QPolygonF& points, bool fromCurrent) {
    QPainterPath path;
    int i = 0;
    if (fromCurrent) {
        path.moveTo(m_s.Position);
    } else {
        if (points.isEmpty())
            return;
        path.moveTo(points[0]);
        i = 1;
    }
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (m_inPath)
        AddToPath(path, fromCurrent, false);
    else
        DrawShape(path, false, true);
    if (fromCurrent)
        m_s.Position = path.currentPosition();
}

void TDeviceContext::PolyPolygon(const std::vector<QPolygonF>& polygons, bool closed) {
    if (!closed && !m_inPath) {
        // Open lines are drawn one after the other, each over those before it.
        for (const QPolygonF& polygon : polygons)
            PolyLine(polygon, false, false);
        return;
    }
    QPainterPath path;
    for (const QPolygonF& polygon : polygons) {
        if (polygon.isEmpty())
            continue;
        path.moveTo(polygon.front());
        for (int i = 1; i < polygon.size(); ++i)
            path.lineTo(polygon[i]);
        if (closed)
            path.closeSubpath();
    }
    DrawShape(path, closed, true);
}

void TDeviceContext::ArcShape(const QRectF& rawBox, QPointF start, QPointF end, TArcKind kind,
                              bool arcTo) {
    const QRectF box = rawBox.normalized();
    if (box.width() <= 0 || box.height() <= 0)
        return;
    const QPointF c = box.center();
    const auto angle = [&](QPointF p) {
        return qRadiansToDegrees(
            std::atan2(-(p.y() - c.y()) / box.height(), (p.x() - c.x()) / box.width()));
    };
    const qreal a0 = angle(start);
    qreal sweep = angle(end) - a0;
    // GDI draws counter-clockwise as seen on the device; a mirroring mapping turns that around.
    const bool ccw = (m_s.ArcDirection == Emf::AD_COUNTERCLOCKWISE) != Mirrored();
    if (ccw) {
        while (sweep <= 0)
            sweep += 360;
    } else {
        while (sweep >= 0)
            sweep -= 360;
    }
    QPainterPath path;
    if (arcTo) {
        path.moveTo(m_s.Position);
        QPainterPath arc;
        arc.arcMoveTo(box, a0);
        path.lineTo(arc.currentPosition());
    } else if (kind == TArcKind::Pie) {
        path.moveTo(c);
    } else {
        path.arcMoveTo(box, a0);
    }
    path.arcTo(box, a0, sweep);
    const bool closed = kind != TArcKind::Arc;
    if (closed)
        path.closeSubpath();
    if (arcTo && m_inPath)
        AddToPath(path, true, false);
    else
        DrawShape(path, closed, true);
    if (arcTo)
        m_s.Position = path.currentPosition();
}

void TDeviceContext::AngleArc(QPointF centre, qreal radius, qreal startAngle, qreal sweep) {
    if (!std::isfinite(startAngle) || !std::isfinite(sweep))
        return;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path;
    path.moveTo(m_s.Position);
    QPainterPath arc;
    arc.arcMoveTo(box, startAngle);
    path.lineTo(arc.currentPosition());
    path.arcTo(box, startAngle, std::clamp<qreal>(sweep, -3600, 3600));
    if (m_inPath)
        AddToPath(path, true, false);
    else
        DrawShape(path, false, true);
    m_s.Position = path.currentPosition();
}

void TDeviceContext::PolyDraw(const QPolygonF& points, const QByteArray& kinds) {
    const int count = std::min(int(points.size()), int(kinds.size()));
    QPainterPath path;
    path.moveTo(m_s.Position);
    bool closedAtEnd = false;
    for (int i = 0; i < count; ++i) {
        const auto kind = static_cast<uint8_t>(kinds[i]);
        const QPointF& p = points[i];
        if ((kind & Emf::PT_MOVETO) == Emf::PT_MOVETO) {
            path.moveTo(p);
        } else if (kind & Emf::PT_BEZIERTO) {
            if (i + 2 < count) {
                path.cubicTo(p, points[i + 1], points[i + 2]);
                i += 2;
            }
        } else {
            path.lineTo(p);
        }
        closedAtEnd = (kind & Emf::PT_CLOSEFIGURE) != 0;
        if (closedAtEnd)
            path.closeSubpath();
    }
    m_s.Position = path.currentPosition();
    // Points before the first MoveTo draw on from the current position.
    if (m_inPath)
        AddToPath(path,
                  count > 0 && (static_cast<uint8_t>(kinds[0]) & Emf::PT_MOVETO) != Emf::PT_MOVETO,
                  closedAtEnd);
    else
        DrawShape(path, false, true);
}

// --- areas and bitmaps ---------------------------------------------------------------------------

void TDeviceContext::DrawImage(const QRectF& dest, QRectF source, const TDib& dib, uint32_t rop,
                               qreal opacity) {
    if (m_inPath || dib.Image.isNull())
        return;
    const QImage& image = dib.Image;
    if (dib.BottomUp) // source rectangles of bottom-up bitmaps count from the bottom row
        source.moveTop(image.height() - source.top() - source.height());
    if (!(source.width() > 0) || !(source.height() > 0))
        source = QRectF(image.rect());
    if (dest.width() == 0 || dest.height() == 0)
        return;
    // Only the part of the source inside the bitmap is drawn, at the place it has in the
    // destination.
    const QRectF inside = source & QRectF(image.rect());
    if (inside.isEmpty())
        return;
    const qreal sx = dest.width() / source.width(), sy = dest.height() / source.height();
    const QRectF placed(dest.x() + (inside.x() - source.x()) * sx,
                        dest.y() + (inside.y() - source.y()) * sy, inside.width() * sx,
                        inside.height() * sy);
    DrawImagePart(placed, inside, image, rop, opacity);
}

void TDeviceContext::DrawImagePart(const QRectF& dest, const QRectF& source, const QImage& image,
                                   uint32_t rop, qreal opacity) {
    // Negative extents mirror the bitmap (a negative QRectF would count as empty).
    const QTransform place =
        QTransform::fromScale(dest.width() / source.width(), dest.height() / source.height()) *
        QTransform::fromTranslate(dest.x(), dest.y());
    const QTransform t = QTransform::fromTranslate(-source.x(), -source.y()) * place * ToPainter();
    if (!Finite(t) || !t.isInvertible())
        return;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    QImage drawn = image;
    switch (rop) {
    case SRCAND:
        mode =
            m_raster ? QPainter::RasterOp_SourceAndDestination : QPainter::CompositionMode_Multiply;
        break;
    case SRCPAINT:
        mode = m_raster ? QPainter::RasterOp_SourceOrDestination : QPainter::CompositionMode_Screen;
        break;
    case SRCINVERT:
        if (m_raster)
            mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case NOTSRCCOPY:
        drawn.invertPixels();
        break;
    default:
        break;
    }
    // Of a bitmap reaching far beyond the device only the pixels the device shows are drawn: the
    // rasteriser's fixed-point coordinates cannot hold the rest.
    QRectF part = source;
    const auto far = [](const QRectF& r) {
        return std::max({std::abs(r.left()), std::abs(r.right()), std::abs(r.top()),
                         std::abs(r.bottom())}) > MaxDeviceCoordinate;
    };
    if (far(t.mapRect(part))) {
        const QRectF seen = t.inverted().mapRect(m_deviceRect.adjusted(-2, -2, 2, 2));
        part = QRectF(QPointF(std::floor(seen.left()), std::floor(seen.top())),
                      QPointF(std::ceil(seen.right()), std::ceil(seen.bottom()))) &
               source;
        if (part.isEmpty() || far(t.mapRect(part)))
            return;
    }
    m_p.save();
    m_p.setCompositionMode(mode);
    m_p.setOpacity(opacity);
    m_p.setWorldTransform(t);
    m_p.drawImage(part, drawn, part);
    m_p.restore();
}

void TDeviceContext::PatBlt(const QRectF& dest, uint32_t rop) {
    if (m_inPath)
        return;
    const QTransform t = ToPainter();
    if (!Finite(t))
        return;
    m_p.save();
    m_p.setWorldTransform(t);
    const QRectF r = dest.normalized();
    switch (rop) {
    case BLACKNESS:
        m_p.fillRect(r, Qt::black);
        break;
    case WHITENESS:
        m_p.fillRect(r, Qt::white);
        break;
    case DSTINVERT:
        if (m_raster) {
            m_p.setCompositionMode(QPainter::RasterOp_NotDestination);
            m_p.fillRect(r, Qt::white);
        }
        break;
    case PATINVERT:
        if (m_raster) {
            m_p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            m_p.fillRect(r, MakeBrush());
        }
        break;
    default: // PATCOPY and the rest: the brush
        if (m_s.Brush.Style != BS_NULL)
            m_p.fillRect(r, MakeBrush());
        break;
    }
    m_p.restore();
}

void TDeviceContext::FillLogical(const QPainterPath& path, const QBrush& brush) {
    const QTransform t = ToPainter();
    if (m_inPath || !Finite(t))
        return;
    const QRectF onDevice = t.mapRect(path.controlPointRect());
    if (std::max({std::abs(onDevice.left()), std::abs(onDevice.right()), std::abs(onDevice.top()),
                  std::abs(onDevice.bottom())}) > MaxDeviceCoordinate)
        return;
    m_p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    m_p.setWorldTransform(t);
    m_p.fillPath(path, brush);
}

void TDeviceContext::SetPixel(QPointF at, const QColor& colour) {
    QPainterPath path;
    path.addRect(QRectF(at, QSizeF(1, 1)));
    const TBrushSpec brush = m_s.Brush;
    m_s.Brush = TBrushSpec{BS_SOLID, colour, 0, QImage()};
    DrawShape(path, true, false);
    m_s.Brush = brush;
}

void TDeviceContext::FillRegion(const QPainterPath& logical, const TBrushSpec& brush) {
    const TBrushSpec selected = m_s.Brush;
    m_s.Brush = brush;
    DrawLogicalPath(logical, true, false);
    m_s.Brush = selected;
}

void TDeviceContext::FillDeviceRegion(const QPainterPath& device, const TBrushSpec& brush) {
    const TState keep = m_s;
    m_s.Brush = brush;
    m_s.World = Page().inverted();
    DrawLogicalPath(device, true, false);
    m_s = keep;
}

} // namespace MetaPlay

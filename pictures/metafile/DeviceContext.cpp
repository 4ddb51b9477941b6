#include "pictures/metafile/DeviceContext.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPainterPathStroker>
#include <algorithm>

namespace MetaPlay {

using namespace Gdi;

namespace {

constexpr std::size_t MaxSaveDepth = 4096;  // SaveDC nesting kept; deeper saves are lost
constexpr int MaxPathElements = 1 << 20;    // elements of one path bracket
constexpr std::size_t MaxObjects = 1 << 16; // object table entries
constexpr qint64 MaxClipWork = 1 << 16;     // path elements combined per drawing

} // namespace

// --- objects -------------------------------------------------------------------------------------

void TObjectTable::Add(TObject object) {
    uint32_t index;
    if (!m_free.empty()) {
        index = *m_free.begin();
        m_free.erase(m_free.begin());
    } else if (m_next < MaxObjects) {
        index = m_next++;
    } else {
        return;
    }
    m_objects[index] = std::move(object);
}

void TObjectTable::Put(uint32_t index, TObject object) {
    if (m_objects.size() >= MaxObjects && !m_objects.count(index))
        return;
    m_objects[index] = std::move(object);
}

TObject* TObjectTable::Find(uint32_t index) {
    const auto it = m_objects.find(index);
    return it == m_objects.end() ? nullptr : &it->second;
}

const TObject* TObjectTable::Find(uint32_t index, TObject::Type kind) const {
    const auto it = m_objects.find(index);
    return it == m_objects.end() || it->second.Kind != kind ? nullptr : &it->second;
}

void TObjectTable::Remove(uint32_t index) {
    if (m_objects.erase(index) && index < m_next)
        m_free.insert(index);
}

void SetPaletteEntries(QVector<QRgb>& palette, int start, const QVector<QRgb>& entries) {
    if (palette.size() < start + entries.size())
        palette.resize(start + entries.size());
    std::copy(entries.begin(), entries.end(), palette.begin() + start);
}

QSizeF ScaledExtent(QSizeF extent, qreal xNum, qreal xDen, qreal yNum, qreal yDen) {
    if (xDen == 0 || yDen == 0)
        return extent;
    return QSizeF(extent.width() * xNum / xDen, extent.height() * yNum / yDen);
}

// --- the context ---------------------------------------------------------------------------------

TDeviceContext::TDeviceContext(QPainter& painter, const QRectF& target, const TMetaLayout& layout)
    : m_p(painter), m_layout(layout) {
    m_raster = painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    m_hadClip = painter.hasClipping();
    const QRectF& f = layout.Frame;
    m_base = QTransform::fromTranslate(-f.x(), -f.y()) *
             QTransform::fromScale(target.width() / f.width(), target.height() / f.height()) *
             QTransform::fromTranslate(target.x(), target.y()) * painter.worldTransform();
    if (layout.Kind == TMetafileKind::Wmf) {
        m_s.WindowOrg = f.topLeft();
        m_s.WindowExt = f.size();
    }
    const QPaintDevice* device = painter.device();
    m_deviceRect = device ? QRectF(0, 0, device->width(), device->height()) : QRectF();
    m_p.save();
    SetHints();
}

TDeviceContext::~TDeviceContext() {
    m_p.restore();
}

void TDeviceContext::SetHints() {
    m_p.setRenderHint(QPainter::Antialiasing, true);
    m_p.setRenderHint(QPainter::TextAntialiasing, true);
    m_p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QColor TDeviceContext::Colour(uint32_t ref) const {
    if ((ref >> 24) == 1 || (ref >> 24) == 2) {
        const uint32_t index = ref & 0xFFFF;
        if (index < uint32_t(m_s.Palette.size()))
            return QColor(m_s.Palette[int(index)]);
    }
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

void TDeviceContext::SaveDC() {
    if (m_stack.size() < MaxSaveDepth)
        m_stack.push_back(m_s);
}

void TDeviceContext::RestoreDC(long long which) {
    const long long depth = static_cast<long long>(m_stack.size());
    long long pops = 0;
    if (which < 0)
        pops = -which; // `which` is at least INT_MIN: no overflow in long long
    else if (which > 0)
        pops = depth - which + 1;
    if (pops <= 0 || pops > depth)
        return;
    m_stack.resize(std::size_t(depth - pops + 1));
    m_s = m_stack.back();
    m_stack.pop_back();
    ApplyClip();
}

void TDeviceContext::SelectObject(const TObject& object) {
    switch (object.Kind) {
    case TObject::Pen:
        m_s.Pen = object.PenSpec;
        break;
    case TObject::Brush:
        m_s.Brush = object.BrushSpec;
        break;
    case TObject::Font:
        m_s.Font = object.FontSpec;
        break;
    case TObject::Palette:
        m_s.Palette = object.Colors;
        break;
    case TObject::Region: // selecting a region makes it the clip
        CombineClip(Logical().map(object.Area), RGN_COPY);
        break;
    default:
        break;
    }
}

void TDeviceContext::SelectStock(uint32_t index) {
    switch (index) {
    case WHITE_BRUSH:
    case LTGRAY_BRUSH:
    case GRAY_BRUSH:
    case DKGRAY_BRUSH:
    case BLACK_BRUSH: {
        static const int greys[] = {255, 192, 128, 64, 0};
        const int g = greys[index - WHITE_BRUSH];
        m_s.Brush = TBrushSpec{BS_SOLID, QColor(g, g, g), 0, QImage()};
        break;
    }
    case NULL_BRUSH:
        m_s.Brush = TBrushSpec{BS_NULL, Qt::white, 0, QImage()};
        break;
    case WHITE_PEN:
        m_s.Pen = TPenSpec{PS_SOLID, 0, Qt::white};
        break;
    case BLACK_PEN:
        m_s.Pen = TPenSpec{PS_SOLID, 0, Qt::black};
        break;
    case NULL_PEN:
        m_s.Pen = TPenSpec{PS_NULL, 0, Qt::black};
        break;
    case DEFAULT_PALETTE:
        m_s.Palette.clear();
        break;
    case OEM_FIXED_FONT:
    case ANSI_FIXED_FONT:
    case SYSTEM_FIXED_FONT:
        m_s.Font = TFontSpec();
        m_s.Font.Face = QStringLiteral("Liberation Mono");
        break;
    case ANSI_VAR_FONT:
    case SYSTEM_FONT:
    case DEVICE_DEFAULT_FONT:
    case DEFAULT_GUI_FONT:
        m_s.Font = TFontSpec();
        break;
    default:
        break;
    }
}

void TDeviceContext::ModifyWorldTransform(const QTransform& t, uint32_t mode) {
    if (!Finite(t))
        return;
    switch (mode) {
    case Emf::MWT_IDENTITY:
        m_s.World = QTransform();
        break;
    case Emf::MWT_LEFTMULTIPLY:
        m_s.World = t * m_s.World;
        break;
    case Emf::MWT_RIGHTMULTIPLY:
        m_s.World = m_s.World * t;
        break;
    case Emf::MWT_SET:
        m_s.World = t;
        break;
    default:
        break;
    }
}

// --- mapping -------------------------------------------------------------------------------------

QTransform TDeviceContext::Page() const {
    const TState& s = m_s;
    const auto safe = [](qreal v) { return v == 0 || !std::isfinite(v) ? 1.0 : v; };
    if (m_layout.Kind == TMetafileKind::Wmf) {
        // The window maps onto the frame, whatever map mode the file chose.
        const QRectF& f = m_layout.Frame;
        return QTransform::fromTranslate(-s.WindowOrg.x(), -s.WindowOrg.y()) *
               QTransform::fromScale(f.width() / safe(s.WindowExt.width()),
                                     f.height() / safe(s.WindowExt.height())) *
               QTransform::fromTranslate(f.x(), f.y());
    }
    qreal sx = 1, sy = 1;
    const auto fixed = [&](qreal mmPerUnit) {
        sx = mmPerUnit * m_layout.DevicePxPerMmX;
        sy = -mmPerUnit * m_layout.DevicePxPerMmY;
    };
    switch (s.MapMode) {
    case MM_LOMETRIC:
        fixed(0.1);
        break;
    case MM_HIMETRIC:
        fixed(0.01);
        break;
    case MM_LOENGLISH:
        fixed(0.254);
        break;
    case MM_HIENGLISH:
        fixed(0.0254);
        break;
    case MM_TWIPS:
        fixed(25.4 / 1440);
        break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
        sx = s.ViewportExt.width() / safe(s.WindowExt.width());
        sy = s.ViewportExt.height() / safe(s.WindowExt.height());
        if (s.MapMode == MM_ISOTROPIC) {
            const qreal m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    default:
        break;
    }
    return QTransform::fromTranslate(-s.WindowOrg.x(), -s.WindowOrg.y()) *
           QTransform::fromScale(sx, sy) *
           QTransform::fromTranslate(s.ViewportOrg.x(), s.ViewportOrg.y());
}

// --- clipping ------------------------------------------------------------------------------------

void TDeviceContext::ApplyClip() {
    m_p.restore();
    m_p.save();
    SetHints();
    if (!m_s.Clipped)
        return;
    m_p.setWorldTransform(m_base);
    m_p.setClipPath(m_s.Clip, m_hadClip ? Qt::IntersectClip : Qt::ReplaceClip);
}

void TDeviceContext::CombineClip(const QPainterPath& given, uint32_t mode) {
    QPainterPath current = m_s.Clipped ? m_s.Clip : DeviceExtent();
    QPainterPath path = given;
    // Combining paths costs more than linear time in their size. Once a drawing has spent
    // its budget (only hostile files do), both sides stand for their bounding rectangles.
    m_clipWork += current.elementCount() + path.elementCount();
    if (m_clipWork > MaxClipWork) {
        const auto bounds = [](const QPainterPath& p) {
            QPainterPath box;
            box.addRect(p.boundingRect());
            return box;
        };
        current = bounds(current);
        path = bounds(path);
    }
    switch (mode) {
    case RGN_AND:
        current = current.intersected(path);
        break;
    case RGN_OR:
        current = current.united(path);
        break;
    case RGN_XOR:
        current = current.united(path).subtracted(current.intersected(path));
        break;
    case RGN_DIFF:
        current = current.subtracted(path);
        break;
    case RGN_COPY:
        current = path;
        break;
    default:
        return;
    }
    if (current.elementCount() > MaxClipElements) {
        // A clip this complex (only a hostile file builds one) is kept as its bounds.
        const QRectF bounds = current.boundingRect();
        current = QPainterPath();
        current.addRect(bounds);
    }
    m_s.Clip = current;
    m_s.Clipped = true;
    ApplyClip();
}

void TDeviceContext::CombineClipRect(const QRectF& logical, uint32_t mode) {
    QPainterPath path;
    path.addRect(logical.normalized());
    CombineClip(Logical().map(path), mode);
}

void TDeviceContext::OffsetClip(QPointF logical) {
    if (!m_s.Clipped)
        return;
    m_s.Clip.translate(Logical().map(logical) - Logical().map(QPointF()));
    ApplyClip();
}

void TDeviceContext::ResetClip() {
    m_s.Clipped = false;
    m_s.Clip = QPainterPath();
    ApplyClip();
}

// Everything the metafile could reach, in its device space.
QPainterPath TDeviceContext::DeviceExtent() const {
    QPainterPath all;
    const QRectF f = m_layout.Frame;
    const qreal big = 4 * std::max({std::abs(f.left()), std::abs(f.right()), std::abs(f.top()),
                                    std::abs(f.bottom()), 1.0});
    all.addRect(QRectF(-big, -big, 2 * big, 2 * big));
    return all;
}

// --- path bracket --------------------------------------------------------------------------------

void TDeviceContext::BeginPath() {
    m_inPath = true;
    m_path = QPainterPath();
    m_figureOpen = false;
}

void TDeviceContext::EndPath() {
    m_inPath = false;
}

void TDeviceContext::AbortPath() {
    m_inPath = false;
    m_path = QPainterPath();
    m_figureOpen = false;
}

void TDeviceContext::CloseFigure() {
    m_path.closeSubpath();
    m_figureOpen = false;
}

void TDeviceContext::MoveTo(QPointF logical) {
    m_s.Position = logical;
    m_figureOpen = false;
}

// `continueFigure`: `logical` starts at the current position. connectPath joins its start to the
// path's end by a line, which is right only when that is where the last figure stopped; after a
// MoveTo, a CloseFigure or a closed shape every figure stays a subpath of its own.
void TDeviceContext::AddToPath(const QPainterPath& logical, bool continueFigure, bool closed) {
    if (m_path.elementCount() > MaxPathElements || logical.isEmpty())
        return;
    const QPainterPath mapped = Logical().map(logical);
    if (continueFigure && m_figureOpen && m_path.elementCount() > 0)
        m_path.connectPath(mapped);
    else
        m_path.addPath(mapped);
    m_figureOpen =
        !closed && (continueFigure || m_path.currentPosition() == Logical().map(m_s.Position));
}

// Flattening and widening grow a path; repeated on a huge one they would not end soon.
void TDeviceContext::FlattenPath() {
    if (m_path.elementCount() > MaxClipElements)
        return;
    QPainterPath flat;
    for (const QPolygonF& polygon : m_path.toSubpathPolygons())
        flat.addPolygon(polygon);
    m_path = flat;
}

void TDeviceContext::WidenPath() {
    if (m_path.elementCount() > MaxClipElements)
        return;
    QPainterPathStroker stroker;
    stroker.setWidth(std::max<qreal>(1, m_s.Pen.Width * DeviceScale()));
    m_path = stroker.createStroke(m_path);
}

void TDeviceContext::SelectClipPath(uint32_t mode) {
    QPainterPath path = m_path;
    path.setFillRule(PolyFillRule());
    path.closeSubpath();
    m_path = QPainterPath();
    m_inPath = false;
    m_figureOpen = false;
    CombineClip(path, mode);
}

} // namespace MetaPlay

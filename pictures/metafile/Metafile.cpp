#include "pictures/metafile/Metafile.h"

#include "pictures/metafile/MetaPlayer.h"
#include "pictures/metafile/MetaReader.h"
#include "pictures/metafile/MetaRecords.h"
#include "platform/Errors.h"

#include <QtMath>
#include <algorithm>
#include <cmath>

namespace {

[[noreturn]] void Invalid() {
    throw EInvalidGraphic(QStringLiteral("Metadatei ist ungültig"));
}

// A metafile's own size is capped so that rasterising it at that size (saving as BMP or JPEG,
// the clipboard image) stays an ordinary allocation: no side above 32767 pixels and no more than
// 64 million pixels; a bigger picture keeps its aspect ratio and shrinks to fit.
constexpr double MaxSide = 32767;
constexpr double MaxPixels = 64.0 * 1000 * 1000;

QSize PictureSize(double width, double height) {
    width = std::abs(width);
    height = std::abs(height);
    if (!std::isfinite(width) || !std::isfinite(height))
        Invalid();
    double scale = 1;
    scale = std::min(scale, MaxSide / std::max(width, 1.0));
    scale = std::min(scale, MaxSide / std::max(height, 1.0));
    if (width * height * scale * scale > MaxPixels)
        scale = std::sqrt(MaxPixels / (width * height));
    // Shrunk sizes round down, so that they stay within the limits.
    const int w = scale < 1 ? int(width * scale) : qRound(width);
    const int h = scale < 1 ? int(height * scale) : qRound(height);
    if (w < 1 || h < 1)
        Invalid();
    return QSize(w, h);
}

bool IsStandardWmfHeader(const TMetaReader& r, qsizetype at) {
    if (!r.Has(at, Wmf::HeaderSize))
        return false;
    const uint16_t type = r.U16(at);
    return (type == Wmf::MemoryMetafile || type == Wmf::DiskMetafile) &&
           r.U16(at + 2) == Wmf::HeaderWords;
}

bool IsEmfHeader(const TMetaReader& r) {
    return r.Has(0, Emf::MinHeaderSize) && r.U32(0) == Emf::EMR_HEADER &&
           r.U32(40) == Emf::Signature;
}

// Logical units of a fixed map mode in 96-dpi pixels; 1 for the modes without a unit of their
// own (text, isotropic, anisotropic).
double PixelsPerUnit(uint32_t mapMode) {
    switch (mapMode) {
    case Gdi::MM_LOMETRIC:
        return 96 / 254.0;
    case Gdi::MM_HIMETRIC:
        return 96 / 2540.0;
    case Gdi::MM_LOENGLISH:
        return 96 / 100.0;
    case Gdi::MM_HIENGLISH:
        return 96 / 1000.0;
    case Gdi::MM_TWIPS:
        return 96 / 1440.0;
    default:
        return 1;
    }
}

// Grows `box` by the points of the drawing records of a WMF: the fallback size of a WMF without
// placeable header or window records.
void AddWmfRecordBounds(const TMetaReader& rec, uint16_t function, QRectF& box, bool& any) {
    const auto add = [&](int x, int y) {
        // Not QRectF::united: it ignores the empty rectangle of a single point.
        if (!any) {
            box = QRectF(x, y, 0, 0);
        } else {
            box.setLeft(std::min<qreal>(box.left(), x));
            box.setRight(std::max<qreal>(box.right(), x));
            box.setTop(std::min<qreal>(box.top(), y));
            box.setBottom(std::max<qreal>(box.bottom(), y));
        }
        any = true;
    };
    // Parameters start at byte 6 of a record.
    const auto p16 = [&](int index) { return rec.I16(6 + 2 * qsizetype(index)); };
    switch (function) {
    case Wmf::META_LINETO:
    case Wmf::META_MOVETO:
        add(p16(1), p16(0));
        break;
    case Wmf::META_RECTANGLE:
    case Wmf::META_ELLIPSE:
        add(p16(3), p16(2));
        add(p16(1), p16(0));
        break;
    case Wmf::META_ROUNDRECT:
        add(p16(5), p16(4));
        add(p16(3), p16(2));
        break;
    case Wmf::META_ARC:
    case Wmf::META_PIE:
    case Wmf::META_CHORD:
        add(p16(7), p16(6));
        add(p16(5), p16(4));
        break;
    case Wmf::META_POLYGON:
    case Wmf::META_POLYLINE: {
        const int n = p16(0);
        for (int i = 0; i < n; ++i)
            add(p16(1 + 2 * i), p16(2 + 2 * i));
        break;
    }
    case Wmf::META_POLYPOLYGON: {
        const int polygons = p16(0);
        long long points = 0;
        for (int i = 0; i < polygons; ++i)
            points += uint16_t(p16(1 + i));
        for (long long i = 0; i < points; ++i)
            add(p16(int(1 + polygons + 2 * i)), p16(int(2 + polygons + 2 * i)));
        break;
    }
    case Wmf::META_EXTTEXTOUT:
        add(p16(1), p16(0));
        break;
    case Wmf::META_TEXTOUT: {
        const int words = (uint16_t(p16(0)) + 1) / 2;
        add(p16(2 + words), p16(1 + words));
        break;
    }
    case Wmf::META_STRETCHDIB:
        add(p16(10), p16(9));
        add(p16(10) + p16(8), p16(9) + p16(7));
        break;
    case Wmf::META_DIBSTRETCHBLT:
        add(p16(9), p16(8));
        add(p16(9) + p16(7), p16(8) + p16(6));
        break;
    default:
        break;
    }
}

// WMF: a placeable header gives the size, |right - left| * 96 / Inch (Inch 0 means twips).
// A WMF without that header has no physical size; Velmora takes the first window origin and
// extent it sets, else the bounding box of its drawing records, counted in the unit of the first
// fixed map mode it sets (LOMETRIC, HIMETRIC, LOENGLISH, HIENGLISH, TWIPS), else in pixels.
QSize ReadWmf(const TMetaReader& r, TMetaLayout& layout) {
    layout.Kind = TMetafileKind::Wmf;
    qsizetype at = 0;
    QSize size;
    if (r.Has(0, 4) && r.U32(0) == Wmf::PlaceableKey) {
        if (!IsStandardWmfHeader(r, Wmf::PlaceableHeaderSize))
            Invalid();
        const int left = r.I16(6), top = r.I16(8), right = r.I16(10), bottom = r.I16(12);
        const int inch = r.U16(14) ? r.U16(14) : Wmf::DefaultInch;
        size = PictureSize(double(right - left) * 96 / inch, double(bottom - top) * 96 / inch);
        layout.Frame = QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
        layout.Placeable = true;
        at = Wmf::PlaceableHeaderSize;
    } else if (!IsStandardWmfHeader(r, 0)) {
        Invalid();
    }
    qsizetype pos = at + qsizetype(r.U16(at + 2)) * 2;
    if (layout.Placeable)
        return size;

    bool haveOrg = false, haveExt = false, anyPoint = false;
    QPointF org;
    QSizeF ext;
    QRectF box;
    uint32_t mapMode = 0;
    while (r.Has(pos, 6)) {
        const qsizetype bytes = qsizetype(r.U32(pos)) * 2;
        const uint16_t function = r.U16(pos + 4);
        if (function == Wmf::META_EOF || bytes < 6 || !r.Has(pos, bytes))
            break;
        const TMetaReader rec = r.Sub(pos, bytes);
        try {
            if (function == Wmf::META_SETWINDOWORG && !haveOrg) {
                org = QPointF(rec.I16(8), rec.I16(6));
                haveOrg = true;
            } else if (function == Wmf::META_SETWINDOWEXT && !haveExt) {
                ext = QSizeF(rec.I16(8), rec.I16(6));
                haveExt = ext.width() != 0 && ext.height() != 0;
            } else if (function == Wmf::META_SETMAPMODE && mapMode == 0) {
                const uint16_t mode = rec.U16(6);
                if (mode >= Gdi::MM_LOMETRIC && mode <= Gdi::MM_TWIPS)
                    mapMode = mode;
            } else {
                AddWmfRecordBounds(rec, function, box, anyPoint);
            }
        } catch (const TShortRead&) {
            // A short record adds nothing.
        }
        pos += bytes;
    }
    const double unit = PixelsPerUnit(mapMode);
    if (haveExt) {
        layout.Frame = QRectF(org, ext);
        return PictureSize(ext.width() * unit, ext.height() * unit);
    }
    if (!anyPoint || box.width() <= 0 || box.height() <= 0)
        Invalid();
    layout.Frame = box;
    return PictureSize(box.width() * unit, box.height() * unit);
}

bool IsEmfDrawingRecord(uint32_t type) {
    const auto in = [type](uint32_t first, uint32_t last) { return type >= first && type <= last; };
    return in(Emf::EMR_POLYBEZIER, Emf::EMR_POLYPOLYGON) || type == Emf::EMR_SETPIXELV ||
           in(Emf::EMR_ANGLEARC, Emf::EMR_PIE) || in(Emf::EMR_EXTFLOODFILL, Emf::EMR_POLYDRAW) ||
           in(Emf::EMR_FILLPATH, Emf::EMR_STROKEPATH) || in(Emf::EMR_FILLRGN, Emf::EMR_PAINTRGN) ||
           in(Emf::EMR_BITBLT, Emf::EMR_STRETCHDIBITS) ||
           in(Emf::EMR_EXTTEXTOUTA, Emf::EMR_POLYDRAW16) || type == Emf::EMR_POLYTEXTOUTA ||
           type == Emf::EMR_POLYTEXTOUTW || type == Emf::EMR_SMALLTEXTOUT ||
           type == Emf::EMR_ALPHABLEND || type == Emf::EMR_TRANSPARENTBLT ||
           type == Emf::EMR_GRADIENTFILL;
}

// EMF: the picture frame (0.01 mm) gives the size, (right - left) * 96 / 2540; an empty frame
// falls back to the bounds, which are in pixels of the reference device.
QSize ReadEmf(const TMetaReader& r, TMetaLayout& layout) {
    layout.Kind = TMetafileKind::Emf;
    const qsizetype headerSize = r.U32(4);
    if (headerSize < Emf::MinHeaderSize || !r.Has(0, headerSize))
        Invalid();
    const QRectF bounds =
        QRectF(QPointF(r.I32(8), r.I32(12)), QPointF(r.I32(16), r.I32(20))).normalized();
    const QRectF frame =
        QRectF(QPointF(r.I32(24), r.I32(28)), QPointF(r.I32(32), r.I32(36))).normalized();
    const double devX = r.I32(72), devY = r.I32(76);
    double mmX = r.I32(80), mmY = r.I32(84);
    if (headerSize >= Emf::HeaderSizeWithMicrometers && r.I32(100) > 0 && r.I32(104) > 0) {
        mmX = r.I32(100) / 1000.0;
        mmY = r.I32(104) / 1000.0;
    }
    if (devX > 0 && devY > 0 && mmX > 0 && mmY > 0) {
        layout.DevicePxPerMmX = devX / mmX;
        layout.DevicePxPerMmY = devY / mmY;
    }

    // EMF+ comments without a single drawing record: nothing Velmora can show.
    bool emfPlus = false, drawing = false;
    for (qsizetype pos = headerSize; r.Has(pos, 8);) {
        const uint32_t type = r.U32(pos);
        const qsizetype bytes = r.U32(pos + 4);
        if (bytes < 8 || !r.Has(pos, bytes))
            break;
        if (type == Emf::EMR_GDICOMMENT && bytes >= 16 && r.U32(pos + 12) == Emf::CommentEmfPlus)
            emfPlus = true;
        drawing = drawing || IsEmfDrawingRecord(type);
        if (type == Emf::EMR_EOF || drawing)
            break;
        pos += bytes;
    }
    if (emfPlus && !drawing)
        throw EInvalidGraphic(QStringLiteral(
            "Die Metadatei enthält nur EMF+-Zeichnungen, die Velmora nicht darstellen kann"));

    if (frame.width() > 0 && frame.height() > 0) {
        layout.Frame = QRectF(frame.left() / 100 * layout.DevicePxPerMmX,
                              frame.top() / 100 * layout.DevicePxPerMmY,
                              frame.width() / 100 * layout.DevicePxPerMmX,
                              frame.height() / 100 * layout.DevicePxPerMmY);
        return PictureSize(frame.width() * 96 / 2540, frame.height() * 96 / 2540);
    }
    // The bounds are inclusive device pixels.
    layout.Frame = bounds.adjusted(0, 0, 1, 1);
    return PictureSize(layout.Frame.width() / layout.DevicePxPerMmX * 96 / 25.4,
                       layout.Frame.height() / layout.DevicePxPerMmY * 96 / 25.4);
}

} // namespace

std::optional<TMetafileKind> MetafileKindOf(const QByteArray& bytes) {
    const TMetaReader r(bytes);
    if (r.Has(0, 4) && r.U32(0) == Wmf::PlaceableKey)
        return TMetafileKind::Wmf;
    if (IsEmfHeader(r))
        return TMetafileKind::Emf;
    if (IsStandardWmfHeader(r, 0))
        return TMetafileKind::Wmf;
    return std::nullopt;
}

TMetafile::TMetafile(QByteArray bytes) : m_bytes(std::move(bytes)) {
    const std::optional<TMetafileKind> kind = MetafileKindOf(m_bytes);
    if (!kind)
        Invalid();
    m_kind = *kind;
    const TMetaReader r(m_bytes);
    try {
        m_size = m_kind == TMetafileKind::Wmf ? ReadWmf(r, m_layout) : ReadEmf(r, m_layout);
    } catch (const TShortRead&) {
        Invalid();
    }
    // The frame may run either way (a WMF window with negative extents mirrors), never be empty.
    if (m_layout.Frame.width() == 0 || m_layout.Frame.height() == 0)
        Invalid();
}

void TMetafile::Draw(QPainter& painter, const QRect& target) const {
    if (target.width() == 0 || target.height() == 0)
        return;
    PlayMetafile(painter, QRectF(target), m_bytes, m_layout);
}

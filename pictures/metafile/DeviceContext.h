#pragma once
// The device context of Velmora's metafile player: the drawing state that WMF and EMF records set
// alike (objects, mapping, saved states, clip, path bracket, text settings) and the drawing with
// it through QPainter. The record readers (WmfReader.cpp, EmfReader.cpp) decode their format's
// records and drive it; nothing here knows how a record is laid out.
//
//   DeviceContext.cpp      state: mapping, SaveDC/RestoreDC, clipping, objects, the path bracket
//   DeviceContextDraw.cpp  lines, shapes, regions and bitmaps with the selected pen and brush,
//                          and the path bracket's stroking and filling
//   DeviceContextText.cpp  fonts and text

#include "pictures/metafile/MetaRecords.h"
#include "pictures/metafile/Metafile.h"
#include "pictures/metafile/RecordData.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRawFont>
#include <QTransform>
#include <QVector>
#include <cmath>
#include <cstdint>
#include <set>
#include <unordered_map>
#include <vector>

class QPainter;

namespace MetaPlay {

// Limits that keep a hostile file from costing more than an ordinary one (those used in more
// than one file; the others stand where they are used).
constexpr int MaxTextChars = 1 << 16;          // characters of one text record
constexpr int MaxClipElements = 1 << 13;       // a clip or region more complex becomes its bounds
constexpr qreal MaxDeviceCoordinate = 1 << 22; // beyond, shapes are cut to the device

inline bool Finite(const QTransform& t) {
    return std::isfinite(t.m11()) && std::isfinite(t.m12()) && std::isfinite(t.m21()) &&
           std::isfinite(t.m22()) && std::isfinite(t.dx()) && std::isfinite(t.dy());
}

struct TPenSpec {
    uint32_t Style = Gdi::PS_SOLID;
    qreal Width = 0; // logical units; 0 is one device pixel
    QColor Color = Qt::black;
};

struct TBrushSpec {
    uint32_t Style = Gdi::BS_SOLID;
    QColor Color = Qt::white;
    uint32_t Hatch = 0;
    QImage Pattern;
};

struct TFontSpec {
    int Height = 0; // < 0: em size, > 0: cell height, 0: default
    int Width = 0;
    int Escapement = 0; // tenths of a degree, counter-clockwise
    int Weight = 0;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    uint8_t Charset = Gdi::DEFAULT_CHARSET;
    QString Face;
};

struct TObject {
    enum Type { Empty, Pen, Brush, Font, Palette, Region, Other } Kind = Empty;
    TPenSpec PenSpec;
    TBrushSpec BrushSpec;
    TFontSpec FontSpec;
    QVector<QRgb> Colors;
    QPainterPath Area; // a region's rectangles, logical units
};

// The objects a metafile creates, by index. A WMF's new object takes the lowest free index; an
// EMF names the index itself.
class TObjectTable {
public:
    void Add(TObject object);
    void Put(uint32_t index, TObject object);
    // The object at `index`, or null; with `kind`, only an object of that kind.
    TObject* Find(uint32_t index);
    const TObject* Find(uint32_t index, TObject::Type kind) const;
    void Remove(uint32_t index);

private:
    std::unordered_map<uint32_t, TObject> m_objects;
    std::set<uint32_t> m_free; // indices below m_next that Remove freed
    uint32_t m_next = 0;       // the lowest index Add has not used yet
};

// Sets the entries of `palette` from `start` on, growing it as needed.
void SetPaletteEntries(QVector<QRgb>& palette, int start, const QVector<QRgb>& entries);

// A window or viewport extent scaled by two fractions; a zero denominator leaves it as it is.
QSizeF ScaledExtent(QSizeF extent, qreal xNum, qreal xDen, qreal yNum, qreal yDen);

// What SaveDC keeps and RestoreDC brings back.
struct TState {
    TPenSpec Pen;
    TBrushSpec Brush;
    TFontSpec Font;
    QVector<QRgb> Palette;
    QColor TextColor = Qt::black;
    QColor BkColor = Qt::white;
    uint32_t BkMode = Gdi::OPAQUE;
    uint32_t PolyFill = Gdi::ALTERNATE;
    uint32_t TextAlign = 0;
    uint32_t MapMode = Gdi::MM_TEXT;
    uint32_t Rop2 = Gdi::R2_COPYPEN;
    uint32_t ArcDirection = Emf::AD_COUNTERCLOCKWISE;
    QPointF WindowOrg, ViewportOrg;
    QSizeF WindowExt{1, 1}, ViewportExt{1, 1};
    QTransform World;
    bool Clipped = false;
    QPainterPath Clip; // in the metafile's device space
    QPointF Position;  // logical
};

enum class TArcKind { Arc, Chord, Pie };

class TDeviceContext {
public:
    // Draws into `target` of `painter`, composing the painter's transform and clip; the painter's
    // state is restored when the context ends.
    TDeviceContext(QPainter& painter, const QRectF& target, const TMetaLayout& layout);
    ~TDeviceContext();
    TDeviceContext(const TDeviceContext&) = delete;
    TDeviceContext& operator=(const TDeviceContext&) = delete;

    // --- state -----------------------------------------------------------------------------------
    // Settings a record sets as it stands (colours, modes, window and viewport, position).
    TState& State() { return m_s; }
    TObjectTable& Objects() { return m_objects; }
    // A COLORREF: an RGB value, or an index into the selected palette.
    QColor Colour(uint32_t ref) const;
    void SaveDC();
    // `which` > 0: the state saved as number `which`; < 0: that many states back.
    void RestoreDC(long long which);
    void SelectObject(const TObject& object);
    void SelectStock(uint32_t index);
    // An infinite transform leaves the world transform as it was.
    void ModifyWorldTransform(const QTransform& t, uint32_t mode);

    // --- mapping ---------------------------------------------------------------------------------
    // Window and viewport: logical units (before the world transform) to the metafile's device.
    QTransform Page() const;
    // Logical units to the metafile's device space.
    QTransform Logical() const { return m_s.World * Page(); }
    // Device units per logical unit, the mean of both directions.
    qreal DeviceScale() const { return std::sqrt(std::abs(Logical().determinant())); }

    // --- clipping --------------------------------------------------------------------------------
    // Combines the clip with `path` (device space) by a region mode (RGN_AND, RGN_COPY, ...).
    void CombineClip(const QPainterPath& path, uint32_t mode);
    void CombineClipRect(const QRectF& logical, uint32_t mode);
    void OffsetClip(QPointF logical);
    void ResetClip();

    // --- path bracket ----------------------------------------------------------------------------
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void MoveTo(QPointF logical);
    void FlattenPath();
    void WidenPath();
    // The path becomes (a part of) the clip and is spent.
    void SelectClipPath(uint32_t mode);
    void StrokeFillPath(bool fill, bool stroke);

    // --- drawing (DeviceContextDraw.cpp); inside a path bracket outlines add to the path ---------
    void DrawShape(QPainterPath path, bool fill, bool stroke);
    void PolyLine(const QPolygonF& points, bool fromCurrent, bool closed);
    void PolyBezier(const QPolygonF& points, bool fromCurrent);
    void PolyPolygon(const std::vector<QPolygonF>& polygons, bool closed);
    // Points with their kinds (Emf::PT_MOVETO, PT_LINETO, PT_BEZIERTO, PT_CLOSEFIGURE), one byte
    // each, from the current position on.
    void PolyDraw(const QPolygonF& points, const QByteArray& kinds);
    // Arcs from `start` to `end` on the ellipse in `box`; `arcTo` draws from the current position.
    void ArcShape(const QRectF& box, QPointF start, QPointF end, TArcKind kind, bool arcTo);
    // From the current position, a line to the arc's start, then the arc (degrees).
    void AngleArc(QPointF centre, qreal radius, qreal startAngle, qreal sweep);
    void SetPixel(QPointF at, const QColor& colour);
    // A region's area filled with `brush`: in logical units, or in device units.
    void FillRegion(const QPainterPath& logical, const TBrushSpec& brush);
    void FillDeviceRegion(const QPainterPath& device, const TBrushSpec& brush);
    // `path` in logical units filled with `brush`, whatever brush is selected.
    void FillLogical(const QPainterPath& path, const QBrush& brush);
    // A rectangle filled by a raster operation of the brush and the destination.
    void PatBlt(const QRectF& dest, uint32_t rop);
    // `source` of the bitmap (an empty one: all of it) stretched onto `dest` in logical units.
    void DrawImage(const QRectF& dest, QRectF source, const TDib& dib, uint32_t rop,
                   qreal opacity = 1);

    // --- text (DeviceContextText.cpp) ------------------------------------------------------------
    // `dx`: advances per character in logical units (missing ones: the font's own); `rect`: the
    // opaque or clipping rectangle that `options` name.
    void TextOut(QPointF ref, const QString& text, const QVector<qreal>& dx, uint32_t options,
                 const QRectF* rect);

private:
    void SetHints();
    void ApplyClip();
    QPainterPath DeviceExtent() const;
    QTransform ToPainter() const { return Logical() * m_base; }
    qreal LogicalScale() const { return std::sqrt(std::abs(ToPainter().determinant())); }
    bool Mirrored() const { return Logical().determinant() < 0; }
    Qt::FillRule PolyFillRule() const {
        return m_s.PolyFill == Gdi::WINDING ? Qt::WindingFill : Qt::OddEvenFill;
    }
    void AddToPath(const QPainterPath& logical, bool continueFigure, bool closed);

    QPen MakePen(qreal scale) const;
    QBrush MakeBrush() const;
    bool SetRop(); // false when nothing is to be drawn
    // Draws `path`, in logical units, with the selected pen and brush.
    void DrawLogicalPath(const QPainterPath& path, bool fill, bool stroke);
    void DrawImagePart(const QRectF& dest, const QRectF& source, const QImage& image, uint32_t rop,
                       qreal opacity);

    // A face at TextPixels, with what text layout needs of it; kept for the whole drawing.
    struct TFace {
        QFont Font;
        QRawFont Raw;
        qreal Ascent = 0, Descent = 0, AverageWidth = 0;
    };
    static constexpr int TextPixels = 64;
    const TFace& FaceFor(const TFontSpec& font);
    QFont MakeFont(qreal pixels) const;
    qreal EmSize(const TFace& face) const;

    QPainter& m_p;
    const TMetaLayout& m_layout;
    QTransform m_base; // the metafile's device space to the painter's device
    QRectF m_deviceRect;
    bool m_raster = false;
    bool m_hadClip = false;
    TState m_s;
    std::vector<TState> m_stack;
    TObjectTable m_objects;
    bool m_inPath = false;
    QPainterPath m_path; // device space
    // The path's last figure ends at the current position and is not closed: a record that draws
    // on from there (LineTo, PolyBezierTo, ArcTo...) extends it rather than starting a new one.
    bool m_figureOpen = false;
    qint64 m_clipWork = 0;
    QHash<QString, TFace> m_faces;
};

} // namespace MetaPlay

#include "pictures/metafile/MetaPlayer.h"

#include "layout/Dib.h"
#include "pictures/metafile/MetaReader.h"
#include "pictures/metafile/MetaRecords.h"
#include "platform/Errors.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QImageReader>
#include <QLinearGradient>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRawFont>
#include <QStringDecoder>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <vector>

namespace {

using namespace Gdi;

// Limits that keep a hostile file from costing more than an ordinary one.
constexpr std::size_t MaxSaveDepth = 4096;        // SaveDC nesting kept; deeper saves are lost
constexpr int MaxPathElements = 1 << 20;          // elements of one path bracket
constexpr long long MaxBitmapPixels = 64LL << 20; // one bitmap inside a record
constexpr std::size_t MaxObjects = 1 << 16;       // object table entries
constexpr qreal MaxDeviceCoordinate = 1 << 22;    // beyond, shapes are cut to the device
constexpr int MaxFontPixels = 4000;               // font size in device pixels
constexpr int MaxTextChars = 1 << 16;             // characters of one text record
constexpr uint32_t MaxRegionRects = 1000;         // rectangles of one region kept as such
constexpr int MaxClipElements = 1 << 13;          // a clip more complex becomes its bounds
constexpr qint64 MaxClipWork = 1 << 16;           // path elements combined per drawing

struct TPenSpec {
    uint32_t Style = PS_SOLID;
    qreal Width = 0; // logical units; 0 is one device pixel
    QColor Color = Qt::black;
};

struct TBrushSpec {
    uint32_t Style = BS_SOLID;
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
    uint8_t Charset = DEFAULT_CHARSET;
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

struct TState {
    TPenSpec Pen;
    TBrushSpec Brush;
    TFontSpec Font;
    QVector<QRgb> Palette;
    QColor TextColor = Qt::black;
    QColor BkColor = Qt::white;
    uint32_t BkMode = OPAQUE;
    uint32_t PolyFill = ALTERNATE;
    uint32_t TextAlign = 0;
    uint32_t MapMode = MM_TEXT;
    uint32_t Rop2 = R2_COPYPEN;
    uint32_t ArcDirection = Emf::AD_COUNTERCLOCKWISE;
    QPointF WindowOrg, ViewportOrg;
    QSizeF WindowExt{1, 1}, ViewportExt{1, 1};
    QTransform World;
    bool Clipped = false;
    QPainterPath Clip; // in the metafile's device space
    QPointF Position;  // logical
};

bool Finite(const QTransform& t) {
    return std::isfinite(t.m11()) && std::isfinite(t.m12()) && std::isfinite(t.m21()) &&
           std::isfinite(t.m22()) && std::isfinite(t.dx()) && std::isfinite(t.dy());
}

// Text of a font's character set as Unicode. Western text (the usual case) is Windows-1252.
QString DecodeAnsi(const QByteArray& bytes, uint8_t charset) {
    const char* codec = nullptr;
    switch (charset) {
    case SHIFTJIS_CHARSET:
        codec = "Shift_JIS";
        break;
    case HANGUL_CHARSET:
        codec = "windows-949";
        break;
    case GB2312_CHARSET:
        codec = "GBK";
        break;
    case CHINESEBIG5_CHARSET:
        codec = "Big5";
        break;
    case GREEK_CHARSET:
        codec = "windows-1253";
        break;
    case TURKISH_CHARSET:
        codec = "windows-1254";
        break;
    case HEBREW_CHARSET:
        codec = "windows-1255";
        break;
    case ARABIC_CHARSET:
        codec = "windows-1256";
        break;
    case BALTIC_CHARSET:
        codec = "windows-1257";
        break;
    case RUSSIAN_CHARSET:
        codec = "windows-1251";
        break;
    case THAI_CHARSET:
        codec = "windows-874";
        break;
    case EASTEUROPE_CHARSET:
        codec = "windows-1250";
        break;
    default:
        break;
    }
    if (codec) {
        QStringDecoder decoder(codec);
        if (decoder.isValid())
            return decoder(bytes);
    }
    // Windows-1252: Latin-1 except for the printable characters in 0x80..0x9F; a byte the code
    // page leaves undefined stands for the control character of the same number.
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        const char16_t high = u >= 0x80 && u < 0xA0 ? Gdi::Cp1252High[u - 0x80] : 0;
        text.append(high ? QChar(high) : QChar(u));
    }
    return text;
}

// Size of the information header plus colour table of a DIB that starts at `at` of `r`.
qsizetype DibInfoSize(const TMetaReader& r, qsizetype at, uint32_t usage) {
    const uint32_t headerSize = r.U32(at);
    if (headerSize == 12) {
        const int bits = r.U16(at + 10);
        const qsizetype colours = bits <= 8 ? (qsizetype(1) << bits) : 0;
        return 12 + colours * (usage == DIB_PAL_COLORS ? 2 : 3);
    }
    if (headerSize < 16 || headerSize > 1024)
        throw TShortRead();
    const int bits = r.U16(at + 14);
    const uint32_t compression = r.Has(at, 20) ? r.U32(at + 16) : BI_RGB;
    const uint32_t used = r.Has(at, 36) ? r.U32(at + 32) : 0;
    qsizetype colours =
        used ? qsizetype(std::min<uint32_t>(used, 256)) : (bits <= 8 ? (qsizetype(1) << bits) : 0);
    qsizetype size = headerSize + colours * (usage == DIB_PAL_COLORS ? 2 : 4);
    if (compression == BI_BITFIELDS && headerSize == 40)
        size += 12;
    return size;
}

struct TDib {
    QImage Image;
    bool BottomUp = true;
};

TDib DecodeDibBits(const TMetaReader& info, const TMetaReader& bits, bool alpha);

// Decodes a DIB inside a record: information header and colour table `info`, pixel bits `bits`.
// With `alpha`, 32-bit pixels keep their fourth byte as premultiplied alpha (AlphaBlend).
// The bitmap comes back in a 32-bit format whatever its bits were. Qt's smooth scaling reads a
// pixel past the end of 24-bit and 8-bit grey bitmaps at some scales (measured with Qt 6.4: a
// 4 × 4 bitmap drawn half as wide and five times as high), and it looks colour indexes up in the
// colour table unchecked, while an embedded PNG's (or an inverted bitmap's) indexes may lie
// beyond its table; its 32-bit paths keep to the bitmap.
TDib DecodeDib(const TMetaReader& info, const TMetaReader& bits, bool alpha) {
    TDib dib = DecodeDibBits(info, bits, alpha);
    switch (dib.Image.format()) {
    case QImage::Format_Invalid:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        dib.Image = dib.Image.convertToFormat(dib.Image.hasAlphaChannel()
                                                  ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGB32);
        break;
    }
    return dib;
}

TDib DecodeDibBits(const TMetaReader& info, const TMetaReader& bits, bool alpha) {
    TDib dib;
    const uint32_t headerSize = info.U32(0);
    long long width, height;
    int bitCount;
    uint32_t compression = BI_RGB;
    if (headerSize == 12) {
        width = info.U16(4);
        height = info.U16(6);
        bitCount = info.U16(10);
    } else {
        width = info.I32(4);
        height = info.I32(8);
        bitCount = info.U16(14);
        compression = info.U32(16);
    }
    dib.BottomUp = height > 0;
    height = std::llabs(height);
    if (width <= 0 || height <= 0 || width * height > MaxBitmapPixels)
        return dib;
    // Compressed bits (RLE, JPEG, PNG) may claim far more pixels than they could hold: no
    // encoding packs more than about a thousand pixels into a byte, so a claim beyond that is
    // not decoded (a page's worth of small records would otherwise cost seconds per drawing).
    if (width * height > std::max<long long>(1 << 20, 1100LL * bits.Size()))
        return dib;
    if (compression == BI_JPEG || compression == BI_PNG) {
        QByteArray data(bits.Data(), bits.Size());
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        const QSize size = reader.size();
        const qint64 pixels = qint64(size.width()) * size.height();
        if (!size.isValid() || pixels > MaxBitmapPixels ||
            pixels > std::max<qint64>(1 << 20, 1100LL * data.size()))
            return dib;
        dib.Image = reader.read();
        dib.BottomUp = false;
        return dib;
    }
    if (alpha && bitCount == 32 && (compression == BI_RGB || compression == BI_BITFIELDS)) {
        const qsizetype stride = qsizetype(width) * 4;
        bits.Need(0, stride * height);
        QImage image(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return dib;
        for (int y = 0; y < height; ++y) {
            const int row = dib.BottomUp ? int(height) - 1 - y : y;
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            const qsizetype at = qsizetype(row) * stride;
            for (int x = 0; x < width; ++x) {
                const uint32_t v = bits.U32(at + 4 * qsizetype(x));
                // Premultiplied: no channel may exceed alpha.
                const uint32_t a = v >> 24;
                const uint32_t r = std::min((v >> 16) & 0xFF, a);
                const uint32_t g = std::min((v >> 8) & 0xFF, a);
                const uint32_t b = std::min(v & 0xFF, a);
                out[x] = qRgba(int(r), int(g), int(b), int(a));
            }
        }
        dib.Image = std::move(image);
        return dib;
    }
    // Writers store shorter colour tables than the header implies; the rest reads as black.
    const qsizetype infoSize = std::max(info.Size(), DibInfoSize(info, 0, DIB_RGB_COLORS));
    QByteArray file;
    const qsizetype total = 14 + infoSize + bits.Size();
    file.reserve(total);
    const auto put32 = [&file](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.append(char(v >> (8 * i)));
    };
    file.append("BM", 2);
    put32(uint32_t(total));
    put32(0);
    put32(uint32_t(14 + infoSize));
    file.append(info.Data(), info.Size());
    file.append(QByteArray(infoSize - info.Size(), '\0'));
    file.append(bits.Data(), bits.Size());
    try {
        dib.Image = DecodeBmpFile(file);
    } catch (const EInvalidGraphic&) {
        dib.Image = QImage();
    }
    return dib;
}

class TPlayer {
public:
    TPlayer(QPainter& painter, const QRectF& target, const TMetaLayout& layout)
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
    ~TPlayer() { m_p.restore(); }

    void PlayWmf(const TMetaReader& r);
    void PlayEmf(const TMetaReader& r);

private:
    void SetHints() {
        m_p.setRenderHint(QPainter::Antialiasing, true);
        m_p.setRenderHint(QPainter::TextAntialiasing, true);
        m_p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    }

    // --- mapping ------------------------------------------------------------------------------
    QTransform Page() const;
    // Logical units to the metafile's device space.
    QTransform Logical() const { return m_s.World * Page(); }
    QTransform ToPainter() const { return Logical() * m_base; }
    qreal LogicalScale() const { return std::sqrt(std::abs(ToPainter().determinant())); }
    bool Mirrored() const { return Logical().determinant() < 0; }

    // --- state ----------------------------------------------------------------------------------
    void SaveDC() {
        if (m_stack.size() < MaxSaveDepth)
            m_stack.push_back(m_s);
    }
    void RestoreDC(long long which) {
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
    void ApplyClip() {
        m_p.restore();
        m_p.save();
        SetHints();
        if (!m_s.Clipped)
            return;
        m_p.setWorldTransform(m_base);
        m_p.setClipPath(m_s.Clip, m_hadClip ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    // Combines the clip with `path` (device space) by a region mode.
    void CombineClip(const QPainterPath& given, uint32_t mode) {
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
    // Everything the metafile could reach, in its device space.
    QPainterPath DeviceExtent() const {
        QPainterPath all;
        const QRectF f = m_layout.Frame;
        const qreal big = 4 * std::max({std::abs(f.left()), std::abs(f.right()), std::abs(f.top()),
                                        std::abs(f.bottom()), 1.0});
        all.addRect(QRectF(-big, -big, 2 * big, 2 * big));
        return all;
    }
    void ResetClip() {
        m_s.Clipped = false;
        m_s.Clip = QPainterPath();
        ApplyClip();
    }

    QColor Colour(uint32_t ref) const {
        if ((ref >> 24) == 1 || (ref >> 24) == 2) {
            const uint32_t index = ref & 0xFFFF;
            if (index < uint32_t(m_s.Palette.size()))
                return QColor(m_s.Palette[int(index)]);
        }
        return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
    }

    // --- drawing --------------------------------------------------------------------------------
    QPen MakePen(qreal scale) const;
    QBrush MakeBrush() const;
    bool SetRop(); // false when nothing is to be drawn
    void DrawShape(QPainterPath path, bool fill, bool stroke);
    void DrawLogicalPath(const QPainterPath& path, bool fill, bool stroke);
    void AddToPath(const QPainterPath& logical, bool continueFigure, bool closed);
    void StrokeFillPath(bool fill, bool stroke);
    void PolyLine(const QPolygonF& points, bool fromCurrent, bool closed);
    void PolyBezier(const QPolygonF& points, bool fromCurrent);
    void PolyPolygon(const std::vector<QPolygonF>& polygons, bool closed);
    void ArcShape(const QRectF& box, QPointF start, QPointF end, int kind, bool arcTo);
    void TextOut(QPointF ref, const QString& text, const QVector<qreal>& dx, uint32_t options,
                 const QRectF* rect);
    void DrawImage(const QRectF& dest, QRectF source, const TDib& dib, uint32_t rop,
                   qreal opacity = 1);
    void DrawImagePart(const QRectF& dest, const QRectF& source, const QImage& image, uint32_t rop,
                       qreal opacity);
    void PatBlt(const QRectF& dest, uint32_t rop);
    void FillLogical(const QPainterPath& path, const QBrush& brush);
    void GradientFill(const TMetaReader& rec);
    // A face at TextPixels, with what text layout needs of it; kept for the whole drawing.
    struct TFace {
        QFont Font;
        QRawFont Raw;
        qreal Ascent = 0, Descent = 0, AverageWidth = 0;
    };
    static constexpr int TextPixels = 64;
    const TFace& FaceFor(const TFontSpec& font);
    QFont MakeFont(qreal em) const;
    qreal EmSize(const TFace& face) const;

    // --- records --------------------------------------------------------------------------------
    void WmfRecord(const TMetaReader& rec, uint16_t function);
    void EmfRecord(const TMetaReader& rec, uint32_t type);
    void WmfCreate(TObject object);
    void SelectObject(const TObject& object);
    void SelectStock(uint32_t index);
    void EmfBlt(const TMetaReader& rec, uint32_t type);
    QPainterPath RegionPath(const TMetaReader& data) const;

    QPainter& m_p;
    const TMetaLayout& m_layout;
    QTransform m_base;
    QRectF m_deviceRect;
    bool m_raster = false;
    bool m_hadClip = false;
    TState m_s;
    std::vector<TState> m_stack;
    std::vector<TObject> m_wmfObjects;
    std::unordered_map<uint32_t, TObject> m_emfObjects;
    bool m_inPath = false;
    QPainterPath m_path; // device space
    // The path's last figure ends at the current position and is not closed: a record that draws
    // on from there (LineTo, PolyBezierTo, ArcTo...) extends it rather than starting a new one.
    bool m_figureOpen = false;
    qint64 m_clipWork = 0;
    QHash<QString, TFace> m_faces;
};

QTransform TPlayer::Page() const {
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

QPen TPlayer::MakePen(qreal scale) const {
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

QBrush TPlayer::MakeBrush() const {
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

bool TPlayer::SetRop() {
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

// Draws `path`, given in painter coordinates of ToPainter(), with the current pen and brush.
void TPlayer::DrawLogicalPath(const QPainterPath& path, bool fill, bool stroke) {
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

void TPlayer::DrawShape(QPainterPath path, bool fill, bool stroke) {
    if (m_inPath) {
        AddToPath(path, false, fill);
        return;
    }
    path.setFillRule(m_s.PolyFill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    DrawLogicalPath(path, fill, stroke);
}

// `continueFigure`: `logical` starts at the current position. connectPath joins its start to the
// path's end by a line, which is right only when that is where the last figure stopped; after a
// MoveTo, a CloseFigure or a closed shape every figure stays a subpath of its own.
void TPlayer::AddToPath(const QPainterPath& logical, bool continueFigure, bool closed) {
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

void TPlayer::StrokeFillPath(bool fill, bool stroke) {
    QPainterPath path = fill ? CloseFigures(m_path) : m_path;
    m_path = QPainterPath();
    m_inPath = false;
    m_figureOpen = false;
    path.setFillRule(m_s.PolyFill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
    // The path is in device space; draw it there, with the pen as wide as the mapping makes it.
    const QTransform saved = m_s.World;
    const TState keep = m_s;
    const qreal scale = std::sqrt(std::abs(Logical().determinant()));
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
    m_s.World = saved;
}

void TPlayer::PolyLine(const QPolygonF& points, bool fromCurrent, bool closed) {
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

void TPlayer::PolyBezier(const QPolygonF& points, bool fromCurrent) {
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

void TPlayer::PolyPolygon(const std::vector<QPolygonF>& polygons, bool closed) {
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

// kind: 0 arc, 1 chord, 2 pie.
void TPlayer::ArcShape(const QRectF& rawBox, QPointF start, QPointF end, int kind, bool arcTo) {
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
    } else if (kind == 2) {
        path.moveTo(c);
    } else {
        path.arcMoveTo(box, a0);
    }
    path.arcTo(box, a0, sweep);
    if (kind != 0)
        path.closeSubpath();
    if (arcTo && m_inPath)
        AddToPath(path, true, false);
    else
        DrawShape(path, kind != 0, true);
    if (arcTo)
        m_s.Position = path.currentPosition();
}

qreal TPlayer::EmSize(const TFace& face) const {
    const int h = m_s.Font.Height;
    if (h < 0)
        return -qreal(h);
    if (h > 0) {
        // Cell height: the em is the cell less the internal leading.
        const qreal cell = face.Ascent + face.Descent;
        return cell > 0 ? qreal(h) * TextPixels / cell : h;
    }
    // No height: the reference device's default of 16 pixels.
    const qreal scale = std::sqrt(std::abs(Logical().determinant()));
    return scale > 0 ? 16 / scale : 16;
}

const TPlayer::TFace& TPlayer::FaceFor(const TFontSpec& font) {
    const QString key = font.Face + QLatin1Char('|') + QString::number(font.Weight) +
                        QLatin1Char(font.Italic ? 'i' : 'n');
    auto it = m_faces.find(key);
    if (it != m_faces.end())
        return *it;
    if (m_faces.size() > 256)
        m_faces.clear();
    TFace face;
    face.Font = MakeFont(TextPixels);
    face.Raw = QRawFont::fromFont(face.Font);
    const QFontMetricsF metrics(face.Font);
    face.Ascent = metrics.ascent();
    face.Descent = metrics.descent();
    face.AverageWidth = metrics.averageCharWidth();
    return *m_faces.insert(key, face);
}

QFont TPlayer::MakeFont(qreal pixels) const {
    const TFontSpec& f = m_s.Font;
    QString face = f.Face;
    if (face.isEmpty() || face.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0 ||
        face.compare(QLatin1String("MS Sans Serif"), Qt::CaseInsensitive) == 0)
        face = QStringLiteral("Liberation Sans");
    QFont font(face);
    font.setPixelSize(int(std::clamp<qreal>(std::round(pixels), 1, MaxFontPixels)));
    if (f.Weight > 0)
        font.setWeight(QFont::Weight((std::clamp(f.Weight, 100, 900) + 50) / 100 * 100));
    font.setItalic(f.Italic);
    font.setKerning(false);
    // Metafile text is placed by its own advances at any scale: hinting would only cost time
    // (the TrueType interpreter dominated drawing a page of text) and move glyphs.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void TPlayer::TextOut(QPointF ref, const QString& rawText, const QVector<qreal>& dx,
                      uint32_t options, const QRectF* rect) {
    const QString text = rawText.left(MaxTextChars);
    if (m_inPath || (text.isEmpty() && !(rect && (options & ETO_OPAQUE))))
        return;
    const QTransform logical = ToPainter();
    if (!Finite(logical) || !logical.isInvertible())
        return;
    if (rect && (options & ETO_OPAQUE)) {
        m_p.setWorldTransform(logical);
        m_p.fillRect(rect->normalized(), m_s.BkColor);
    }
    if (text.isEmpty())
        return;
    const TFace& face = FaceFor(m_s.Font);
    const qreal em = EmSize(face);
    if (!(em > 0) || !std::isfinite(em))
        return;
    // Drawing units: the font at TextPixels, k per logical unit. A font width other than the
    // face's own stretches the glyphs, not their places.
    const qreal k = TextPixels / em;
    qreal stretch = 1;
    if (m_s.Font.Width > 0 && face.AverageWidth > 0)
        stretch = std::clamp<qreal>(m_s.Font.Width * k / face.AverageWidth, 0.01, 100);

    QVector<quint32> glyphs;
    bool raw = face.Raw.isValid();
    if (raw) {
        glyphs = face.Raw.glyphIndexesForString(text);
        raw = glyphs.size() == text.size();
        for (int i = 0; raw && i < text.size(); ++i)
            raw = glyphs[i] != 0 || text[i].unicode() < 0x20 || text[i].isLowSurrogate();
    }
    QVector<QPointF> natural;
    if (raw)
        natural = face.Raw.advancesForGlyphIndexes(glyphs);
    const QFontMetricsF metrics(face.Font);
    std::vector<qreal> advances; // drawing units, per character
    advances.reserve(std::size_t(text.size()));
    qreal total = 0;
    for (int i = 0; i < text.size(); ++i) {
        qreal a;
        if (i < dx.size())
            a = dx[i] * k;
        else if (raw)
            a = natural[i].x() * stretch;
        else
            a = metrics.horizontalAdvance(text[i]) * stretch;
        advances.push_back(a);
        total += a;
    }
    const bool updateCp = (m_s.TextAlign & TA_UPDATECP) != 0;
    const QPointF origin = updateCp ? m_s.Position : ref;
    qreal x0 = 0, y0 = 0;
    switch (m_s.TextAlign & TA_HORZ_MASK) {
    case TA_RIGHT:
        x0 = -total;
        break;
    case TA_CENTER:
        x0 = -total / 2;
        break;
    default:
        break;
    }
    switch (m_s.TextAlign & TA_VERT_MASK) {
    case TA_BASELINE:
        break;
    case TA_BOTTOM:
        y0 = -face.Descent;
        break;
    default:
        y0 = face.Ascent;
        break;
    }
    // Text stays upright on the device whatever the mapping: drawing units run right and down as
    // on the device, turned by the escapement.
    const qreal flip = Mirrored() ? -1 : 1;
    const QTransform toLogical = QTransform().rotate(-m_s.Font.Escapement / 10.0) *
                                 QTransform::fromScale(1 / k, flip / k) *
                                 QTransform::fromTranslate(origin.x(), origin.y());
    const QTransform local = toLogical * logical;
    if (!Finite(local))
        return;
    if (updateCp && (m_s.TextAlign & TA_HORZ_MASK) != TA_RIGHT)
        m_s.Position = toLogical.map(QPointF(x0 + total, 0));
    if (!SetRop())
        return;
    m_p.save();
    if (rect && (options & ETO_CLIPPED)) {
        m_p.setWorldTransform(logical);
        m_p.setClipRect(rect->normalized(),
                        m_p.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    }
    m_p.setWorldTransform(local);
    if (m_s.BkMode == OPAQUE && !(rect && (options & ETO_OPAQUE)))
        m_p.fillRect(QRectF(x0, y0 - face.Ascent, total, face.Ascent + face.Descent), m_s.BkColor);
    const QColor colour = m_s.Rop2 == R2_BLACK   ? QColor(Qt::black)
                          : m_s.Rop2 == R2_WHITE ? QColor(Qt::white)
                                                 : m_s.TextColor;
    const QTransform glyphSpace = QTransform::fromScale(stretch, 1) * local;
    // Glyphs far larger than the font size or stretched very unevenly are drawn as outlines: the
    // glyph cache would otherwise render bitmaps of any size the mapping asks for.
    const qreal stretchX = std::hypot(glyphSpace.m11(), glyphSpace.m12());
    const qreal stretchY = std::hypot(glyphSpace.m21(), glyphSpace.m22());
    const qreal largest = std::max(stretchX, stretchY) * TextPixels;
    const qreal smallest = std::min(stretchX, stretchY) * TextPixels;
    const bool outlines = largest > 512 || largest > 4 * smallest ||
                          std::abs(local.dx()) > MaxDeviceCoordinate ||
                          std::abs(local.dy()) > MaxDeviceCoordinate;
    m_p.setWorldTransform(glyphSpace);
    m_p.setPen(colour);
    QPainterPath outline;
    // Glyph runs are the fast way onto a bitmap; a printer or a metafile recorder gets the text
    // itself, so that it stays text there.
    if (raw && m_raster) {
        QVector<QPointF> positions;
        positions.reserve(glyphs.size());
        qreal x = x0;
        for (int i = 0; i < glyphs.size(); ++i) {
            positions.append(QPointF(x / stretch, y0));
            x += advances[std::size_t(i)];
        }
        if (outlines) {
            for (int i = 0; i < glyphs.size(); ++i) {
                QPainterPath glyph = face.Raw.pathForGlyph(glyphs[i]);
                glyph.translate(positions[i]);
                outline.addPath(glyph);
            }
        } else {
            QGlyphRun run;
            run.setRawFont(face.Raw);
            run.setGlyphIndexes(glyphs);
            run.setPositions(positions);
            run.setUnderline(m_s.Font.Underline);
            run.setStrikeOut(m_s.Font.StrikeOut);
            m_p.drawGlyphRun(QPointF(), run);
        }
    } else {
        // Qt's own text drawing, which also finds other fonts for characters the face lacks.
        QFont font = face.Font;
        font.setUnderline(m_s.Font.Underline);
        font.setStrikeOut(m_s.Font.StrikeOut);
        m_p.setFont(font);
        if (dx.isEmpty() && stretch == 1 && !outlines) {
            m_p.drawText(QPointF(x0, y0), text);
            m_p.restore();
            return;
        }
        qreal x = x0;
        for (int i = 0; i < text.size(); ++i) {
            const int n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QPointF at(x / stretch, y0);
            if (outlines)
                outline.addText(at, font, text.mid(i, n));
            else
                m_p.drawText(at, text.mid(i, n));
            for (int j = 0; j < n; ++j)
                x += advances[std::size_t(i + j)];
            i += n - 1;
        }
    }
    if (outlines) {
        const QRectF onDevice = glyphSpace.mapRect(outline.controlPointRect());
        if (std::max({std::abs(onDevice.left()), std::abs(onDevice.right()),
                      std::abs(onDevice.top()), std::abs(onDevice.bottom())}) < MaxDeviceCoordinate)
            m_p.fillPath(outline, colour);
    }
    m_p.restore();
}

void TPlayer::DrawImage(const QRectF& dest, QRectF source, const TDib& dib, uint32_t rop,
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

void TPlayer::DrawImagePart(const QRectF& dest, const QRectF& source, const QImage& image,
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

void TPlayer::PatBlt(const QRectF& dest, uint32_t rop) {
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

void TPlayer::FillLogical(const QPainterPath& path, const QBrush& brush) {
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

// Rectangles shaded from one corner's colour to the other's, horizontally or vertically;
// triangles are filled with the mean of their corners' colours.
void TPlayer::GradientFill(const TMetaReader& rec) {
    const uint32_t vertices = rec.U32(24), count = rec.U32(28), mode = rec.U32(32);
    rec.Need(36, qsizetype(vertices) * 16);
    const auto point = [&](uint32_t i) {
        const qsizetype at = 36 + 16 * qsizetype(i);
        return QPointF(rec.I32(at), rec.I32(at + 4));
    };
    const auto colour = [&](uint32_t i) {
        const qsizetype at = 36 + 16 * qsizetype(i);
        return QColor(rec.U16(at + 8) >> 8, rec.U16(at + 10) >> 8, rec.U16(at + 12) >> 8);
    };
    qsizetype at = 36 + qsizetype(vertices) * 16;
    const qsizetype size = mode == Emf::GRADIENT_FILL_TRIANGLE ? 12 : 8;
    rec.Need(at, qsizetype(count) * size);
    for (uint32_t k = 0; k < count; ++k, at += size) {
        QPainterPath path;
        if (mode == Emf::GRADIENT_FILL_TRIANGLE) {
            const uint32_t a = rec.U32(at), b = rec.U32(at + 4), c = rec.U32(at + 8);
            if (a >= vertices || b >= vertices || c >= vertices)
                continue;
            path.addPolygon(QPolygonF{point(a), point(b), point(c)});
            const QColor ca = colour(a), cb = colour(b), cc = colour(c);
            FillLogical(path, QColor((ca.red() + cb.red() + cc.red()) / 3,
                                     (ca.green() + cb.green() + cc.green()) / 3,
                                     (ca.blue() + cb.blue() + cc.blue()) / 3));
            continue;
        }
        const uint32_t ul = rec.U32(at), lr = rec.U32(at + 4);
        if (ul >= vertices || lr >= vertices)
            continue;
        const QPointF p = point(ul), q = point(lr);
        path.addRect(QRectF(p, q).normalized());
        QLinearGradient gradient(p, mode == Emf::GRADIENT_FILL_RECT_H ? QPointF(q.x(), p.y())
                                                                      : QPointF(p.x(), q.y()));
        gradient.setColorAt(0, colour(ul));
        gradient.setColorAt(1, colour(lr));
        FillLogical(path, gradient);
    }
}

void TPlayer::SelectObject(const TObject& object) {
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

void TPlayer::SelectStock(uint32_t index) {
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

// A region's rectangles (RGNDATA: 32-byte header, then the rectangles), as a path.
QPainterPath TPlayer::RegionPath(const TMetaReader& data) const {
    QPainterPath path;
    const uint32_t count = data.U32(8);
    const qsizetype header = data.U32(0) >= 32 ? qsizetype(data.U32(0)) : 32;
    if (!data.Has(header, qsizetype(count) * 16))
        throw TShortRead();
    if (count > MaxRegionRects) { // its bounding rectangle stands for it
        path.addRect(
            QRectF(QPointF(data.I32(16), data.I32(20)), QPointF(data.I32(24), data.I32(28))));
        return path;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const qsizetype at = header + qsizetype(i) * 16;
        path.addRect(QRectF(QPointF(data.I32(at), data.I32(at + 4)),
                            QPointF(data.I32(at + 8), data.I32(at + 12))));
    }
    return path;
}

void TPlayer::WmfCreate(TObject object) {
    for (TObject& slot : m_wmfObjects) {
        if (slot.Kind == TObject::Empty) {
            slot = std::move(object);
            return;
        }
    }
    if (m_wmfObjects.size() < MaxObjects)
        m_wmfObjects.push_back(std::move(object));
}

// ---------------------------------------------------------------------------------------------
// WMF

TPenSpec WmfPen(const TMetaReader& rec) {
    return TPenSpec{rec.U16(6), qreal(std::abs(rec.I16(8))), QColor()};
}

TFontSpec ReadFont16(const TMetaReader& rec, qsizetype at) {
    TFontSpec f;
    f.Height = rec.I16(at);
    f.Width = std::abs(rec.I16(at + 2));
    f.Escapement = rec.I16(at + 4);
    f.Weight = rec.I16(at + 8);
    f.Italic = rec.U8(at + 10) != 0;
    f.Underline = rec.U8(at + 11) != 0;
    f.StrikeOut = rec.U8(at + 12) != 0;
    f.Charset = rec.U8(at + 13);
    QByteArray face;
    for (qsizetype i = at + 18; i < at + 18 + LF_FACESIZE && rec.Has(i, 1) && rec.U8(i); ++i)
        face.append(char(rec.U8(i)));
    f.Face = DecodeAnsi(face, f.Charset);
    return f;
}

void TPlayer::PlayWmf(const TMetaReader& r) {
    qsizetype pos = m_layout.Placeable ? Wmf::PlaceableHeaderSize : 0;
    pos += qsizetype(r.U16(pos + 2)) * 2;
    while (r.Has(pos, 6)) {
        const qsizetype bytes = qsizetype(r.U32(pos)) * 2;
        const uint16_t function = r.U16(pos + 4);
        if (function == Wmf::META_EOF || bytes < 6)
            break;
        // A record claiming more than is there gets what is there: its reads fail alone.
        const TMetaReader rec = r.Sub(pos, std::min(bytes, r.Size() - pos));
        try {
            WmfRecord(rec, function);
        } catch (const TShortRead&) {
            // Damaged record: skipped.
        }
        if (bytes > r.Size() - pos)
            break;
        pos += bytes;
    }
}

void TPlayer::WmfRecord(const TMetaReader& rec, uint16_t function) {
    const auto w = [&rec](int i) { return rec.I16(6 + 2 * qsizetype(i)); };
    const auto pt = [&rec](qsizetype at) { return QPointF(rec.I16(at), rec.I16(at + 2)); };
    const auto rect4 = [&](int first) { // left, top, right, bottom stored reversed
        return QRectF(QPointF(w(first + 3), w(first + 2)), QPointF(w(first + 1), w(first)));
    };
    switch (function) {
    case Wmf::META_SAVEDC:
        SaveDC();
        break;
    case Wmf::META_RESTOREDC:
        RestoreDC(w(0));
        break;
    case Wmf::META_SETBKCOLOR:
        m_s.BkColor = Colour(rec.U32(6));
        break;
    case Wmf::META_SETTEXTCOLOR:
        m_s.TextColor = Colour(rec.U32(6));
        break;
    case Wmf::META_SETBKMODE:
        m_s.BkMode = rec.U16(6);
        break;
    case Wmf::META_SETMAPMODE:
        m_s.MapMode = rec.U16(6);
        break;
    case Wmf::META_SETROP2:
        m_s.Rop2 = rec.U16(6);
        break;
    case Wmf::META_SETPOLYFILLMODE:
        m_s.PolyFill = rec.U16(6);
        break;
    case Wmf::META_SETTEXTALIGN:
        m_s.TextAlign = rec.U16(6);
        break;
    case Wmf::META_SETWINDOWORG:
        m_s.WindowOrg = QPointF(w(1), w(0));
        break;
    case Wmf::META_SETWINDOWEXT:
        m_s.WindowExt = QSizeF(w(1), w(0));
        break;
    case Wmf::META_OFFSETWINDOWORG:
        m_s.WindowOrg += QPointF(w(1), w(0));
        break;
    case Wmf::META_SCALEWINDOWEXT:
        if (w(0) != 0 && w(2) != 0)
            m_s.WindowExt =
                QSizeF(m_s.WindowExt.width() * w(3) / w(2), m_s.WindowExt.height() * w(1) / w(0));
        break;
    case Wmf::META_MOVETO:
        m_s.Position = QPointF(w(1), w(0));
        break;
    case Wmf::META_LINETO: {
        const QPointF to(w(1), w(0));
        PolyLine(QPolygonF{to}, true, false);
        break;
    }
    case Wmf::META_RECTANGLE: {
        QPainterPath path;
        path.addRect(rect4(0).normalized());
        DrawShape(path, true, true);
        break;
    }
    case Wmf::META_ELLIPSE: {
        QPainterPath path;
        path.addEllipse(rect4(0).normalized());
        DrawShape(path, true, true);
        break;
    }
    case Wmf::META_ROUNDRECT: {
        QPainterPath path;
        path.addRoundedRect(rect4(2).normalized(), std::abs(w(1)) / 2.0, std::abs(w(0)) / 2.0);
        DrawShape(path, true, true);
        break;
    }
    case Wmf::META_ARC:
    case Wmf::META_CHORD:
    case Wmf::META_PIE:
        ArcShape(rect4(4), QPointF(w(3), w(2)), QPointF(w(1), w(0)),
                 function == Wmf::META_ARC     ? 0
                 : function == Wmf::META_CHORD ? 1
                                               : 2,
                 false);
        break;
    case Wmf::META_POLYGON:
    case Wmf::META_POLYLINE: {
        const int n = rec.I16(6);
        rec.Need(8, qsizetype(std::max(n, 0)) * 4);
        QPolygonF points;
        points.reserve(n);
        for (int i = 0; i < n; ++i)
            points.append(pt(8 + 4 * qsizetype(i)));
        PolyLine(points, false, function == Wmf::META_POLYGON);
        break;
    }
    case Wmf::META_POLYPOLYGON: {
        const int count = rec.U16(6);
        rec.Need(8, qsizetype(count) * 2);
        std::vector<QPolygonF> polygons;
        qsizetype at = 8 + qsizetype(count) * 2;
        for (int i = 0; i < count; ++i) {
            const int n = rec.U16(8 + 2 * qsizetype(i));
            rec.Need(at, qsizetype(n) * 4);
            QPolygonF polygon;
            polygon.reserve(n);
            for (int j = 0; j < n; ++j, at += 4)
                polygon.append(pt(at));
            polygons.push_back(std::move(polygon));
        }
        PolyPolygon(polygons, true);
        break;
    }
    case Wmf::META_SETPIXEL: {
        QPainterPath path;
        path.addRect(QRectF(w(3), w(2), 1, 1));
        const TBrushSpec brush = m_s.Brush;
        m_s.Brush = TBrushSpec{BS_SOLID, Colour(rec.U32(6)), 0, QImage()};
        DrawShape(path, true, false);
        m_s.Brush = brush;
        break;
    }
    case Wmf::META_TEXTOUT: {
        const int n = rec.U16(6);
        const qsizetype padded = (n + 1) / 2 * 2;
        const QByteArray bytes = rec.Bytes(8, n);
        const QPointF at(rec.I16(8 + padded + 2), rec.I16(8 + padded));
        TextOut(at, DecodeAnsi(bytes, m_s.Font.Charset), {}, 0, nullptr);
        break;
    }
    case Wmf::META_EXTTEXTOUT: {
        const QPointF at(w(1), w(0));
        const int n = rec.U16(10);
        const uint16_t options = rec.U16(12);
        qsizetype p = 14;
        QRectF clip;
        const bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
        if (hasRect) {
            clip = QRectF(QPointF(rec.I16(14), rec.I16(16)), QPointF(rec.I16(18), rec.I16(20)));
            p += 8;
        }
        const QByteArray bytes = rec.Bytes(p, n);
        p += (n + 1) / 2 * 2;
        QVector<qreal> dx;
        if (rec.Has(p, qsizetype(n) * 2)) {
            dx.reserve(n);
            for (int i = 0; i < n; ++i)
                dx.append(rec.I16(p + 2 * qsizetype(i)));
        }
        TextOut(at, DecodeAnsi(bytes, m_s.Font.Charset), dx, options, hasRect ? &clip : nullptr);
        break;
    }
    case Wmf::META_INTERSECTCLIPRECT:
    case Wmf::META_EXCLUDECLIPRECT: {
        QPainterPath path;
        path.addRect(rect4(0).normalized());
        CombineClip(Logical().map(path),
                    function == Wmf::META_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
    }
    case Wmf::META_OFFSETCLIPRGN:
        if (m_s.Clipped) {
            const QPointF d = Logical().map(QPointF(w(1), w(0))) - Logical().map(QPointF());
            m_s.Clip.translate(d);
            ApplyClip();
        }
        break;
    case Wmf::META_SELECTCLIPREGION: {
        // Selecting no region (or one that is not there) lifts the clip.
        const uint16_t index = rec.U16(6);
        if (index < m_wmfObjects.size() && m_wmfObjects[index].Kind == TObject::Region)
            CombineClip(Logical().map(m_wmfObjects[index].Area), RGN_COPY);
        else
            ResetClip();
        break;
    }
    case Wmf::META_FILLREGION:
    case Wmf::META_PAINTREGION: {
        const uint16_t index = rec.U16(6);
        if (index >= m_wmfObjects.size() || m_wmfObjects[index].Kind != TObject::Region)
            break;
        const TBrushSpec brush = m_s.Brush;
        if (function == Wmf::META_FILLREGION) {
            const uint16_t brushIndex = rec.U16(8);
            if (brushIndex >= m_wmfObjects.size() ||
                m_wmfObjects[brushIndex].Kind != TObject::Brush)
                break;
            m_s.Brush = m_wmfObjects[brushIndex].BrushSpec;
        }
        DrawLogicalPath(m_wmfObjects[index].Area, true, false);
        m_s.Brush = brush;
        break;
    }
    case Wmf::META_CREATEPENINDIRECT: {
        TObject o;
        o.Kind = TObject::Pen;
        o.PenSpec = WmfPen(rec);
        o.PenSpec.Color = Colour(rec.U32(12));
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_CREATEBRUSHINDIRECT: {
        TObject o;
        o.Kind = TObject::Brush;
        o.BrushSpec = TBrushSpec{rec.U16(6), Colour(rec.U32(8)), rec.U16(12), QImage()};
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_CREATEFONTINDIRECT: {
        TObject o;
        o.Kind = TObject::Font;
        o.FontSpec = ReadFont16(rec, 6);
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_CREATEPALETTE: {
        TObject o;
        o.Kind = TObject::Palette;
        const int n = rec.U16(8);
        rec.Need(10, qsizetype(n) * 4);
        for (int i = 0; i < n; ++i) {
            const qsizetype at = 10 + 4 * qsizetype(i);
            o.Colors.append(qRgb(rec.U8(at), rec.U8(at + 1), rec.U8(at + 2)));
        }
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_DIBCREATEPATTERNBRUSH: {
        TObject o;
        o.Kind = TObject::Brush;
        o.BrushSpec.Style = BS_DIBPATTERN;
        try {
            const TMetaReader dib = rec.Sub(10, rec.Size() - 10);
            const qsizetype info = DibInfoSize(dib, 0, rec.U16(8));
            o.BrushSpec.Pattern =
                DecodeDib(dib.Sub(0, info), dib.Sub(info, dib.Size() - info), false).Image;
        } catch (const TShortRead&) {
            // The slot is taken even when the pattern cannot be read.
        }
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_CREATEPATTERNBRUSH: {
        // Device-dependent bitmaps are not read: a grey brush holds the slot.
        TObject o;
        o.Kind = TObject::Brush;
        o.BrushSpec = TBrushSpec{BS_SOLID, Qt::gray, 0, QImage()};
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_CREATEREGION: {
        // Scans (count, top, bottom, count / 2 pairs of left and right, count again) after a
        // 22-byte header; the slot is taken even when they cannot be read.
        TObject o;
        o.Kind = TObject::Region;
        try {
            const int scans = rec.I16(16);
            qsizetype at = 28;
            for (int i = 0; i < scans; ++i) {
                const int count = rec.U16(at);
                const int top = rec.I16(at + 2), bottom = rec.I16(at + 4);
                rec.Need(at + 6, qsizetype(count) * 2 + 2);
                for (int j = 0; j + 1 < count && o.Area.elementCount() < MaxClipElements; j += 2) {
                    const int left = rec.I16(at + 6 + 2 * j), right = rec.I16(at + 8 + 2 * j);
                    o.Area.addRect(QRectF(QPointF(left, top), QPointF(right, bottom)));
                }
                at += 6 + qsizetype(count) * 2 + 2;
            }
            if (scans == 0) // an empty list of scans: the bounding rectangle
                o.Area.addRect(
                    QRectF(QPointF(rec.I16(20), rec.I16(22)), QPointF(rec.I16(24), rec.I16(26))));
        } catch (const TShortRead&) {
            o.Area = QPainterPath();
        }
        WmfCreate(std::move(o));
        break;
    }
    case Wmf::META_SELECTOBJECT:
    case Wmf::META_SELECTPALETTE: {
        const uint16_t index = rec.U16(6);
        if (index < m_wmfObjects.size())
            SelectObject(m_wmfObjects[index]);
        break;
    }
    case Wmf::META_DELETEOBJECT: {
        const uint16_t index = rec.U16(6);
        if (index < m_wmfObjects.size())
            m_wmfObjects[index] = TObject();
        break;
    }
    case Wmf::META_SETPALENTRIES: {
        const int start = rec.U16(6), n = rec.U16(8);
        rec.Need(10, qsizetype(n) * 4);
        if (start + n <= 1024) {
            if (m_s.Palette.size() < start + n)
                m_s.Palette.resize(start + n);
            for (int i = 0; i < n; ++i) {
                const qsizetype at = 10 + 4 * qsizetype(i);
                m_s.Palette[start + i] = qRgb(rec.U8(at), rec.U8(at + 1), rec.U8(at + 2));
            }
        }
        break;
    }
    case Wmf::META_PATBLT:
        PatBlt(QRectF(w(5), w(4), w(3), w(2)), rec.U32(6));
        break;
    case Wmf::META_STRETCHDIB: {
        const uint32_t rop = rec.U32(6);
        const uint16_t usage = rec.U16(10);
        const TMetaReader dib = rec.Sub(28, rec.Size() - 28);
        const qsizetype info = DibInfoSize(dib, 0, usage);
        DrawImage(QRectF(w(10), w(9), w(8), w(7)), QRectF(w(6), w(5), w(4), w(3)),
                  DecodeDib(dib.Sub(0, info), dib.Sub(info, dib.Size() - info), false), rop);
        break;
    }
    case Wmf::META_DIBSTRETCHBLT:
    case Wmf::META_STRETCHBLT: {
        const uint32_t rop = rec.U32(6);
        if (rec.Size() <= 28) { // no bitmap: a pattern blit
            PatBlt(QRectF(w(10), w(9), w(8), w(7)), rop);
            break;
        }
        if (function == Wmf::META_STRETCHBLT)
            break; // device-dependent bitmaps are not drawn
        const TMetaReader dib = rec.Sub(26, rec.Size() - 26);
        const qsizetype info = DibInfoSize(dib, 0, DIB_RGB_COLORS);
        DrawImage(QRectF(w(9), w(8), w(7), w(6)), QRectF(w(5), w(4), w(3), w(2)),
                  DecodeDib(dib.Sub(0, info), dib.Sub(info, dib.Size() - info), false), rop);
        break;
    }
    case Wmf::META_DIBBITBLT:
    case Wmf::META_BITBLT: {
        const uint32_t rop = rec.U32(6);
        if (rec.Size() <= 24) {
            PatBlt(QRectF(w(8), w(7), w(6), w(5)), rop);
            break;
        }
        if (function == Wmf::META_BITBLT)
            break;
        const TMetaReader dib = rec.Sub(22, rec.Size() - 22);
        const qsizetype info = DibInfoSize(dib, 0, DIB_RGB_COLORS);
        DrawImage(QRectF(w(7), w(6), w(5), w(4)), QRectF(w(3), w(2), w(5), w(4)),
                  DecodeDib(dib.Sub(0, info), dib.Sub(info, dib.Size() - info), false), rop);
        break;
    }
    case Wmf::META_SETDIBTODEV: {
        const uint16_t usage = rec.U16(6);
        const TMetaReader dib = rec.Sub(24, rec.Size() - 24);
        const qsizetype info = DibInfoSize(dib, 0, usage);
        DrawImage(QRectF(w(8), w(7), w(6), w(5)), QRectF(w(4), w(3), w(6), w(5)),
                  DecodeDib(dib.Sub(0, info), dib.Sub(info, dib.Size() - info), false), SRCCOPY);
        break;
    }
    default:
        break; // escapes, palettes' animation, regions' painting and the rest: skipped
    }
}

// ---------------------------------------------------------------------------------------------
// EMF

QPolygonF EmfPoints(const TMetaReader& rec, qsizetype at, uint32_t count, bool shortPoints) {
    const qsizetype size = shortPoints ? 4 : 8;
    rec.Need(at, qsizetype(count) * size);
    QPolygonF points;
    points.reserve(int(count));
    for (uint32_t i = 0; i < count; ++i, at += size)
        points.append(shortPoints ? QPointF(rec.I16(at), rec.I16(at + 2))
                                  : QPointF(rec.I32(at), rec.I32(at + 4)));
    return points;
}

QRectF EmfRect(const TMetaReader& rec, qsizetype at) {
    return QRectF(QPointF(rec.I32(at), rec.I32(at + 4)),
                  QPointF(rec.I32(at + 8), rec.I32(at + 12)));
}

QTransform EmfXform(const TMetaReader& rec, qsizetype at) {
    return QTransform(rec.F32(at), rec.F32(at + 4), rec.F32(at + 8), rec.F32(at + 12),
                      rec.F32(at + 16), rec.F32(at + 20));
}

void TPlayer::PlayEmf(const TMetaReader& r) {
    qsizetype pos = 0;
    while (r.Has(pos, 8)) {
        const uint32_t type = r.U32(pos);
        const qsizetype bytes = r.U32(pos + 4);
        if (bytes < 8)
            break;
        const TMetaReader rec = r.Sub(pos, std::min(bytes, r.Size() - pos));
        if (type == Emf::EMR_EOF)
            break;
        try {
            EmfRecord(rec, type);
        } catch (const TShortRead&) {
            // Damaged record: skipped.
        }
        if (bytes > r.Size() - pos)
            break;
        pos += bytes;
    }
}

void TPlayer::EmfBlt(const TMetaReader& rec, uint32_t type) {
    const QRectF dest(rec.I32(24), rec.I32(28), rec.I32(32), rec.I32(36));
    const uint32_t rop = rec.U32(40);
    const QPointF src(rec.I32(44), rec.I32(48));
    const QTransform srcXform = EmfXform(rec, 52);
    const uint32_t usage = rec.U32(80);
    const qsizetype offBmi = rec.U32(84), cbBmi = rec.U32(88);
    const qsizetype offBits = rec.U32(92), cbBits = rec.U32(96);
    // A BitBlt record carries the bitmap of its source area: all of it fills the destination.
    // The stretching records name their source rectangle in the bitmap.
    QRectF source;
    if (type != Emf::EMR_BITBLT && type != Emf::EMR_MASKBLT)
        source = QRectF(src, QSizeF(rec.I32(100), rec.I32(104)));
    Q_UNUSED(srcXform)
    if (cbBmi == 0 || cbBits == 0) {
        if (type == Emf::EMR_BITBLT || type == Emf::EMR_STRETCHBLT)
            PatBlt(dest, rop);
        return;
    }
    Q_UNUSED(usage)
    if (type == Emf::EMR_MASKBLT) {
        // The mask's set bits take the source (the foreground operation, the low three bytes
        // of the code); where they are clear the destination stays.
        TDib dib = DecodeDib(rec.Sub(offBmi, cbBmi), rec.Sub(offBits, cbBits), false);
        const qsizetype cbMaskBmi = rec.U32(116), cbMaskBits = rec.U32(124);
        if (!dib.Image.isNull() && cbMaskBmi && cbMaskBits) {
            const TDib mask = DecodeDib(rec.Sub(rec.U32(112), cbMaskBmi),
                                        rec.Sub(rec.U32(120), cbMaskBits), false);
            if (!mask.Image.isNull()) {
                QImage image = dib.Image.convertToFormat(QImage::Format_ARGB32);
                image.setAlphaChannel(
                    mask.Image.convertToFormat(QImage::Format_Grayscale8).scaled(image.size()));
                dib.Image = image;
            }
        }
        DrawImage(dest, source, dib, rop & 0x00FFFFFF);
        return;
    }
    const bool alpha = type == Emf::EMR_ALPHABLEND && (rec.U8(43) & Emf::AC_SRC_ALPHA);
    TDib dib = DecodeDib(rec.Sub(offBmi, cbBmi), rec.Sub(offBits, cbBits), alpha);
    qreal opacity = 1;
    uint32_t drawRop = rop;
    if (type == Emf::EMR_ALPHABLEND) {
        opacity = rec.U8(42) / 255.0;
        drawRop = SRCCOPY;
    } else if (type == Emf::EMR_TRANSPARENTBLT && !dib.Image.isNull()) {
        const QColor key = Colour(rop);
        QImage image = dib.Image.convertToFormat(QImage::Format_ARGB32);
        const QImage mask = image.createMaskFromColor(key.rgb(), Qt::MaskOutColor);
        image.setAlphaChannel(mask.convertToFormat(QImage::Format_Grayscale8));
        dib.Image = image;
        drawRop = SRCCOPY;
    }
    DrawImage(dest, source, dib, drawRop, opacity);
}

void TPlayer::EmfRecord(const TMetaReader& rec, uint32_t type) {
    const auto point = [&rec](qsizetype at) { return QPointF(rec.I32(at), rec.I32(at + 4)); };
    switch (type) {
    case Emf::EMR_HEADER:
        break;
    case Emf::EMR_POLYBEZIER:
    case Emf::EMR_POLYBEZIER16:
        PolyBezier(EmfPoints(rec, 28, rec.U32(24), type == Emf::EMR_POLYBEZIER16), false);
        break;
    case Emf::EMR_POLYBEZIERTO:
    case Emf::EMR_POLYBEZIERTO16:
        PolyBezier(EmfPoints(rec, 28, rec.U32(24), type == Emf::EMR_POLYBEZIERTO16), true);
        break;
    case Emf::EMR_POLYGON:
    case Emf::EMR_POLYGON16:
    case Emf::EMR_POLYLINE:
    case Emf::EMR_POLYLINE16:
        PolyLine(EmfPoints(rec, 28, rec.U32(24),
                           type == Emf::EMR_POLYGON16 || type == Emf::EMR_POLYLINE16),
                 false, type == Emf::EMR_POLYGON || type == Emf::EMR_POLYGON16);
        break;
    case Emf::EMR_POLYLINETO:
    case Emf::EMR_POLYLINETO16:
        PolyLine(EmfPoints(rec, 28, rec.U32(24), type == Emf::EMR_POLYLINETO16), true, false);
        break;
    case Emf::EMR_POLYPOLYLINE:
    case Emf::EMR_POLYPOLYGON:
    case Emf::EMR_POLYPOLYLINE16:
    case Emf::EMR_POLYPOLYGON16: {
        const bool shortPoints = type == Emf::EMR_POLYPOLYLINE16 || type == Emf::EMR_POLYPOLYGON16;
        const uint32_t count = rec.U32(24);
        rec.Need(32, qsizetype(count) * 4);
        qsizetype at = 32 + qsizetype(count) * 4;
        std::vector<QPolygonF> polygons;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t n = rec.U32(32 + 4 * qsizetype(i));
            QPolygonF polygon = EmfPoints(rec, at, n, shortPoints);
            at += qsizetype(n) * (shortPoints ? 4 : 8);
            polygons.push_back(std::move(polygon));
        }
        const bool closed = type == Emf::EMR_POLYPOLYGON || type == Emf::EMR_POLYPOLYGON16;
        if (m_inPath || closed) {
            PolyPolygon(polygons, closed);
        } else {
            for (const QPolygonF& polygon : polygons)
                PolyLine(polygon, false, false);
        }
        break;
    }
    case Emf::EMR_POLYDRAW:
    case Emf::EMR_POLYDRAW16: {
        const bool shortPoints = type == Emf::EMR_POLYDRAW16;
        const uint32_t count = rec.U32(24);
        const QPolygonF points = EmfPoints(rec, 28, count, shortPoints);
        const qsizetype types = 28 + qsizetype(count) * (shortPoints ? 4 : 8);
        rec.Need(types, count);
        QPainterPath path;
        path.moveTo(m_s.Position);
        bool closedAtEnd = false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t t = rec.U8(types + i);
            const QPointF& p = points[int(i)];
            if ((t & Emf::PT_MOVETO) == Emf::PT_MOVETO) {
                path.moveTo(p);
            } else if (t & Emf::PT_BEZIERTO) {
                if (i + 2 < count) {
                    path.cubicTo(p, points[int(i + 1)], points[int(i + 2)]);
                    i += 2;
                }
            } else {
                path.lineTo(p);
            }
            closedAtEnd = (t & Emf::PT_CLOSEFIGURE) != 0;
            if (closedAtEnd)
                path.closeSubpath();
        }
        m_s.Position = path.currentPosition();
        // Points before the first MoveTo draw on from the current position.
        if (m_inPath)
            AddToPath(path, count > 0 && (rec.U8(types) & Emf::PT_MOVETO) != Emf::PT_MOVETO,
                      closedAtEnd);
        else
            DrawShape(path, false, true);
        break;
    }
    case Emf::EMR_SETWINDOWEXTEX:
        m_s.WindowExt = QSizeF(rec.I32(8), rec.I32(12));
        break;
    case Emf::EMR_SETWINDOWORGEX:
        m_s.WindowOrg = point(8);
        break;
    case Emf::EMR_SETVIEWPORTEXTEX:
        m_s.ViewportExt = QSizeF(rec.I32(8), rec.I32(12));
        break;
    case Emf::EMR_SETVIEWPORTORGEX:
        m_s.ViewportOrg = point(8);
        break;
    case Emf::EMR_SCALEVIEWPORTEXTEX:
    case Emf::EMR_SCALEWINDOWEXTEX: {
        const int xNum = rec.I32(8), xDen = rec.I32(12), yNum = rec.I32(16), yDen = rec.I32(20);
        if (xDen == 0 || yDen == 0)
            break;
        QSizeF& ext = type == Emf::EMR_SCALEWINDOWEXTEX ? m_s.WindowExt : m_s.ViewportExt;
        ext = QSizeF(ext.width() * xNum / xDen, ext.height() * yNum / yDen);
        break;
    }
    case Emf::EMR_SETPIXELV: {
        QPainterPath path;
        path.addRect(QRectF(point(8), QSizeF(1, 1)));
        const TBrushSpec brush = m_s.Brush;
        m_s.Brush = TBrushSpec{BS_SOLID, Colour(rec.U32(16)), 0, QImage()};
        DrawShape(path, true, false);
        m_s.Brush = brush;
        break;
    }
    case Emf::EMR_SETMAPMODE:
        m_s.MapMode = rec.U32(8);
        break;
    case Emf::EMR_SETBKMODE:
        m_s.BkMode = rec.U32(8);
        break;
    case Emf::EMR_SETPOLYFILLMODE:
        m_s.PolyFill = rec.U32(8);
        break;
    case Emf::EMR_SETROP2:
        m_s.Rop2 = rec.U32(8);
        break;
    case Emf::EMR_SETTEXTALIGN:
        m_s.TextAlign = rec.U32(8);
        break;
    case Emf::EMR_SETTEXTCOLOR:
        m_s.TextColor = Colour(rec.U32(8));
        break;
    case Emf::EMR_SETBKCOLOR:
        m_s.BkColor = Colour(rec.U32(8));
        break;
    case Emf::EMR_SETARCDIRECTION:
        m_s.ArcDirection = rec.U32(8);
        break;
    case Emf::EMR_OFFSETCLIPRGN:
        if (m_s.Clipped) {
            const QPointF d = Logical().map(point(8)) - Logical().map(QPointF());
            m_s.Clip.translate(d);
            ApplyClip();
        }
        break;
    case Emf::EMR_MOVETOEX:
        m_s.Position = point(8);
        m_figureOpen = false;
        break;
    case Emf::EMR_LINETO:
        PolyLine(QPolygonF{point(8)}, true, false);
        break;
    case Emf::EMR_EXCLUDECLIPRECT:
    case Emf::EMR_INTERSECTCLIPRECT: {
        QPainterPath path;
        path.addRect(EmfRect(rec, 8).normalized());
        CombineClip(Logical().map(path), type == Emf::EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
    }
    case Emf::EMR_EXTSELECTCLIPRGN: {
        const qsizetype size = rec.U32(8);
        const uint32_t mode = rec.U32(12);
        if (size == 0) {
            if (mode == RGN_COPY)
                ResetClip();
            break;
        }
        CombineClip(RegionPath(rec.Sub(16, size)), mode);
        break;
    }
    case Emf::EMR_SELECTCLIPPATH: {
        QPainterPath path = m_path;
        path.setFillRule(m_s.PolyFill == WINDING ? Qt::WindingFill : Qt::OddEvenFill);
        path.closeSubpath();
        m_path = QPainterPath();
        m_inPath = false;
        m_figureOpen = false;
        CombineClip(path, rec.U32(8));
        break;
    }
    case Emf::EMR_SETMETARGN:
        break;
    case Emf::EMR_SAVEDC:
        SaveDC();
        break;
    case Emf::EMR_RESTOREDC:
        RestoreDC(rec.I32(8));
        break;
    case Emf::EMR_SETWORLDTRANSFORM: {
        const QTransform t = EmfXform(rec, 8);
        if (Finite(t))
            m_s.World = t;
        break;
    }
    case Emf::EMR_MODIFYWORLDTRANSFORM: {
        const QTransform t = EmfXform(rec, 8);
        if (!Finite(t))
            break;
        switch (rec.U32(32)) {
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
        break;
    }
    case Emf::EMR_SELECTOBJECT: {
        const uint32_t index = rec.U32(8);
        if (index & StockObjectFlag) {
            SelectStock(index);
        } else {
            const auto it = m_emfObjects.find(index);
            if (it != m_emfObjects.end())
                SelectObject(it->second);
        }
        break;
    }
    case Emf::EMR_SELECTPALETTE: {
        const uint32_t index = rec.U32(8);
        if (index & StockObjectFlag) {
            m_s.Palette.clear();
        } else {
            const auto it = m_emfObjects.find(index);
            if (it != m_emfObjects.end())
                SelectObject(it->second);
        }
        break;
    }
    case Emf::EMR_DELETEOBJECT:
        m_emfObjects.erase(rec.U32(8));
        break;
    case Emf::EMR_CREATEPEN:
    case Emf::EMR_EXTCREATEPEN:
    case Emf::EMR_CREATEBRUSHINDIRECT:
    case Emf::EMR_CREATEMONOBRUSH:
    case Emf::EMR_CREATEDIBPATTERNBRUSHPT:
    case Emf::EMR_EXTCREATEFONTINDIRECTW:
    case Emf::EMR_CREATEPALETTE: {
        const uint32_t index = rec.U32(8);
        if (m_emfObjects.size() >= MaxObjects && !m_emfObjects.count(index))
            break;
        TObject o;
        if (type == Emf::EMR_CREATEPEN) {
            o.Kind = TObject::Pen;
            o.PenSpec = TPenSpec{rec.U32(12), std::abs(qreal(rec.I32(16))), Colour(rec.U32(24))};
        } else if (type == Emf::EMR_EXTCREATEPEN) {
            o.Kind = TObject::Pen;
            o.PenSpec = TPenSpec{rec.U32(28), qreal(rec.U32(32)), Colour(rec.U32(40))};
            if (rec.U32(36) == BS_NULL)
                o.PenSpec.Style = (o.PenSpec.Style & ~uint32_t(PS_STYLE_MASK)) | PS_NULL;
            if ((o.PenSpec.Style & PS_TYPE_MASK) == PS_COSMETIC)
                o.PenSpec.Width = 0;
        } else if (type == Emf::EMR_CREATEBRUSHINDIRECT) {
            o.Kind = TObject::Brush;
            o.BrushSpec = TBrushSpec{rec.U32(12), Colour(rec.U32(16)), rec.U32(20), QImage()};
        } else if (type == Emf::EMR_CREATEMONOBRUSH || type == Emf::EMR_CREATEDIBPATTERNBRUSHPT) {
            o.Kind = TObject::Brush;
            o.BrushSpec.Style = BS_DIBPATTERN;
            try {
                o.BrushSpec.Pattern = DecodeDib(rec.Sub(rec.U32(16), rec.U32(20)),
                                                rec.Sub(rec.U32(24), rec.U32(28)), false)
                                          .Image;
            } catch (const TShortRead&) {
                o.BrushSpec.Style = BS_SOLID;
                o.BrushSpec.Color = Qt::gray;
            }
        } else if (type == Emf::EMR_EXTCREATEFONTINDIRECTW) {
            o.Kind = TObject::Font;
            TFontSpec& f = o.FontSpec;
            f.Height = rec.I32(12);
            f.Width = int(std::min<qreal>(std::abs(qreal(rec.I32(16))), INT32_MAX));
            f.Escapement = rec.I32(20) % 3600; // whole turns change nothing
            f.Weight = rec.I32(28);
            f.Italic = rec.U8(32) != 0;
            f.Underline = rec.U8(33) != 0;
            f.StrikeOut = rec.U8(34) != 0;
            f.Charset = rec.U8(35);
            for (int i = 0; i < LF_FACESIZE && rec.Has(40 + 2 * i, 2); ++i) {
                const uint16_t c = rec.U16(40 + 2 * i);
                if (c == 0)
                    break;
                f.Face.append(QChar(c));
            }
        } else {
            o.Kind = TObject::Palette;
            const int n = rec.U16(14);
            rec.Need(16, qsizetype(n) * 4);
            for (int i = 0; i < n; ++i) {
                const qsizetype at = 16 + 4 * qsizetype(i);
                o.Colors.append(qRgb(rec.U8(at), rec.U8(at + 1), rec.U8(at + 2)));
            }
        }
        m_emfObjects[index] = std::move(o);
        break;
    }
    case Emf::EMR_SETPALETTEENTRIES: {
        const auto it = m_emfObjects.find(rec.U32(8));
        const uint32_t start = rec.U32(12), n = rec.U32(16);
        if (it == m_emfObjects.end() || start > 1024 || n > 1024)
            break;
        rec.Need(20, qsizetype(n) * 4);
        QVector<QRgb>& colours = it->second.Colors;
        if (colours.size() < int(start + n))
            colours.resize(int(start + n));
        for (uint32_t i = 0; i < n; ++i) {
            const qsizetype at = 20 + 4 * qsizetype(i);
            colours[int(start + i)] = qRgb(rec.U8(at), rec.U8(at + 1), rec.U8(at + 2));
        }
        break;
    }
    case Emf::EMR_ANGLEARC: {
        const QPointF c = point(8);
        const qreal radius = rec.U32(16);
        const qreal startAngle = rec.F32(20), sweep = rec.F32(24);
        if (!std::isfinite(startAngle) || !std::isfinite(sweep))
            break;
        const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
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
        break;
    }
    case Emf::EMR_ELLIPSE:
    case Emf::EMR_RECTANGLE: {
        QPainterPath path;
        const QRectF box = EmfRect(rec, 8).normalized();
        if (type == Emf::EMR_ELLIPSE)
            path.addEllipse(box);
        else
            path.addRect(box);
        DrawShape(path, true, true);
        break;
    }
    case Emf::EMR_ROUNDRECT: {
        QPainterPath path;
        path.addRoundedRect(EmfRect(rec, 8).normalized(), std::abs(qreal(rec.I32(24))) / 2.0,
                            std::abs(qreal(rec.I32(28))) / 2.0);
        DrawShape(path, true, true);
        break;
    }
    case Emf::EMR_ARC:
    case Emf::EMR_CHORD:
    case Emf::EMR_PIE:
    case Emf::EMR_ARCTO:
        ArcShape(EmfRect(rec, 8), point(24), point(32),
                 type == Emf::EMR_CHORD ? 1
                 : type == Emf::EMR_PIE ? 2
                                        : 0,
                 type == Emf::EMR_ARCTO);
        break;
    case Emf::EMR_BEGINPATH:
        m_inPath = true;
        m_path = QPainterPath();
        m_figureOpen = false;
        break;
    case Emf::EMR_ENDPATH:
        m_inPath = false;
        break;
    case Emf::EMR_CLOSEFIGURE:
        m_path.closeSubpath();
        m_figureOpen = false;
        break;
    case Emf::EMR_ABORTPATH:
        m_inPath = false;
        m_path = QPainterPath();
        m_figureOpen = false;
        break;
    case Emf::EMR_FILLPATH:
        StrokeFillPath(true, false);
        break;
    case Emf::EMR_STROKEPATH:
        StrokeFillPath(false, true);
        break;
    case Emf::EMR_STROKEANDFILLPATH:
        StrokeFillPath(true, true);
        break;
    case Emf::EMR_FLATTENPATH: {
        // Flattening and widening grow a path; repeated on a huge one they would not end soon.
        if (m_path.elementCount() > MaxClipElements)
            break;
        QPainterPath flat;
        for (const QPolygonF& polygon : m_path.toSubpathPolygons())
            flat.addPolygon(polygon);
        m_path = flat;
        break;
    }
    case Emf::EMR_WIDENPATH: {
        if (m_path.elementCount() > MaxClipElements)
            break;
        QPainterPathStroker stroker;
        stroker.setWidth(
            std::max<qreal>(1, m_s.Pen.Width * std::sqrt(std::abs(Logical().determinant()))));
        m_path = stroker.createStroke(m_path);
        break;
    }
    case Emf::EMR_FILLRGN:
    case Emf::EMR_PAINTRGN: {
        const qsizetype size = rec.U32(24);
        const TBrushSpec brush = m_s.Brush;
        qsizetype at = 28;
        if (type == Emf::EMR_FILLRGN) {
            const auto it = m_emfObjects.find(rec.U32(28));
            if (it != m_emfObjects.end() && it->second.Kind == TObject::Brush)
                m_s.Brush = it->second.BrushSpec;
            at = 32;
        }
        // Region rectangles are in device units: draw them untransformed.
        const QPainterPath region = RegionPath(rec.Sub(at, size));
        const TState keep = m_s;
        m_s.World = Page().inverted();
        DrawLogicalPath(region, true, false);
        m_s = keep;
        m_s.Brush = brush;
        break;
    }
    case Emf::EMR_GRADIENTFILL:
        GradientFill(rec);
        break;
    case Emf::EMR_BITBLT:
    case Emf::EMR_STRETCHBLT:
    case Emf::EMR_MASKBLT:
    case Emf::EMR_ALPHABLEND:
    case Emf::EMR_TRANSPARENTBLT:
        EmfBlt(rec, type);
        break;
    case Emf::EMR_STRETCHDIBITS:
    case Emf::EMR_SETDIBITSTODEVICE: {
        const bool stretch = type == Emf::EMR_STRETCHDIBITS;
        const QPointF dest = point(24);
        const QRectF source(rec.I32(32), rec.I32(36), rec.I32(40), rec.I32(44));
        const qsizetype offBmi = rec.U32(48), cbBmi = rec.U32(52);
        const qsizetype offBits = rec.U32(56), cbBits = rec.U32(60);
        const QSizeF size = stretch ? QSizeF(rec.I32(72), rec.I32(76)) : source.size();
        const uint32_t rop = stretch ? rec.U32(68) : SRCCOPY;
        if (cbBmi == 0) {
            PatBlt(QRectF(dest, size), rop);
            break;
        }
        DrawImage(QRectF(dest, size), source,
                  DecodeDib(rec.Sub(offBmi, cbBmi), rec.Sub(offBits, cbBits), false), rop);
        break;
    }
    case Emf::EMR_EXTTEXTOUTA:
    case Emf::EMR_EXTTEXTOUTW: {
        const QPointF ref = point(36);
        const uint32_t n = std::min<uint32_t>(rec.U32(44), MaxTextChars);
        const qsizetype offString = rec.U32(48);
        const uint32_t options = rec.U32(52);
        const QRectF rect = EmfRect(rec, 56);
        const qsizetype offDx = rec.U32(72);
        QString text;
        if (type == Emf::EMR_EXTTEXTOUTW) {
            rec.Need(offString, qsizetype(n) * 2);
            text.reserve(int(n));
            for (uint32_t i = 0; i < n; ++i)
                text.append(QChar(rec.U16(offString + 2 * qsizetype(i))));
        } else {
            text = DecodeAnsi(rec.Bytes(offString, n), m_s.Font.Charset);
        }
        QVector<qreal> dx;
        const qsizetype step = (options & ETO_PDY) ? 8 : 4;
        if (offDx && rec.Has(offDx, qsizetype(n) * step)) {
            dx.reserve(int(n));
            for (uint32_t i = 0; i < n; ++i)
                dx.append(rec.I32(offDx + step * qsizetype(i)));
        }
        const bool hasRect = !(options & ETO_NO_RECT) && (options & (ETO_OPAQUE | ETO_CLIPPED));
        TextOut(ref, text, dx, options, hasRect ? &rect : nullptr);
        break;
    }
    default:
        break; // comments (EMF+ included), colour management, escapes and the rest: skipped
    }
}

} // namespace

void PlayMetafile(QPainter& painter, const QRectF& target, const QByteArray& bytes,
                  const TMetaLayout& layout) {
    if (!painter.isActive() || layout.Frame.width() == 0 || layout.Frame.height() == 0 ||
        target.isNull())
        return;
    TPlayer player(painter, target, layout);
    const TMetaReader reader(bytes);
    try {
        if (layout.Kind == TMetafileKind::Wmf)
            player.PlayWmf(reader);
        else
            player.PlayEmf(reader);
    } catch (const TShortRead&) {
        // A header that does not hold: nothing more to draw.
    }
}

#include "pictures/metafile/MetaRecorder.h"

#include "layout/BmpWriter.h"
#include "pictures/metafile/MetaRecords.h"

#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRegion>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace {

// The reference device every EMF claims: 96 dpi, 1920 × 1440 pixels on 508 × 381 mm.
constexpr int RefDeviceWidth = 1920;
constexpr int RefDeviceHeight = 1440;
constexpr int RefDeviceWidthMm = 508;
constexpr int RefDeviceHeightMm = 381;
constexpr int ScreenDpi = 96;
// EMF logical units per device pixel.
constexpr int EmfSubPixels = 16;
// The larger side of a WMF in logical units, safely inside int16.
constexpr int WmfMaxUnits = 32000;
// Rectangles of a non-rectangular clip a WMF is given before it falls back to the bounding box.
constexpr int WmfMaxClipRects = 2000;
constexpr int EmfHeaderSize = 108;
constexpr uint32_t GM_COMPATIBLE = 1;

uint32_t ColorRef(QRgb rgb) {
    return uint32_t(qRed(rgb)) | uint32_t(qGreen(rgb)) << 8 | uint32_t(qBlue(rgb)) << 16;
}

// A translucent colour mixed with white, for WMF, which knows no alpha.
QRgb OnWhite(const QColor& colour) {
    const QRgb c = colour.rgba();
    const int a = qAlpha(c);
    auto mix = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
    return qRgb(mix(qRed(c)), mix(qGreen(c)), mix(qBlue(c)));
}

// Little-endian record bytes.
class TBuffer {
public:
    void U8(uint32_t v) { m_bytes.append(static_cast<char>(v & 0xFF)); }
    void U16(uint32_t v) {
        U8(v);
        U8(v >> 8);
    }
    void I16(int v) { U16(static_cast<uint16_t>(static_cast<int16_t>(v))); }
    void U32(uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void F32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U32(bits);
    }
    void Raw(const QByteArray& bytes) { m_bytes.append(bytes); }
    void PadTo(int alignment) {
        while (m_bytes.size() % alignment)
            U8(0);
    }
    void PutU32(qsizetype at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            m_bytes[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    void PutU16(qsizetype at, uint32_t v) {
        m_bytes[at] = static_cast<char>(v & 0xFF);
        m_bytes[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    qsizetype Size() const { return m_bytes.size(); }
    QByteArray& Bytes() { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Text in Windows code page 1252, the code page of ANSI_CHARSET fonts; what it lacks becomes "?".
QByteArray ToCp1252(const QString& text) {
    const auto& high = Gdi::Cp1252High;
    QByteArray out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.append(static_cast<char>(u));
            continue;
        }
        const char16_t* hit = std::find(std::begin(high), std::end(high), u);
        out.append(hit != std::end(high) && u != 0 ? static_cast<char>(0x80 + (hit - high)) : '?');
    }
    return out;
}

bool InCp1252(const QString& text) {
    const QByteArray encoded = ToCp1252(text);
    for (qsizetype i = 0; i < text.size(); ++i)
        if (encoded.at(i) == '?' && text.at(i) != QLatin1Char('?'))
            return false;
    return true;
}

// A packed DIB (information header and bits) of an image with alpha: 32 bits, premultiplied, as
// EMR_ALPHABLEND wants it.
QByteArray AlphaDib(const QImage& input) {
    const QImage image = input.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    TBuffer b;
    b.U32(40);
    b.I32(image.width());
    b.I32(image.height()); // bottom-up
    b.U16(1);
    b.U16(32);
    b.U32(Gdi::BI_RGB);
    b.U32(static_cast<uint32_t>(image.width()) * 4 * static_cast<uint32_t>(image.height()));
    b.I32(3780);
    b.I32(3780);
    b.U32(0);
    b.U32(0);
    QByteArray& bytes = b.Bytes();
    const qsizetype rowBytes = qsizetype(image.width()) * 4;
    bytes.reserve(bytes.size() + rowBytes * image.height());
    for (int y = image.height() - 1; y >= 0; --y) {
        // ARGB32 in memory on a little-endian machine is B, G, R, A: already the DIB's order.
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            bytes.append(static_cast<char>(qBlue(p)));
            bytes.append(static_cast<char>(qGreen(p)));
            bytes.append(static_cast<char>(qRed(p)));
            bytes.append(static_cast<char>(qAlpha(p)));
        }
    }
    return bytes;
}

// A packed DIB of an opaque image, through the BMP writer (palettes of 1- and 8-bit images kept).
QByteArray OpaqueDib(const QImage& image) {
    constexpr int BmpFileHeaderSize = 14;
    const QImage opaque =
        image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_RGB888) : image;
    return EncodeBmpFile(opaque).mid(BmpFileHeaderSize);
}

// Offset of the bits in a packed DIB: the header, its bit-field masks and its colour table.
uint32_t DibHeaderBytes(const QByteArray& dib) {
    auto u32 = [&](int at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<uint8_t>(dib[at + i]);
        return v;
    };
    const uint32_t headerSize = u32(0);
    const uint32_t bitCount = static_cast<uint8_t>(dib[14]) | static_cast<uint8_t>(dib[15]) << 8;
    const uint32_t compression = u32(16);
    uint32_t colours = u32(32);
    if (colours == 0 && bitCount <= 8)
        colours = 1u << bitCount;
    const uint32_t masks = (compression == Gdi::BI_BITFIELDS && headerSize == 40) ? 12 : 0;
    return headerSize + masks + colours * 4;
}

bool AllOpaque(const QImage& image) {
    if (!image.hasAlphaChannel())
        return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(row[x]) != 255)
                return false;
    }
    return true;
}

bool IsAxisAligned(const QTransform& t) {
    return t.type() <= QTransform::TxScale;
}

// The length a unit along x and along y becomes under `t`.
double ScaleX(const QTransform& t) {
    return std::hypot(t.m11(), t.m12());
}
double ScaleY(const QTransform& t) {
    return std::hypot(t.m21(), t.m22());
}

// Whether the last point of every subpath of `path` returns to its first.
bool AllSubpathsClosed(const QPainterPath& path) {
    QPointF start;
    QPointF last;
    bool any = false;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            if (any && last != start)
                return false;
            start = e;
            any = true;
        }
        last = e;
    }
    return !any || last == start;
}

// What a pen or brush amounts to in a metafile; `simple` is false when it cannot be said there.
struct TPenDesc {
    bool null = true;
    uint32_t style = Gdi::PS_NULL;
    double width = 0; // device pixels; 0 = one device pixel whatever the scale
    QRgb colour = 0;
    bool operator==(const TPenDesc& o) const {
        return null == o.null && style == o.style && width == o.width && colour == o.colour;
    }
};
struct TBrushDesc {
    bool null = true;
    uint32_t style = Gdi::BS_NULL;
    uint32_t hatch = 0;
    QRgb colour = 0;
    bool operator==(const TBrushDesc& o) const {
        return null == o.null && style == o.style && hatch == o.hatch && colour == o.colour;
    }
};
struct TFontDesc {
    QString face;
    int height = 0; // logical units, negative: the em size
    int escapement = 0;
    int weight = Gdi::FW_NORMAL;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool operator==(const TFontDesc& o) const {
        return face == o.face && height == o.height && escapement == o.escapement &&
               weight == o.weight && italic == o.italic && underline == o.underline &&
               strikeOut == o.strikeOut;
    }
};

// A string waiting to be written: glyphs drawn one by one along one baseline join it.
struct TTextRun {
    bool active = false;
    TFontDesc font;
    QRgb colour = 0;
    QPointF origin;    // device pixels, baseline left
    QPointF direction; // unit vector along the baseline
    QString text;
    std::vector<double> positions; // of each character along the baseline, from the origin
    double end = 0;                // where the last character ends
    QRectF bounds;
};

// A selected GDI object: its table index (or -1) and what it was made of.
template <typename Desc> struct TSlot {
    int index = -1;
    bool selected = false;
    Desc desc;
};

} // namespace

class TMetaRecordEngine final : public QPaintEngine {
public:
    TMetaRecordEngine(TMetafileKind kind, QSize size)
        : QPaintEngine(PrimitiveTransform | PatternTransform | PixmapTransform | PatternBrush |
                       LinearGradientFill | RadialGradientFill | ConicalGradientFill | AlphaBlend |
                       PainterPaths | Antialiasing | BrushStroke | ConstantOpacity | MaskedBrush |
                       ObjectBoundingModeGradients | PaintOutsidePaintEvent | BlendModes |
                       RasterOpModes | PorterDuff),
          m_kind(kind), m_size(size) {
        if (kind == TMetafileKind::Wmf)
            m_wmfScale = WmfUnitsPerInch(size) / double(ScreenDpi);
    }

    Type type() const override { return static_cast<Type>(User + 12); }
    const QByteArray& Result() const { return m_result; }

    bool begin(QPaintDevice*) override;
    bool end() override;
    void updateState(const QPaintEngineState& state) override;
    void drawPath(const QPainterPath& path) override;
    void drawPolygon(const QPointF* points, int pointCount, PolygonDrawMode mode) override;
    void drawRects(const QRectF* rects, int rectCount) override;
    void drawEllipse(const QRectF& rect) override;
    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr,
                   Qt::ImageConversionFlags flags) override;
    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override;
    void drawTextItem(const QPointF& p, const QTextItem& textItem) override;

private:
    bool Emf() const { return m_kind == TMetafileKind::Emf; }

    // Device pixels to logical units.
    int X(double x) const { return Units(x); }
    int Units(double v) const {
        const double scaled = Emf() ? v * EmfSubPixels : v * m_wmfScale;
        const double limit = Emf() ? 1e9 : 32767.0;
        return static_cast<int>(std::lround(std::clamp(scaled, -limit, limit)));
    }

    // Records.
    qsizetype BeginRecord(uint32_t type);
    void EndRecord(qsizetype start);
    void Bounds(const QRectF& device);
    void Point(QPointF device);
    // EMF point lists come in 16-bit variants, half the size, when every point fits.
    bool FitsInt16(const QPolygonF& device) const;
    void EmfPoint(QPointF device, bool small);
    void Rect(const QRectF& device); // EMF RECTL or WMF bottom, right, top, left

    void WriteHeaderPlaceholder();
    void FinishHeader();
    void SimpleRecord(uint32_t type) { EndRecord(BeginRecord(type)); }
    void ValueRecord(uint32_t type, uint32_t value);
    void PairRecord(uint32_t type, int a, int b);

    // Objects.
    int AllocObject();
    void DeleteObject(int index);
    void SelectObject(int index);
    template <typename Desc, typename Create>
    void UseObject(TSlot<Desc>& slot, const Desc& desc, Create create);
    void UsePen(const TPenDesc& desc);
    void UseBrush(const TBrushDesc& desc);
    void UseFont(const TFontDesc& desc);
    void UseTextColour(QRgb colour);
    void UseFillMode(Qt::FillRule rule);
    void UseRop2();
    void FlushText();
    void RestoreSavedDC();
    void ForgetSelections();

    // State.
    void ApplyClip();
    TPenDesc PenFor(const QPen& pen, bool* representable) const;
    TBrushDesc BrushFor(const QBrush& brush, bool* representable) const;

    // Drawing.
    void RecordPath(const QPainterPath& path, bool fill, bool stroke);
    void EmitPolys(const std::vector<QPolygonF>& polys, bool closed, const QRectF& bounds);
    void EmitEmfPath(const QPainterPath& device, bool fill, bool stroke);
    void EmitImage(const QRectF& device, const QImage& image, double opacity);
    void WriteStretchDib(const QImage& input, uint32_t rop, int x, int y, int cx, int cy);
    void Rasterise(const QRectF& deviceBounds, const std::function<void(QPainter&)>& paint);
    void RecordAsPath(const QPainterPath& logical, const QPen& pen, const QBrush& brush);

    TMetafileKind m_kind;
    QSize m_size;
    double m_wmfScale = 1;
    TBuffer m_out;
    QByteArray m_result;
    int m_records = 0;
    uint32_t m_maxRecordWords = 0;
    std::vector<bool> m_objects; // slot in use
    int m_maxObjects = 0;

    TSlot<TPenDesc> m_pen;
    TSlot<TBrushDesc> m_brush;
    TSlot<TFontDesc> m_font;
    TTextRun m_text;
    bool m_textColourKnown = false;
    QRgb m_textColour = 0;
    bool m_fillModeKnown = false;
    Qt::FillRule m_fillMode = Qt::OddEvenFill;
    bool m_rop2Known = false;
    uint32_t m_rop2 = Gdi::R2_COPYPEN;
    QPainter::CompositionMode m_composition = QPainter::CompositionMode_SourceOver;

    QTransform m_transform;
    QPen m_qpen;
    QBrush m_qbrush;
    QPointF m_brushOrigin;
    double m_opacity = 1;
    Qt::BGMode m_bgMode = Qt::TransparentMode;
    QPainter::RenderHints m_hints;
    bool m_clipDirty = false;
    bool m_clipped = false; // the clip last written
    QPainterPath m_clip;
    bool m_inClipSave = false;
};

// ---- records ---------------------------------------------------------------------------------

qsizetype TMetaRecordEngine::BeginRecord(uint32_t type) {
    const qsizetype start = m_out.Size();
    if (Emf()) {
        m_out.U32(type);
        m_out.U32(0);
    } else {
        m_out.U32(0);
        m_out.U16(type);
    }
    return start;
}

void TMetaRecordEngine::EndRecord(qsizetype start) {
    m_out.PadTo(Emf() ? 4 : 2);
    const qsizetype size = m_out.Size() - start;
    if (Emf()) {
        m_out.PutU32(start + 4, static_cast<uint32_t>(size));
    } else {
        const auto words = static_cast<uint32_t>(size / 2);
        m_out.PutU32(start, words);
        m_maxRecordWords = std::max(m_maxRecordWords, words);
    }
    ++m_records;
}

void TMetaRecordEngine::Bounds(const QRectF& device) {
    // rclBounds: inclusive device pixels.
    const QRect r = device.toAlignedRect();
    m_out.I32(r.left());
    m_out.I32(r.top());
    m_out.I32(r.right());
    m_out.I32(r.bottom());
}

void TMetaRecordEngine::Point(QPointF device) {
    if (Emf()) {
        m_out.I32(X(device.x()));
        m_out.I32(X(device.y()));
    } else {
        m_out.I16(X(device.x()));
        m_out.I16(X(device.y()));
    }
}

bool TMetaRecordEngine::FitsInt16(const QPolygonF& device) const {
    return std::all_of(device.begin(), device.end(), [this](const QPointF& pt) {
        return std::abs(X(pt.x())) <= 32767 && std::abs(X(pt.y())) <= 32767;
    });
}

void TMetaRecordEngine::EmfPoint(QPointF device, bool small) {
    if (small) {
        m_out.I16(X(device.x()));
        m_out.I16(X(device.y()));
    } else {
        Point(device);
    }
}

void TMetaRecordEngine::Rect(const QRectF& device) {
    const QRectF r = device.normalized();
    if (Emf()) {
        m_out.I32(X(r.left()));
        m_out.I32(X(r.top()));
        m_out.I32(X(r.right()));
        m_out.I32(X(r.bottom()));
    } else {
        m_out.I16(X(r.bottom()));
        m_out.I16(X(r.right()));
        m_out.I16(X(r.top()));
        m_out.I16(X(r.left()));
    }
}

void TMetaRecordEngine::ValueRecord(uint32_t type, uint32_t value) {
    const qsizetype at = BeginRecord(type);
    if (Emf())
        m_out.U32(value);
    else
        m_out.U16(value);
    EndRecord(at);
}

void TMetaRecordEngine::PairRecord(uint32_t type, int a, int b) {
    // EMF stores x, y; WMF stores y before x.
    const qsizetype at = BeginRecord(type);
    if (Emf()) {
        m_out.I32(a);
        m_out.I32(b);
    } else {
        m_out.I16(b);
        m_out.I16(a);
    }
    EndRecord(at);
}

void TMetaRecordEngine::WriteHeaderPlaceholder() {
    if (Emf()) {
        for (int i = 0; i < EmfHeaderSize; ++i)
            m_out.U8(0);
        m_records = 1;
    } else {
        for (int i = 0; i < Wmf::PlaceableHeaderSize + Wmf::HeaderSize; ++i)
            m_out.U8(0);
    }
}

void TMetaRecordEngine::FinishHeader() {
    QByteArray& bytes = m_out.Bytes();
    TBuffer h;
    const int w = m_size.width();
    const int ht = m_size.height();
    if (Emf()) {
        h.U32(Emf::EMR_HEADER);
        h.U32(EmfHeaderSize);
        // rclBounds in reference pixels, rclFrame in 0.01 mm, both the whole picture.
        h.I32(0);
        h.I32(0);
        h.I32(w - 1);
        h.I32(ht - 1);
        h.I32(0);
        h.I32(0);
        h.I32(static_cast<int32_t>(std::lround(w * 2540.0 / ScreenDpi)));
        h.I32(static_cast<int32_t>(std::lround(ht * 2540.0 / ScreenDpi)));
        h.U32(Emf::Signature);
        h.U32(0x10000);
        h.U32(static_cast<uint32_t>(bytes.size()));
        h.U32(static_cast<uint32_t>(m_records));
        h.U16(static_cast<uint32_t>(m_maxObjects + 1)); // index 0 is reserved
        h.U16(0);
        h.U32(0); // no description
        h.U32(0);
        h.U32(0); // no palette
        h.I32(RefDeviceWidth);
        h.I32(RefDeviceHeight);
        h.I32(RefDeviceWidthMm);
        h.I32(RefDeviceHeightMm);
        h.U32(0); // no pixel format
        h.U32(0);
        h.U32(0); // no OpenGL
        h.I32(RefDeviceWidthMm * 1000);
        h.I32(RefDeviceHeightMm * 1000);
    } else {
        h.U32(Wmf::PlaceableKey);
        h.U16(0);
        h.I16(0);
        h.I16(0);
        h.I16(X(w));
        h.I16(X(ht));
        h.U16(static_cast<uint32_t>(WmfUnitsPerInch(m_size)));
        h.U32(0);
        uint16_t checksum = 0;
        for (int i = 0; i < 20; i += 2)
            checksum ^= static_cast<uint16_t>(static_cast<uint8_t>(h.Bytes()[i]) |
                                              static_cast<uint8_t>(h.Bytes()[i + 1]) << 8);
        h.U16(checksum);
        h.U16(Wmf::MemoryMetafile);
        h.U16(Wmf::HeaderWords);
        h.U16(Wmf::Version300);
        h.U32(static_cast<uint32_t>((bytes.size() - Wmf::PlaceableHeaderSize) / 2));
        h.U16(static_cast<uint32_t>(m_maxObjects));
        h.U32(m_maxRecordWords);
        h.U16(0);
    }
    std::memcpy(bytes.data(), h.Bytes().constData(), static_cast<size_t>(h.Size()));
}

// ---- objects ---------------------------------------------------------------------------------

int TMetaRecordEngine::AllocObject() {
    // EMF reserves index 0 for the device context; WMF fills the lowest free slot, which is what
    // a player assumes, so both keep a table.
    const int first = Emf() ? 1 : 0;
    if (static_cast<int>(m_objects.size()) < first)
        m_objects.resize(static_cast<size_t>(first), true);
    auto it = std::find(m_objects.begin() + first, m_objects.end(), false);
    const int index = static_cast<int>(it - m_objects.begin());
    if (it == m_objects.end())
        m_objects.push_back(true);
    else
        *it = true;
    m_maxObjects = std::max(m_maxObjects, Emf() ? index : index + 1);
    return index;
}

void TMetaRecordEngine::DeleteObject(int index) {
    if (index < 0)
        return;
    ValueRecord(Emf() ? uint32_t(Emf::EMR_DELETEOBJECT) : uint32_t(Wmf::META_DELETEOBJECT),
                static_cast<uint32_t>(index));
    m_objects[static_cast<size_t>(index)] = false;
}

void TMetaRecordEngine::SelectObject(int index) {
    ValueRecord(Emf() ? uint32_t(Emf::EMR_SELECTOBJECT) : uint32_t(Wmf::META_SELECTOBJECT),
                static_cast<uint32_t>(index));
}

// Selects the slot's object when it was made of `desc`; otherwise writes a new one with
// `create(index)`, selects it and deletes the object it replaces.
template <typename Desc, typename Create>
void TMetaRecordEngine::UseObject(TSlot<Desc>& slot, const Desc& desc, Create create) {
    if (slot.index >= 0 && slot.desc == desc) {
        if (!slot.selected)
            SelectObject(slot.index);
        slot.selected = true;
        return;
    }
    const int old = slot.index;
    const int index = AllocObject();
    create(index);
    slot.index = index;
    slot.desc = desc;
    SelectObject(index);
    slot.selected = true;
    DeleteObject(old);
}

void TMetaRecordEngine::UsePen(const TPenDesc& desc) {
    UseObject(m_pen, desc, [&](int index) {
        const int width = desc.width > 0 ? std::max(1, Units(desc.width)) : 0;
        if (Emf() && desc.width > 0) {
            // A geometric pen keeps its caps and joins.
            const qsizetype at = BeginRecord(Emf::EMR_EXTCREATEPEN);
            m_out.U32(static_cast<uint32_t>(index));
            for (int i = 0; i < 4; ++i)
                m_out.U32(0); // no brush bitmap
            m_out.U32(desc.style | Gdi::PS_GEOMETRIC);
            m_out.U32(static_cast<uint32_t>(width));
            m_out.U32(Gdi::BS_SOLID);
            m_out.U32(ColorRef(desc.colour));
            m_out.U32(0);
            m_out.U32(0);
            EndRecord(at);
        } else if (Emf()) {
            const qsizetype at = BeginRecord(Emf::EMR_CREATEPEN);
            m_out.U32(static_cast<uint32_t>(index));
            m_out.U32(desc.style);
            m_out.I32(width);
            m_out.I32(0);
            m_out.U32(ColorRef(desc.colour));
            EndRecord(at);
        } else {
            const qsizetype at = BeginRecord(Wmf::META_CREATEPENINDIRECT);
            m_out.U16(desc.style & 0xFFFF);
            m_out.I16(width);
            m_out.I16(0);
            m_out.U32(ColorRef(desc.colour));
            EndRecord(at);
        }
    });
}

void TMetaRecordEngine::UseBrush(const TBrushDesc& desc) {
    UseObject(m_brush, desc, [&](int index) {
        if (Emf()) {
            const qsizetype at = BeginRecord(Emf::EMR_CREATEBRUSHINDIRECT);
            m_out.U32(static_cast<uint32_t>(index));
            m_out.U32(desc.style);
            m_out.U32(ColorRef(desc.colour));
            m_out.U32(desc.hatch);
            EndRecord(at);
        } else {
            const qsizetype at = BeginRecord(Wmf::META_CREATEBRUSHINDIRECT);
            m_out.U16(desc.style);
            m_out.U32(ColorRef(desc.colour));
            m_out.U16(desc.hatch);
            EndRecord(at);
        }
    });
}

void TMetaRecordEngine::UseFont(const TFontDesc& desc) {
    UseObject(m_font, desc, [&](int index) {
        const qsizetype at = BeginRecord(Emf() ? uint32_t(Emf::EMR_EXTCREATEFONTINDIRECTW)
                                               : uint32_t(Wmf::META_CREATEFONTINDIRECT));
        if (Emf()) {
            m_out.U32(static_cast<uint32_t>(index));
            m_out.I32(desc.height);
            m_out.I32(0);
            m_out.I32(desc.escapement);
            m_out.I32(desc.escapement);
            m_out.I32(desc.weight);
        } else {
            m_out.I16(desc.height);
            m_out.I16(0);
            m_out.I16(desc.escapement);
            m_out.I16(desc.escapement);
            m_out.I16(desc.weight);
        }
        m_out.U8(desc.italic);
        m_out.U8(desc.underline);
        m_out.U8(desc.strikeOut);
        // UTF-16 text in EMF needs no particular set; WMF text is written in code page 1252.
        m_out.U8(Emf() ? Gdi::DEFAULT_CHARSET : Gdi::ANSI_CHARSET);
        m_out.U8(0); // OUT_DEFAULT_PRECIS
        m_out.U8(0); // CLIP_DEFAULT_PRECIS
        m_out.U8(0); // DEFAULT_QUALITY
        m_out.U8(0); // DEFAULT_PITCH | FF_DONTCARE
        const QString face = desc.face.left(Gdi::LF_FACESIZE - 1);
        if (Emf()) {
            for (int i = 0; i < Gdi::LF_FACESIZE; ++i)
                m_out.U16(i < face.size() ? face.at(i).unicode() : 0);
        } else {
            const QByteArray name = ToCp1252(face);
            for (int i = 0; i < Gdi::LF_FACESIZE; ++i)
                m_out.U8(i < name.size() ? static_cast<uint8_t>(name.at(i)) : 0);
        }
        EndRecord(at);
    });
}

void TMetaRecordEngine::UseTextColour(QRgb colour) {
    if (m_textColourKnown && m_textColour == colour)
        return;
    const qsizetype at =
        BeginRecord(Emf() ? uint32_t(Emf::EMR_SETTEXTCOLOR) : uint32_t(Wmf::META_SETTEXTCOLOR));
    m_out.U32(ColorRef(colour));
    EndRecord(at);
    m_textColour = colour;
    m_textColourKnown = true;
}

void TMetaRecordEngine::UseFillMode(Qt::FillRule rule) {
    if (m_fillModeKnown && m_fillMode == rule)
        return;
    ValueRecord(Emf() ? uint32_t(Emf::EMR_SETPOLYFILLMODE) : uint32_t(Wmf::META_SETPOLYFILLMODE),
                rule == Qt::WindingFill ? Gdi::WINDING : Gdi::ALTERNATE);
    m_fillMode = rule;
    m_fillModeKnown = true;
}

void TMetaRecordEngine::ForgetSelections() {
    // RESTOREDC put back the device context of SAVEDC: its default objects and colours.
    m_pen.selected = m_brush.selected = m_font.selected = false;
    m_textColourKnown = m_fillModeKnown = m_rop2Known = false;
}

// The metafile's raster operations as QPainter names them. The player asks for multiply and
// screen where it cannot use raster operations (on a printer, or on this recorder).
static uint32_t Rop2Of(QPainter::CompositionMode mode) {
    switch (mode) {
    case QPainter::CompositionMode_Multiply:
    case QPainter::RasterOp_SourceAndDestination:
        return Gdi::R2_MASKPEN;
    case QPainter::CompositionMode_Screen:
    case QPainter::RasterOp_SourceOrDestination:
        return Gdi::R2_MERGEPEN;
    case QPainter::RasterOp_SourceXorDestination:
        return Gdi::R2_XORPEN;
    case QPainter::RasterOp_NotDestination:
        return Gdi::R2_NOT;
    case QPainter::RasterOp_NotSource:
        return Gdi::R2_NOTCOPYPEN;
    default:
        return Gdi::R2_COPYPEN;
    }
}

static uint32_t Rop3Of(QPainter::CompositionMode mode) {
    switch (Rop2Of(mode)) {
    case Gdi::R2_MASKPEN:
        return Gdi::SRCAND;
    case Gdi::R2_MERGEPEN:
        return Gdi::SRCPAINT;
    case Gdi::R2_XORPEN:
        return Gdi::SRCINVERT;
    case Gdi::R2_NOTCOPYPEN:
        return Gdi::NOTSRCCOPY;
    default:
        return Gdi::SRCCOPY;
    }
}

void TMetaRecordEngine::UseRop2() {
    const uint32_t rop = Rop2Of(m_composition);
    if (m_rop2Known && m_rop2 == rop)
        return;
    ValueRecord(Emf() ? uint32_t(Emf::EMR_SETROP2) : uint32_t(Wmf::META_SETROP2), rop);
    m_rop2 = rop;
    m_rop2Known = true;
}

// ---- painting session ------------------------------------------------------------------------

bool TMetaRecordEngine::begin(QPaintDevice*) {
    m_out = TBuffer();
    m_result.clear();
    m_records = 0;
    m_maxRecordWords = 0;
    m_objects.clear();
    m_maxObjects = 0;
    m_pen = {};
    m_brush = {};
    m_font = {};
    m_text = {};
    ForgetSelections();
    m_clipDirty = false;
    m_clipped = false;
    m_clip = QPainterPath();
    WriteHeaderPlaceholder();

    const bool emf = Emf();
    ValueRecord(emf ? uint32_t(Emf::EMR_SETMAPMODE) : uint32_t(Wmf::META_SETMAPMODE),
                Gdi::MM_ANISOTROPIC);
    if (emf) {
        // Window = 16 × viewport: a logical unit is 1/16 of a reference pixel.
        PairRecord(Emf::EMR_SETWINDOWORGEX, 0, 0);
        PairRecord(Emf::EMR_SETWINDOWEXTEX, m_size.width() * EmfSubPixels,
                   m_size.height() * EmfSubPixels);
        PairRecord(Emf::EMR_SETVIEWPORTORGEX, 0, 0);
        PairRecord(Emf::EMR_SETVIEWPORTEXTEX, m_size.width(), m_size.height());
    } else {
        PairRecord(Wmf::META_SETWINDOWORG, 0, 0);
        PairRecord(Wmf::META_SETWINDOWEXT, X(m_size.width()), X(m_size.height()));
    }
    ValueRecord(emf ? uint32_t(Emf::EMR_SETBKMODE) : uint32_t(Wmf::META_SETBKMODE),
                Gdi::TRANSPARENT);
    ValueRecord(emf ? uint32_t(Emf::EMR_SETTEXTALIGN) : uint32_t(Wmf::META_SETTEXTALIGN),
                Gdi::TA_BASELINE | Gdi::TA_LEFT | Gdi::TA_NOUPDATECP);
    // Every clip is set inside a saved device context, so the next one starts from no clip.
    SimpleRecord(emf ? uint32_t(Emf::EMR_SAVEDC) : uint32_t(Wmf::META_SAVEDC));
    m_inClipSave = true;
    return true;
}

// Back to the device context saved last.
void TMetaRecordEngine::RestoreSavedDC() {
    const bool emf = Emf();
    const qsizetype at =
        BeginRecord(emf ? uint32_t(Emf::EMR_RESTOREDC) : uint32_t(Wmf::META_RESTOREDC));
    if (emf)
        m_out.I32(-1);
    else
        m_out.I16(-1);
    EndRecord(at);
}

bool TMetaRecordEngine::end() {
    ApplyClip();
    FlushText();
    const bool emf = Emf();
    // Back to the device context of the start, where none of our objects is selected, so that
    // every object can be deleted and the table is left empty.
    RestoreSavedDC();
    for (size_t i = emf ? 1 : 0; i < m_objects.size(); ++i)
        if (m_objects[i])
            DeleteObject(static_cast<int>(i));

    if (emf) {
        const qsizetype at = BeginRecord(Emf::EMR_EOF);
        m_out.U32(0);  // nPalEntries
        m_out.U32(16); // offPalEntries
        m_out.U32(20); // nSizeLast
        EndRecord(at);
    } else {
        SimpleRecord(Wmf::META_EOF);
    }
    FinishHeader();
    m_result = m_out.Bytes();
    m_out = TBuffer();
    return true;
}

void TMetaRecordEngine::updateState(const QPaintEngineState& s) {
    const DirtyFlags dirty = s.state();
    if (dirty & DirtyTransform)
        m_transform = s.transform();
    if (dirty & DirtyPen)
        m_qpen = s.pen();
    if (dirty & DirtyBrush)
        m_qbrush = s.brush();
    if (dirty & DirtyBrushOrigin)
        m_brushOrigin = s.brushOrigin();
    if (dirty & DirtyOpacity)
        m_opacity = s.opacity();
    if (dirty & DirtyBackgroundMode)
        m_bgMode = s.backgroundMode();
    if (dirty & DirtyHints)
        m_hints = s.renderHints();
    if (dirty & DirtyCompositionMode)
        m_composition = s.compositionMode();
    if (dirty & (DirtyClipPath | DirtyClipRegion | DirtyClipEnabled))
        m_clipDirty = true;
}

void TMetaRecordEngine::ApplyClip() {
    if (!m_clipDirty)
        return;
    m_clipDirty = false;
    // The painter keeps the clip in its own coordinates; the metafile wants device space. A
    // player saves and restores the painter around every record, so most changes end where
    // they began: only a clip that really differs is written.
    QPainter* p = painter();
    const bool clipped = p && p->hasClipping();
    const QPainterPath clip = clipped ? p->combinedTransform().map(p->clipPath()) : QPainterPath();
    if (clipped == m_clipped && clip == m_clip)
        return;
    m_clipped = clipped;
    m_clip = clip;
    FlushText(); // drawn under the clip before
    const bool emf = Emf();
    RestoreSavedDC();
    SimpleRecord(emf ? uint32_t(Emf::EMR_SAVEDC) : uint32_t(Wmf::META_SAVEDC));
    ForgetSelections();
    if (!clipped)
        return;
    const QPolygonF outline = clip.toFillPolygon();
    const QRectF box = clip.boundingRect();
    const bool rectangular =
        clip.isEmpty() ||
        (outline.size() <= 5 && std::all_of(outline.begin(), outline.end(), [&](const QPointF& pt) {
             return (pt.x() == box.left() || pt.x() == box.right()) &&
                    (pt.y() == box.top() || pt.y() == box.bottom());
         }));
    const uint32_t intersect =
        emf ? uint32_t(Emf::EMR_INTERSECTCLIPRECT) : uint32_t(Wmf::META_INTERSECTCLIPRECT);
    if (rectangular) {
        const qsizetype at = BeginRecord(intersect);
        Rect(clip.isEmpty() ? QRectF() : box);
        EndRecord(at);
        return;
    }
    if (emf) {
        EmitEmfPath(clip, false, false);
        ValueRecord(Emf::EMR_SELECTCLIPPATH, Gdi::RGN_AND);
        return;
    }
    // WMF: the bounding box, minus what of it lies outside the clip.
    const QRect bounds = box.toAlignedRect();
    const QRegion outside = QRegion(bounds) - QRegion(outline.toPolygon(), clip.fillRule());
    qsizetype at = BeginRecord(intersect);
    Rect(bounds);
    EndRecord(at);
    if (outside.rectCount() > WmfMaxClipRects)
        return;
    for (const QRect& r : outside) {
        at = BeginRecord(Wmf::META_EXCLUDECLIPRECT);
        Rect(QRectF(r));
        EndRecord(at);
    }
}

TPenDesc TMetaRecordEngine::PenFor(const QPen& pen, bool* representable) const {
    TPenDesc desc;
    if (pen.style() == Qt::NoPen || pen.brush().style() == Qt::NoBrush ||
        (pen.brush().style() == Qt::SolidPattern && pen.color().alpha() == 0))
        return desc;
    if (pen.brush().style() != Qt::SolidPattern ||
        (Emf() && (pen.color().alpha() != 255 || m_opacity < 1)))
        *representable = false;
    desc.null = false;
    desc.colour = Emf() ? pen.color().rgb() : OnWhite(pen.color());
    switch (pen.style()) {
    case Qt::DashLine:
    case Qt::CustomDashLine:
        desc.style = Gdi::PS_DASH;
        break;
    case Qt::DotLine:
        desc.style = Gdi::PS_DOT;
        break;
    case Qt::DashDotLine:
        desc.style = Gdi::PS_DASHDOT;
        break;
    case Qt::DashDotDotLine:
        desc.style = Gdi::PS_DASHDOTDOT;
        break;
    default:
        desc.style = Gdi::PS_SOLID;
        break;
    }
    if (pen.isCosmetic()) {
        // Cosmetic hairlines stay one device pixel wide at any scale; wider cosmetic pens are
        // taken at the picture's own scale.
        desc.width = pen.widthF() <= 1 ? 0 : pen.widthF();
        return desc;
    }
    desc.width = pen.widthF() * std::sqrt(std::abs(m_transform.determinant()));
    switch (pen.capStyle()) {
    case Qt::FlatCap:
        desc.style |= Gdi::PS_ENDCAP_FLAT;
        break;
    case Qt::SquareCap:
        desc.style |= Gdi::PS_ENDCAP_SQUARE;
        break;
    default:
        desc.style |= Gdi::PS_ENDCAP_ROUND;
        break;
    }
    switch (pen.joinStyle()) {
    case Qt::BevelJoin:
        desc.style |= Gdi::PS_JOIN_BEVEL;
        break;
    case Qt::RoundJoin:
        desc.style |= Gdi::PS_JOIN_ROUND;
        break;
    default:
        desc.style |= Gdi::PS_JOIN_MITER;
        break;
    }
    return desc;
}

TBrushDesc TMetaRecordEngine::BrushFor(const QBrush& brush, bool* representable) const {
    TBrushDesc desc;
    const Qt::BrushStyle style = brush.style();
    if (style == Qt::NoBrush || (style <= Qt::DiagCrossPattern && brush.color().alpha() == 0))
        return desc;
    desc.null = false;
    desc.colour = Emf() ? brush.color().rgb() : OnWhite(brush.color());
    if (Emf() && (brush.color().alpha() != 255 || m_opacity < 1))
        *representable = false;
    switch (style) {
    case Qt::SolidPattern:
        desc.style = Gdi::BS_SOLID;
        return desc;
    case Qt::HorPattern:
        desc.hatch = Gdi::HS_HORIZONTAL;
        break;
    case Qt::VerPattern:
        desc.hatch = Gdi::HS_VERTICAL;
        break;
    case Qt::CrossPattern:
        desc.hatch = Gdi::HS_CROSS;
        break;
    case Qt::BDiagPattern:
        desc.hatch = Gdi::HS_BDIAGONAL;
        break;
    case Qt::FDiagPattern:
        desc.hatch = Gdi::HS_FDIAGONAL;
        break;
    case Qt::DiagCrossPattern:
        desc.hatch = Gdi::HS_DIAGCROSS;
        break;
    default:
        // Dense patterns, gradients and textures have no metafile brush Velmora writes.
        *representable = false;
        return desc;
    }
    desc.style = Gdi::BS_HATCHED;
    // A hatch over an opaque background or under a brush transform would not come out the same.
    if (m_bgMode == Qt::OpaqueMode || !brush.transform().isIdentity())
        *representable = false;
    return desc;
}

// ---- drawing ---------------------------------------------------------------------------------

void TMetaRecordEngine::Rasterise(const QRectF& deviceBounds,
                                  const std::function<void(QPainter&)>& paint) {
    QRect area = deviceBounds.toAlignedRect().intersected(QRect(QPoint(0, 0), m_size));
    if (QPainter* p = painter(); p && p->hasClipping())
        area &= p->combinedTransform().map(p->clipPath()).boundingRect().toAlignedRect();
    if (area.isEmpty())
        return;
    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHints(m_hints);
        p.translate(-area.topLeft());
        p.setTransform(m_transform, true);
        p.setBrushOrigin(m_brushOrigin);
        p.setBackgroundMode(m_bgMode);
        p.setOpacity(m_opacity);
        paint(p);
    }
    EmitImage(QRectF(area), image, 1.0);
}

void TMetaRecordEngine::drawPath(const QPainterPath& path) {
    FlushText();
    bool representable = !(m_transform.type() == QTransform::TxProject);
    const TPenDesc pen = PenFor(m_qpen, &representable);
    const TBrushDesc brush = BrushFor(m_qbrush, &representable);
    if (pen.null && brush.null)
        return;
    ApplyClip();
    if (!representable) {
        const QPen qpen = m_qpen;
        const QBrush qbrush = m_qbrush;
        QRectF bounds = m_transform.map(path).boundingRect();
        const double halfPen = std::max(1.0, qpen.widthF() * ScaleX(m_transform)) / 2 + 1;
        bounds.adjust(-halfPen, -halfPen, halfPen, halfPen);
        Rasterise(bounds, [&](QPainter& p) {
            p.setPen(qpen);
            p.setBrush(qbrush);
            p.drawPath(path);
        });
        return;
    }
    RecordPath(path, !brush.null, !pen.null);
}

void TMetaRecordEngine::RecordPath(const QPainterPath& path, bool fill, bool stroke) {
    bool ignored = true;
    const TPenDesc pen = PenFor(m_qpen, &ignored);
    const TBrushDesc brush = BrushFor(m_qbrush, &ignored);
    if (fill && stroke && !AllSubpathsClosed(path)) {
        // A metafile strokes a filled figure closed; an open Qt subpath is stroked open.
        RecordPath(path, true, false);
        RecordPath(path, false, true);
        return;
    }
    UsePen(stroke ? pen : TPenDesc());
    UseBrush(fill ? brush : TBrushDesc());
    UseFillMode(path.fillRule());
    UseRop2();

    const QPainterPath device = m_transform.map(path);
    bool curves = false;
    for (int i = 0; i < path.elementCount() && !curves; ++i)
        curves = path.elementAt(i).isCurveTo();
    if (Emf() && curves) {
        EmitEmfPath(device, fill, stroke);
        return;
    }
    // Flattened in logical units, so curves stay smooth however far the file is enlarged.
    const double unit = Emf() ? EmfSubPixels : m_wmfScale;
    const QTransform toUnits = QTransform::fromScale(unit, unit);
    std::vector<QPolygonF> polys;
    for (const QPolygonF& poly : device.toSubpathPolygons(toUnits)) {
        QPolygonF back = toUnits.inverted().map(poly);
        if (back.size() >= 2)
            polys.push_back(std::move(back));
    }
    if (polys.empty())
        return;
    QRectF bounds = device.boundingRect();
    const double half = pen.null ? 0 : std::max(pen.width, 1.0) / 2;
    bounds.adjust(-half, -half, half, half);
    EmitPolys(polys, fill, bounds);
}

void TMetaRecordEngine::EmitPolys(const std::vector<QPolygonF>& polys, bool closed,
                                  const QRectF& bounds) {
    if (Emf()) {
        size_t points = 0;
        for (const auto& poly : polys)
            points += static_cast<size_t>(poly.size());
        bool small = true;
        for (const auto& poly : polys)
            small = small && FitsInt16(poly);
        const uint32_t type =
            closed ? (small ? uint32_t(Emf::EMR_POLYPOLYGON16) : uint32_t(Emf::EMR_POLYPOLYGON))
                   : (small ? uint32_t(Emf::EMR_POLYPOLYLINE16) : uint32_t(Emf::EMR_POLYPOLYLINE));
        const qsizetype at = BeginRecord(type);
        Bounds(bounds);
        m_out.U32(static_cast<uint32_t>(polys.size()));
        m_out.U32(static_cast<uint32_t>(points));
        for (const auto& poly : polys)
            m_out.U32(static_cast<uint32_t>(poly.size()));
        for (const auto& poly : polys)
            for (const QPointF& pt : poly)
                EmfPoint(pt, small);
        EndRecord(at);
        return;
    }
    // WMF counts are 16-bit: longer outlines are thinned to fit.
    auto fit = [](const QPolygonF& poly) {
        constexpr int MaxPoints = 32000;
        if (poly.size() <= MaxPoints)
            return poly;
        QPolygonF thin;
        const double step = double(poly.size()) / MaxPoints;
        for (int i = 0; i < MaxPoints; ++i)
            thin << poly.at(static_cast<int>(i * step));
        thin << poly.last();
        return thin;
    };
    if (closed && polys.size() > 1) {
        const qsizetype at = BeginRecord(Wmf::META_POLYPOLYGON);
        std::vector<QPolygonF> fitted;
        for (const auto& poly : polys)
            fitted.push_back(fit(poly));
        m_out.U16(static_cast<uint32_t>(std::min<size_t>(fitted.size(), 0xFFFF)));
        for (size_t i = 0; i < fitted.size() && i < 0xFFFF; ++i)
            m_out.U16(static_cast<uint32_t>(fitted[i].size()));
        for (size_t i = 0; i < fitted.size() && i < 0xFFFF; ++i)
            for (const QPointF& pt : fitted[i])
                Point(pt);
        EndRecord(at);
        return;
    }
    for (const auto& poly : polys) {
        const QPolygonF fitted = fit(poly);
        const qsizetype at =
            BeginRecord(closed ? uint32_t(Wmf::META_POLYGON) : uint32_t(Wmf::META_POLYLINE));
        m_out.I16(static_cast<int>(fitted.size()));
        for (const QPointF& pt : fitted)
            Point(pt);
        EndRecord(at);
    }
}

void TMetaRecordEngine::EmitEmfPath(const QPainterPath& device, bool fill, bool stroke) {
    SimpleRecord(Emf::EMR_BEGINPATH);
    QPointF start;
    QPointF last;
    bool open = false;
    std::vector<QPointF> run;
    bool runIsBezier = false;
    auto flush = [&] {
        if (run.empty())
            return;
        QPolygonF poly(run.begin(), run.end());
        const bool small = FitsInt16(poly);
        const uint32_t type =
            runIsBezier
                ? (small ? uint32_t(Emf::EMR_POLYBEZIERTO16) : uint32_t(Emf::EMR_POLYBEZIERTO))
                : (small ? uint32_t(Emf::EMR_POLYLINETO16) : uint32_t(Emf::EMR_POLYLINETO));
        const qsizetype at = BeginRecord(type);
        Bounds(poly.boundingRect());
        m_out.U32(static_cast<uint32_t>(run.size()));
        for (const QPointF& pt : run)
            EmfPoint(pt, small);
        EndRecord(at);
        run.clear();
    };
    auto closeFigure = [&] {
        flush();
        if (open && last == start)
            SimpleRecord(Emf::EMR_CLOSEFIGURE);
    };
    for (int i = 0; i < device.elementCount(); ++i) {
        const QPainterPath::Element e = device.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement: {
            closeFigure();
            const qsizetype at = BeginRecord(Emf::EMR_MOVETOEX);
            Point(e);
            EndRecord(at);
            start = last = e;
            open = true;
            break;
        }
        case QPainterPath::LineToElement:
            if (runIsBezier)
                flush();
            runIsBezier = false;
            run.push_back(e);
            last = e;
            break;
        case QPainterPath::CurveToElement:
            if (!runIsBezier)
                flush();
            runIsBezier = true;
            run.push_back(e);
            break;
        case QPainterPath::CurveToDataElement:
            run.push_back(e);
            last = e;
            break;
        }
    }
    closeFigure();
    SimpleRecord(Emf::EMR_ENDPATH);
    if (!fill && !stroke)
        return;
    const uint32_t type = fill && stroke ? uint32_t(Emf::EMR_STROKEANDFILLPATH)
                          : fill         ? uint32_t(Emf::EMR_FILLPATH)
                                         : uint32_t(Emf::EMR_STROKEPATH);
    const qsizetype at = BeginRecord(type);
    Bounds(device.boundingRect());
    EndRecord(at);
}

void TMetaRecordEngine::drawPolygon(const QPointF* points, int pointCount, PolygonDrawMode mode) {
    if (pointCount < 2)
        return;
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points, points + pointCount)));
    if (mode == PolylineMode) {
        const QBrush saved = m_qbrush;
        m_qbrush = QBrush();
        drawPath(path);
        m_qbrush = saved;
        return;
    }
    path.closeSubpath();
    path.setFillRule(mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
    drawPath(path);
}

void TMetaRecordEngine::drawRects(const QRectF* rects, int rectCount) {
    FlushText();
    bool representable = IsAxisAligned(m_transform);
    const TPenDesc pen = PenFor(m_qpen, &representable);
    const TBrushDesc brush = BrushFor(m_qbrush, &representable);
    if (!representable) {
        for (int i = 0; i < rectCount; ++i) {
            QPainterPath path;
            path.addRect(rects[i]);
            drawPath(path);
        }
        return;
    }
    if (pen.null && brush.null)
        return;
    ApplyClip();
    UsePen(pen);
    UseBrush(brush);
    UseRop2();
    for (int i = 0; i < rectCount; ++i) {
        const QRectF device = m_transform.mapRect(rects[i]);
        const qsizetype at =
            BeginRecord(Emf() ? uint32_t(Emf::EMR_RECTANGLE) : uint32_t(Wmf::META_RECTANGLE));
        Rect(device);
        EndRecord(at);
    }
}

void TMetaRecordEngine::drawEllipse(const QRectF& rect) {
    FlushText();
    bool representable = IsAxisAligned(m_transform);
    const TPenDesc pen = PenFor(m_qpen, &representable);
    const TBrushDesc brush = BrushFor(m_qbrush, &representable);
    if (!representable) {
        QPainterPath path;
        path.addEllipse(rect);
        drawPath(path);
        return;
    }
    if (pen.null && brush.null)
        return;
    ApplyClip();
    UsePen(pen);
    UseBrush(brush);
    UseRop2();
    const qsizetype at =
        BeginRecord(Emf() ? uint32_t(Emf::EMR_ELLIPSE) : uint32_t(Wmf::META_ELLIPSE));
    Rect(m_transform.mapRect(rect));
    EndRecord(at);
}

void TMetaRecordEngine::drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) {
    drawImage(r, pm.toImage(), sr, Qt::AutoColor);
}

void TMetaRecordEngine::drawImage(const QRectF& r, const QImage& image, const QRectF& sr,
                                  Qt::ImageConversionFlags) {
    FlushText();
    if (image.isNull() || r.isEmpty())
        return;
    ApplyClip();
    if (!IsAxisAligned(m_transform)) {
        // Rotated or sheared: rendered upright at the picture's resolution.
        const QImage copy = image;
        Rasterise(m_transform.mapRect(r).adjusted(-1, -1, 1, 1),
                  [&](QPainter& p) { p.drawImage(r, copy, sr); });
        return;
    }
    const QRect source = sr.toAlignedRect().intersected(image.rect());
    if (source.isEmpty())
        return;
    QImage part = source == image.rect() ? image : image.copy(source);
    // A negative scale mirrors; metafile extents stay positive here, the pixels are turned.
    const bool mirrorX = m_transform.m11() < 0;
    const bool mirrorY = m_transform.m22() < 0;
    if (mirrorX || mirrorY)
        part = part.mirrored(mirrorX, mirrorY);
    EmitImage(m_transform.mapRect(r), part, m_opacity);
}

void TMetaRecordEngine::EmitImage(const QRectF& device, const QImage& image, double opacity) {
    const bool transparent = opacity < 1 || !AllOpaque(image);
    const QRectF dest = device.normalized();
    const int x = X(dest.left());
    const int y = X(dest.top());
    const int cx = std::max(1, X(dest.right()) - x);
    const int cy = std::max(1, X(dest.bottom()) - y);
    if (Emf() && transparent) {
        const QByteArray dib = AlphaDib(image);
        constexpr uint32_t Fixed = 108;
        const qsizetype at = BeginRecord(Emf::EMR_ALPHABLEND);
        Bounds(dest);
        m_out.I32(x);
        m_out.I32(y);
        m_out.I32(cx);
        m_out.I32(cy);
        const auto constant =
            static_cast<uint32_t>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
        m_out.U32(uint32_t(Emf::AC_SRC_OVER) | constant << 16 | uint32_t(Emf::AC_SRC_ALPHA) << 24);
        m_out.I32(0);
        m_out.I32(0);
        for (float f : {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f})
            m_out.F32(f);
        m_out.U32(0); // crBkColorSrc
        m_out.U32(Gdi::DIB_RGB_COLORS);
        m_out.U32(Fixed);
        m_out.U32(40);
        m_out.U32(Fixed + 40);
        m_out.U32(static_cast<uint32_t>(dib.size() - 40));
        m_out.I32(image.width());
        m_out.I32(image.height());
        m_out.Raw(dib);
        EndRecord(at);
        return;
    }
    if (!Emf() && transparent && m_composition == QPainter::CompositionMode_SourceOver) {
        // WMF has no alpha: the classic mask pair instead. A mask that is white where the image
        // is transparent clears the opaque parts (SRCAND), then the image on black is or-ed in
        // (SRCPAINT); partial alpha becomes a grey mask and a premultiplied colour.
        QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (opacity < 1) {
            QImage faded(premultiplied.size(), QImage::Format_ARGB32_Premultiplied);
            faded.fill(Qt::transparent);
            QPainter p(&faded);
            p.setOpacity(opacity);
            p.drawImage(0, 0, premultiplied);
            p.end();
            premultiplied = faded;
        }
        QImage mask(premultiplied.size(), QImage::Format_RGB888);
        QImage colours(premultiplied.size(), QImage::Format_RGB888);
        for (int row = 0; row < premultiplied.height(); ++row) {
            const auto* in = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(row));
            uchar* m = mask.scanLine(row);
            uchar* c = colours.scanLine(row);
            for (int col = 0; col < premultiplied.width(); ++col) {
                const QRgb px = in[col];
                const auto clear = static_cast<uchar>(255 - qAlpha(px));
                m[3 * col] = m[3 * col + 1] = m[3 * col + 2] = clear;
                c[3 * col] = static_cast<uchar>(qRed(px));
                c[3 * col + 1] = static_cast<uchar>(qGreen(px));
                c[3 * col + 2] = static_cast<uchar>(qBlue(px));
            }
        }
        WriteStretchDib(mask, Gdi::SRCAND, x, y, cx, cy);
        WriteStretchDib(colours, Gdi::SRCPAINT, x, y, cx, cy);
        return;
    }
    QImage opaque = image;
    if (transparent) {
        // Composited on white where the mask pair would not mean the same.
        opaque = QImage(image.size(), QImage::Format_RGB888);
        opaque.fill(Qt::white);
        QPainter p(&opaque);
        p.setOpacity(opacity);
        p.drawImage(0, 0, image);
    }
    if (!Emf()) {
        WriteStretchDib(opaque, Rop3Of(m_composition), x, y, cx, cy);
        return;
    }
    const QByteArray dib = OpaqueDib(opaque);
    const uint32_t headerBytes = DibHeaderBytes(dib);
    constexpr uint32_t Fixed = 80;
    const qsizetype at = BeginRecord(Emf::EMR_STRETCHDIBITS);
    Bounds(dest);
    m_out.I32(x);
    m_out.I32(y);
    m_out.I32(0);
    m_out.I32(0);
    m_out.I32(opaque.width());
    m_out.I32(opaque.height());
    m_out.U32(Fixed);
    m_out.U32(headerBytes);
    m_out.U32(Fixed + headerBytes);
    m_out.U32(static_cast<uint32_t>(dib.size()) - headerBytes);
    m_out.U32(Gdi::DIB_RGB_COLORS);
    m_out.U32(Rop3Of(m_composition));
    m_out.I32(cx);
    m_out.I32(cy);
    m_out.Raw(dib);
    EndRecord(at);
}

void TMetaRecordEngine::WriteStretchDib(const QImage& input, uint32_t rop, int x, int y, int cx,
                                        int cy) {
    // The source size is 16-bit in a WMF record.
    constexpr int MaxSide = 32767;
    const QImage opaque =
        input.width() > MaxSide || input.height() > MaxSide
            ? input.scaled(QSize(MaxSide, MaxSide), Qt::KeepAspectRatio, Qt::SmoothTransformation)
            : input;
    const QByteArray dib = OpaqueDib(opaque);
    const qsizetype at = BeginRecord(Wmf::META_STRETCHDIB);
    m_out.U32(rop);
    m_out.U16(Gdi::DIB_RGB_COLORS);
    m_out.I16(opaque.height());
    m_out.I16(opaque.width());
    m_out.I16(0);
    m_out.I16(0);
    m_out.I16(cy);
    m_out.I16(cx);
    m_out.I16(y);
    m_out.I16(x);
    m_out.Raw(dib);
    EndRecord(at);
}

void TMetaRecordEngine::RecordAsPath(const QPainterPath& logical, const QPen& pen,
                                     const QBrush& brush) {
    const QPen savedPen = m_qpen;
    const QBrush savedBrush = m_qbrush;
    m_qpen = pen;
    m_qbrush = brush;
    drawPath(logical);
    m_qpen = savedPen;
    m_qbrush = savedBrush;
}

void TMetaRecordEngine::drawTextItem(const QPointF& p, const QTextItem& textItem) {
    const QString text = textItem.text();
    if (text.isEmpty() || m_qpen.style() == Qt::NoPen)
        return;
    const QFont font = textItem.font();
    const QColor colour = m_qpen.color();
    // Text a metafile font cannot say (mirrored, sheared, translucent, patterned, or characters
    // outside a WMF's code page) is drawn as its outlines instead.
    const double sx = ScaleX(m_transform);
    const double sy = ScaleY(m_transform);
    const bool upright =
        m_transform.type() != QTransform::TxProject && m_transform.determinant() > 0 &&
        std::abs(m_transform.m11() * m_transform.m21() + m_transform.m12() * m_transform.m22()) <
            1e-6 * sx * sy;
    const bool plainColour = m_qpen.brush().style() == Qt::SolidPattern &&
                             (!Emf() || (colour.alpha() == 255 && m_opacity >= 1));
    // WMF text is code page 1252: other characters would be lost, their outlines are not.
    const bool encodable = Emf() || InCp1252(text);
    if (!upright || !plainColour || !encodable || sx <= 0 || sy <= 0) {
        QPainterPath outline;
        outline.addText(p, font, text);
        RecordAsPath(outline, Qt::NoPen, m_qpen.brush());
        return;
    }
    ApplyClip();

    QFontMetricsF metrics(font, paintDevice());
    const double pixelSize =
        font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * ScreenDpi / 72.0;
    TFontDesc desc;
    desc.face = font.family();
    desc.height = -std::max(1, Units(pixelSize * sy));
    // Escapement counts tenths of a degree counter-clockwise on the device (y down).
    const double degrees = -std::atan2(m_transform.m12(), m_transform.m11()) * 180 / M_PI;
    desc.escapement = static_cast<int>(std::lround(degrees * 10)) % 3600;
    if (desc.escapement < 0)
        desc.escapement += 3600;
    desc.weight = std::clamp(static_cast<int>(font.weight()), 1, 1000);
    desc.italic = font.italic();
    // QPainter draws underline and strike-out itself, as lines after the text: a font that
    // draws them too would draw them twice.
    desc.underline = false;
    desc.strikeOut = false;
    const QRgb rgb = Emf() ? colour.rgb() : OnWhite(colour);

    const QPointF origin = m_transform.map(p);
    const QPointF along = m_transform.map(p + QPointF(1, 0)) - origin;
    const QPointF direction = along / std::hypot(along.x(), along.y());
    const QRectF bounds =
        m_transform.mapRect(QRectF(p.x(), p.y() - textItem.ascent(), textItem.width(),
                                   textItem.ascent() + textItem.descent()));

    // A player that honours glyph advances draws a string glyph by glyph; glyphs that continue
    // the pending string on its baseline join it, so the file keeps one record per string.
    TTextRun& run = m_text;
    const QPointF offset = origin - run.origin;
    const double onBaseline = offset.x() * run.direction.x() + offset.y() * run.direction.y();
    const double offBaseline = -offset.x() * run.direction.y() + offset.y() * run.direction.x();
    constexpr int MaxRunChars = 4000;
    const bool joins = run.active && run.font == desc && run.colour == rgb &&
                       std::abs(offBaseline) < 0.05 && !run.positions.empty() &&
                       onBaseline >= run.positions.back() - 0.01 &&
                       run.text.size() + text.size() <= MaxRunChars;
    if (!joins) {
        FlushText();
        run.active = true;
        run.font = desc;
        run.colour = rgb;
        run.origin = origin;
        run.direction = direction;
        run.text.clear();
        run.positions.clear();
        run.bounds = bounds;
    }
    const double start = joins ? onBaseline : 0;
    // Glyph advances from Qt's own layout, so the string keeps the width Qt gave it.
    for (int i = 0; i < text.size(); ++i)
        run.positions.push_back(start + metrics.horizontalAdvance(text.left(i)) * sx);
    run.end = start + metrics.horizontalAdvance(text) * sx;
    run.text += text;
    run.bounds |= bounds;
}

void TMetaRecordEngine::FlushText() {
    TTextRun& run = m_text;
    if (!run.active)
        return;
    run.active = false;
    if (run.text.isEmpty())
        return;
    UseFont(run.font);
    UseTextColour(run.colour);
    UseRop2();
    std::vector<int> dx;
    int accumulated = 0;
    for (qsizetype i = 0; i < run.text.size(); ++i) {
        const double next = i + 1 < run.text.size() ? run.positions[size_t(i + 1)] : run.end;
        dx.push_back(Units(next) - accumulated);
        accumulated += dx.back();
    }
    const QString& text = run.text;
    if (Emf()) {
        const qsizetype at = BeginRecord(Emf::EMR_EXTTEXTOUTW);
        Bounds(run.bounds);
        m_out.U32(GM_COMPATIBLE);
        m_out.F32(1);
        m_out.F32(1);
        Point(run.origin);
        const auto chars = static_cast<uint32_t>(text.size());
        constexpr uint32_t StringOffset = 76;
        const uint32_t dxOffset = StringOffset + ((chars * 2 + 3) / 4) * 4;
        m_out.U32(chars);
        m_out.U32(StringOffset);
        m_out.U32(Gdi::ETO_NO_RECT);
        for (int i = 0; i < 4; ++i)
            m_out.I32(0);
        m_out.U32(dxOffset);
        for (const QChar ch : text)
            m_out.U16(ch.unicode());
        m_out.PadTo(4);
        for (int d : dx)
            m_out.I32(d);
        EndRecord(at);
        return;
    }
    const QByteArray bytes = ToCp1252(text);
    const qsizetype at = BeginRecord(Wmf::META_EXTTEXTOUT);
    Point(QPointF(run.origin.y(), run.origin.x())); // y before x
    m_out.I16(static_cast<int>(bytes.size()));
    m_out.U16(0);
    m_out.Raw(bytes);
    m_out.PadTo(2);
    for (int d : dx)
        m_out.I16(d);
    EndRecord(at);
}

// ---- the device ------------------------------------------------------------------------------

int WmfUnitsPerInch(QSize size) {
    const int larger = std::max({size.width(), size.height(), 1});
    return std::clamp(static_cast<int>(std::floor(double(WmfMaxUnits) * ScreenDpi / larger)), 1,
                      0xFFFF);
}

TMetaRecorder::TMetaRecorder(TMetafileKind kind, QSize size)
    : m_kind(kind), m_size(size.expandedTo(QSize(1, 1))),
      m_engine(std::make_unique<TMetaRecordEngine>(kind, m_size)) {}

TMetaRecorder::~TMetaRecorder() = default;

QPaintEngine* TMetaRecorder::paintEngine() const {
    return m_engine.get();
}

QByteArray TMetaRecorder::Bytes() const {
    return m_engine->Result();
}

int TMetaRecorder::metric(PaintDeviceMetric metric) const {
    switch (metric) {
    case PdmWidth:
        return m_size.width();
    case PdmHeight:
        return m_size.height();
    case PdmWidthMM:
        return static_cast<int>(std::lround(m_size.width() * 25.4 / ScreenDpi));
    case PdmHeightMM:
        return static_cast<int>(std::lround(m_size.height() * 25.4 / ScreenDpi));
    case PdmNumColors:
        return std::numeric_limits<int>::max();
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return ScreenDpi;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return static_cast<int>(devicePixelRatioFScale());
    default:
        return QPaintDevice::metric(metric);
    }
}

QByteArray RecordGraphic(const TGraphic& graphic, TMetafileKind kind) {
    TMetaRecorder recorder(kind, QSize(graphic.Width(), graphic.Height()));
    QPainter painter(&recorder);
    graphic.Draw(painter, QRect(QPoint(0, 0), recorder.Size()));
    painter.end();
    return recorder.Bytes();
}

// The metafile recorder: what it writes, read back record by record. Headers must agree with the
// records behind them, every object must be created before it is selected and deleted by the end,
// and each kind of drawing must come out as the record a metafile reader expects for it.

#include "pictures/metafile/MetaRecorder.h"
#include "pictures/metafile/MetaReader.h"
#include "pictures/metafile/MetaRecords.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

struct TRecord {
    uint32_t type;
    qsizetype offset; // of the record in the file
    TMetaReader data; // the whole record
};

struct TParsed {
    QByteArray bytes; // what the records point into
    std::vector<TRecord> records;
    bool endsWithEof = false;
};

// Walks the records; stops at the first one that lies about its size.
TParsed Parse(const QByteArray& bytes, TMetafileKind kind) {
    TParsed out;
    out.bytes = bytes;
    const TMetaReader r(out.bytes);
    qsizetype pos = kind == TMetafileKind::Emf ? 0 : Wmf::PlaceableHeaderSize + Wmf::HeaderSize;
    while (r.Has(pos, kind == TMetafileKind::Emf ? 8 : 6)) {
        const bool emf = kind == TMetafileKind::Emf;
        const qsizetype size = emf ? qsizetype(r.U32(pos + 4)) : qsizetype(r.U32(pos)) * 2;
        const uint32_t type = emf ? r.U32(pos) : r.U16(pos + 4);
        if (size < (emf ? 8 : 6) || !r.Has(pos, size))
            break;
        out.records.push_back({type, pos, r.Sub(pos, size)});
        pos += size;
        if (type == (emf ? uint32_t(Emf::EMR_EOF) : uint32_t(Wmf::META_EOF))) {
            out.endsWithEof = pos == bytes.size();
            break;
        }
    }
    return out;
}

QByteArray Record(TMetafileKind kind, QSize size, const std::function<void(QPainter&)>& draw) {
    TMetaRecorder recorder(kind, size);
    QPainter painter(&recorder);
    draw(painter);
    painter.end();
    return recorder.Bytes();
}

std::vector<const TRecord*> OfType(const TParsed& parsed, uint32_t type) {
    std::vector<const TRecord*> hits;
    for (const TRecord& rec : parsed.records)
        if (rec.type == type)
            hits.push_back(&rec);
    return hits;
}

// Logical units per pixel of a recorded file.
double UnitsPerPixel(TMetafileKind kind, QSize size) {
    return kind == TMetafileKind::Emf ? 16.0 : WmfUnitsPerInch(size) / 96.0;
}

void DrawEverything(QPainter& p) {
    p.setPen(QPen(Qt::red, 3));
    p.setBrush(Qt::blue);
    p.drawRect(QRectF(10, 20, 30, 40));
    p.drawEllipse(QRectF(50, 10, 40, 20));
    QPainterPath curve;
    curve.moveTo(10, 90);
    curve.cubicTo(30, 70, 60, 110, 90, 90);
    curve.closeSubpath();
    p.drawPath(curve);
    p.setFont(QFont(QStringLiteral("Liberation Sans"), 12));
    p.drawText(QPointF(10, 130), QStringLiteral("Grüße"));
    QImage opaque(4, 3, QImage::Format_RGB32);
    opaque.fill(Qt::green);
    p.drawImage(QRectF(100, 10, 40, 30), opaque);
    QImage alpha(4, 3, QImage::Format_ARGB32);
    alpha.fill(qRgba(0, 0, 255, 128));
    p.drawImage(QRectF(100, 50, 40, 30), alpha);
}

} // namespace

TEST(MetaRecorder, HeadersAgreeWithRecordsAndSizeReadsBack) {
    const struct {
        TMetafileKind kind;
        QSize size;
    } cases[] = {
        {TMetafileKind::Emf, {160, 140}},   {TMetafileKind::Wmf, {160, 140}},
        {TMetafileKind::Emf, {1, 1}},       {TMetafileKind::Wmf, {1, 1}},
        {TMetafileKind::Emf, {4961, 7016}}, {TMetafileKind::Wmf, {4961, 7016}},
        {TMetafileKind::Wmf, {30000, 300}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.kind == TMetafileKind::Emf ? "EMF " : "WMF ")
                                        << c.size.width() << "x" << c.size.height());
        const QByteArray bytes = Record(c.kind, c.size, DrawEverything);
        const TParsed parsed = Parse(bytes, c.kind);
        ASSERT_TRUE(parsed.endsWithEof);
        const TMetaReader r(bytes);
        uint32_t maxRecordWords = 0;
        for (const TRecord& rec : parsed.records)
            maxRecordWords = std::max(maxRecordWords, uint32_t(rec.data.Size() / 2));
        if (c.kind == TMetafileKind::Emf) {
            EXPECT_EQ(r.U32(0), Emf::EMR_HEADER);
            EXPECT_EQ(r.U32(4), uint32_t(Emf::HeaderSizeWithMicrometers));
            EXPECT_EQ(r.U32(40), Emf::Signature);
            EXPECT_EQ(r.U32(48), uint32_t(bytes.size()));          // nBytes
            EXPECT_EQ(r.U32(52), uint32_t(parsed.records.size())); // nRecords, header included
            // The reference device is 96 dpi, in millimetres and in micrometres alike.
            EXPECT_NEAR(r.I32(72) / double(r.I32(80)), 96 / 25.4, 1e-9);
            EXPECT_NEAR(r.I32(76) / double(r.I32(104) / 1000.0), 96 / 25.4, 1e-9);
        } else {
            EXPECT_EQ(r.U32(0), Wmf::PlaceableKey);
            uint16_t checksum = 0;
            for (int i = 0; i < 20; i += 2)
                checksum ^= r.U16(i);
            EXPECT_EQ(r.U16(20), checksum);
            EXPECT_EQ(r.U16(14), WmfUnitsPerInch(c.size));
            EXPECT_LE(std::max(r.I16(10), r.I16(12)), 32000);
            const int larger = std::max(c.size.width(), c.size.height());
            EXPECT_NEAR(std::max(r.I16(10), r.I16(12)), larger * r.U16(14) / 96.0, 1);
            const qsizetype h = Wmf::PlaceableHeaderSize;
            EXPECT_EQ(r.U16(h + 4), Wmf::Version300);
            EXPECT_EQ(r.U32(h + 6), uint32_t((bytes.size() - h) / 2)); // size in words
            EXPECT_EQ(r.U32(h + 12), maxRecordWords);
        }
        // Velmora's own reader finds the size the recorder was given (within rounding of the
        // header's units).
        const TMetafile file(bytes);
        EXPECT_EQ(file.MetafileKind(), c.kind);
        EXPECT_NEAR(file.Width(), c.size.width(), c.size.width() / 20000.0 + 0.5);
        EXPECT_NEAR(file.Height(), c.size.height(), c.size.width() / 20000.0 + 0.5);
    }
}

TEST(MetaRecorder, ObjectsAreCreatedBeforeUseAndAllDeletedAtTheEnd) {
    for (TMetafileKind kind : {TMetafileKind::Emf, TMetafileKind::Wmf}) {
        SCOPED_TRACE(kind == TMetafileKind::Emf ? "EMF" : "WMF");
        const bool emf = kind == TMetafileKind::Emf;
        const QByteArray bytes = Record(kind, {200, 200}, [](QPainter& p) {
            // Many changes of pen, brush, font and clip, so slots are reused and re-selected.
            for (int i = 0; i < 20; ++i) {
                p.setPen(QPen(QColor::fromHsv(i * 17 % 360, 255, 200), i % 4));
                p.setBrush(QColor::fromHsv(i * 31 % 360, 200, 255));
                if (i % 5 == 0)
                    p.setClipRect(QRect(i, i, 150, 150));
                p.drawRect(QRect(i * 5, i * 5, 20, 20));
                p.setFont(QFont(QStringLiteral("Liberation Serif"), 8 + i));
                p.drawText(QPointF(10, 10 + i * 8), QStringLiteral("x"));
            }
        });
        const TParsed parsed = Parse(bytes, kind);
        ASSERT_TRUE(parsed.endsWithEof);
        std::set<uint32_t> alive;
        uint32_t highest = 0;
        const std::set<uint32_t> creators =
            emf ? std::set<uint32_t>{Emf::EMR_CREATEPEN, Emf::EMR_EXTCREATEPEN,
                                     Emf::EMR_CREATEBRUSHINDIRECT, Emf::EMR_EXTCREATEFONTINDIRECTW}
                : std::set<uint32_t>{Wmf::META_CREATEPENINDIRECT, Wmf::META_CREATEBRUSHINDIRECT,
                                     Wmf::META_CREATEFONTINDIRECT};
        for (const TRecord& rec : parsed.records) {
            const TMetaReader& d = rec.data;
            if (creators.count(rec.type)) {
                // EMF names the index; WMF takes the lowest free slot.
                uint32_t index = 0;
                if (emf) {
                    index = d.U32(8);
                } else {
                    while (alive.count(index))
                        ++index;
                }
                EXPECT_FALSE(alive.count(index)) << "index " << index << " created twice";
                EXPECT_NE(index, emf ? 0u : 0xFFFFu);
                alive.insert(index);
                highest = std::max(highest, index);
            } else if (rec.type ==
                       (emf ? uint32_t(Emf::EMR_SELECTOBJECT) : uint32_t(Wmf::META_SELECTOBJECT))) {
                const uint32_t index = emf ? d.U32(8) : d.U16(6);
                EXPECT_TRUE(alive.count(index)) << "selects missing object " << index;
            } else if (rec.type ==
                       (emf ? uint32_t(Emf::EMR_DELETEOBJECT) : uint32_t(Wmf::META_DELETEOBJECT))) {
                const uint32_t index = emf ? d.U32(8) : d.U16(6);
                EXPECT_EQ(alive.erase(index), 1u) << "deletes missing object " << index;
            }
        }
        EXPECT_TRUE(alive.empty());
        const TMetaReader r(bytes);
        // EMF's nHandles counts the reserved index 0.
        EXPECT_EQ(r.U16(emf ? 56 : Wmf::PlaceableHeaderSize + 10), highest + 1);
        // Pens and brushes do not pile up: a handful of slots serve twenty changes.
        EXPECT_LE(highest, 4u);
    }
}

TEST(MetaRecorder, ShapesTextAndImagesKeepTheirKind) {
    const struct {
        TMetafileKind kind;
        std::vector<uint32_t> expected;
        std::vector<uint32_t> absent;
    } cases[] = {
        {TMetafileKind::Emf,
         {Emf::EMR_RECTANGLE, Emf::EMR_ELLIPSE, Emf::EMR_BEGINPATH, Emf::EMR_POLYBEZIERTO16,
          Emf::EMR_CLOSEFIGURE, Emf::EMR_STROKEANDFILLPATH, Emf::EMR_EXTTEXTOUTW,
          Emf::EMR_STRETCHDIBITS, Emf::EMR_ALPHABLEND},
         {}},
        {TMetafileKind::Wmf,
         {Wmf::META_RECTANGLE, Wmf::META_ELLIPSE, Wmf::META_POLYGON, Wmf::META_EXTTEXTOUT,
          Wmf::META_STRETCHDIB},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind == TMetafileKind::Emf ? "EMF" : "WMF");
        const TParsed parsed = Parse(Record(c.kind, {160, 140}, DrawEverything), c.kind);
        for (uint32_t type : c.expected)
            EXPECT_FALSE(OfType(parsed, type).empty()) << "no record " << type;
        if (c.kind == TMetafileKind::Wmf) {
            // The opaque image copied; the one with alpha as a mask pair (WMF has no alpha).
            std::vector<uint32_t> rops;
            for (const TRecord* rec : OfType(parsed, Wmf::META_STRETCHDIB))
                rops.push_back(rec->data.U32(6));
            EXPECT_EQ(rops, (std::vector<uint32_t>{Gdi::SRCCOPY, Gdi::SRCAND, Gdi::SRCPAINT}));
        } else {
            EXPECT_EQ(OfType(parsed, Emf::EMR_STRETCHDIBITS).size(), 1u); // the opaque one
        }
    }
}

TEST(MetaRecorder, EmfPointListsAre16BitWhileEveryPointFits) {
    // 1/16 px units: 16-bit coordinates reach 2047 pixels.
    const struct {
        double far;
        uint32_t polygon;
        uint32_t bezier;
    } cases[] = {
        {2000, Emf::EMR_POLYPOLYGON16, Emf::EMR_POLYBEZIERTO16},
        {2100, Emf::EMR_POLYPOLYGON, Emf::EMR_POLYBEZIERTO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.far);
        const QByteArray bytes = Record(TMetafileKind::Emf, {2200, 100}, [&](QPainter& p) {
            p.setBrush(Qt::black);
            p.drawPolygon(QPolygonF({QPointF(10, 10), QPointF(c.far, 50), QPointF(10, 90)}));
            QPainterPath curve;
            curve.moveTo(10, 50);
            curve.cubicTo(100, 0, 200, 100, c.far, 50);
            p.setBrush(Qt::NoBrush);
            p.drawPath(curve);
        });
        const TParsed parsed = Parse(bytes, TMetafileKind::Emf);
        const auto polygons = OfType(parsed, c.polygon);
        ASSERT_EQ(polygons.size(), 1u);
        const auto beziers = OfType(parsed, c.bezier);
        ASSERT_EQ(beziers.size(), 1u);
        // The far point, read back in the record's own width.
        const TMetaReader& poly = polygons[0]->data;
        const bool small = c.polygon == Emf::EMR_POLYPOLYGON16;
        const qsizetype second = 8 + 16 + 8 + 4 + (small ? 4 : 8); // after one count, one point
        EXPECT_EQ(small ? poly.I16(second) : poly.I32(second), int(c.far * 16));
        const TMetaReader& bez = beziers[0]->data;
        const qsizetype third = 8 + 16 + 4 + 2 * (small ? 4 : 8);
        EXPECT_EQ(small ? bez.I16(third) : bez.I32(third), int(c.far * 16));
    }
}

TEST(MetaRecorder, CoordinatesAreInTheFilesUnits) {
    const QSize size(200, 100);
    for (TMetafileKind kind : {TMetafileKind::Emf, TMetafileKind::Wmf}) {
        SCOPED_TRACE(kind == TMetafileKind::Emf ? "EMF" : "WMF");
        const double u = UnitsPerPixel(kind, size);
        const QByteArray bytes = Record(kind, size, [](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.translate(5, 10); // the painter's transform goes into the coordinates
            p.scale(2, 2);
            p.drawRect(QRectF(2.5, 5, 15, 20)); // device 10, 20 to 40, 60
        });
        const TParsed parsed = Parse(bytes, kind);
        if (kind == TMetafileKind::Emf) {
            const auto rects = OfType(parsed, Emf::EMR_RECTANGLE);
            ASSERT_EQ(rects.size(), 1u);
            const TMetaReader& d = rects[0]->data;
            EXPECT_EQ(QRect(QPoint(d.I32(8), d.I32(12)), QPoint(d.I32(16), d.I32(20))),
                      QRect(QPoint(160, 320), QPoint(640, 960)));
            // Window = 16 × viewport.
            const auto window = OfType(parsed, Emf::EMR_SETWINDOWEXTEX);
            const auto viewport = OfType(parsed, Emf::EMR_SETVIEWPORTEXTEX);
            ASSERT_EQ(window.size(), 1u);
            ASSERT_EQ(viewport.size(), 1u);
            EXPECT_EQ(window[0]->data.I32(8), 16 * viewport[0]->data.I32(8));
            EXPECT_EQ(window[0]->data.I32(12), 16 * viewport[0]->data.I32(12));
        } else {
            const auto rects = OfType(parsed, Wmf::META_RECTANGLE);
            ASSERT_EQ(rects.size(), 1u);
            const TMetaReader& d = rects[0]->data; // bottom, right, top, left
            EXPECT_NEAR(d.I16(6), 60 * u, 0.5);
            EXPECT_NEAR(d.I16(8), 40 * u, 0.5);
            EXPECT_NEAR(d.I16(10), 20 * u, 0.5);
            EXPECT_NEAR(d.I16(12), 10 * u, 0.5);
            const auto ext = OfType(parsed, Wmf::META_SETWINDOWEXT); // y before x
            ASSERT_EQ(ext.size(), 1u);
            EXPECT_NEAR(ext[0]->data.I16(6), 100 * u, 0.5);
            EXPECT_NEAR(ext[0]->data.I16(8), 200 * u, 0.5);
        }
    }
}

TEST(MetaRecorder, TextIsWrittenWithItsFontAndAdvances) {
    const QString text = QStringLiteral("Grüße €");
    const QFont font(QStringLiteral("Liberation Sans"), 24);
    const double advance = QFontMetricsF(font).horizontalAdvance(text);
    for (TMetafileKind kind : {TMetafileKind::Emf, TMetafileKind::Wmf}) {
        SCOPED_TRACE(kind == TMetafileKind::Emf ? "EMF" : "WMF");
        const QSize size(300, 100);
        const double u = UnitsPerPixel(kind, size);
        const QByteArray bytes = Record(kind, size, [&](QPainter& p) {
            p.setPen(QColor(10, 20, 30));
            p.setFont(font);
            p.drawText(QPointF(20, 60), text);
        });
        const TParsed parsed = Parse(bytes, kind);
        if (kind == TMetafileKind::Emf) {
            const auto fonts = OfType(parsed, Emf::EMR_EXTCREATEFONTINDIRECTW);
            ASSERT_EQ(fonts.size(), 1u);
            EXPECT_NEAR(fonts[0]->data.I32(12), -24 * 96 / 72.0 * u, 1); // em height
            QString face;
            for (int i = 0; i < 32 && fonts[0]->data.U16(40 + 2 * i); ++i)
                face += QChar(fonts[0]->data.U16(40 + 2 * i));
            EXPECT_EQ(face, font.family());
            const auto texts = OfType(parsed, Emf::EMR_EXTTEXTOUTW);
            ASSERT_EQ(texts.size(), 1u);
            const TMetaReader& d = texts[0]->data;
            EXPECT_NEAR(d.I32(36), 20 * u, 1); // reference point, baseline left
            EXPECT_NEAR(d.I32(40), 60 * u, 1);
            const uint32_t chars = d.U32(44);
            ASSERT_EQ(chars, uint32_t(text.size()));
            QString written;
            for (uint32_t i = 0; i < chars; ++i)
                written += QChar(d.U16(d.U32(48) + 2 * i));
            EXPECT_EQ(written, text);
            int sum = 0;
            for (uint32_t i = 0; i < chars; ++i)
                sum += d.I32(d.U32(72) + 4 * i);
            EXPECT_NEAR(sum, advance * u, 1);
            const auto colours = OfType(parsed, Emf::EMR_SETTEXTCOLOR);
            ASSERT_FALSE(colours.empty());
            EXPECT_EQ(colours.back()->data.U32(8), 10u | 20u << 8 | 30u << 16);
        } else {
            const auto fonts = OfType(parsed, Wmf::META_CREATEFONTINDIRECT);
            ASSERT_EQ(fonts.size(), 1u);
            EXPECT_NEAR(fonts[0]->data.I16(6), -24 * 96 / 72.0 * u, 1);
            EXPECT_EQ(fonts[0]->data.U8(6 + 13), Gdi::ANSI_CHARSET);
            const auto texts = OfType(parsed, Wmf::META_EXTTEXTOUT);
            ASSERT_EQ(texts.size(), 1u);
            const TMetaReader& d = texts[0]->data;
            EXPECT_NEAR(d.I16(6), 60 * u, 1); // y before x
            EXPECT_NEAR(d.I16(8), 20 * u, 1);
            const int length = d.I16(10);
            // Code page 1252: ü, ß and € are single bytes.
            EXPECT_EQ(d.Bytes(14, length), QByteArray("Gr\xFC\xDF"
                                                      "e \x80"));
            int sum = 0;
            const qsizetype dx = 14 + ((length + 1) / 2) * 2;
            for (int i = 0; i < length; ++i)
                sum += d.I16(dx + 2 * i);
            EXPECT_NEAR(sum, advance * u, 1);
        }
    }
}

TEST(MetaRecorder, GlyphsDrawnOneByOneJoinTheirString) {
    // As a player honouring glyph advances draws: one character at a time along the baseline.
    const QFont font(QStringLiteral("Liberation Sans"), 16);
    const QByteArray bytes = Record(TMetafileKind::Emf, {300, 100}, [&](QPainter& p) {
        p.setFont(font);
        double x = 10;
        for (const QChar ch : QStringLiteral("Kopie")) {
            p.drawText(QPointF(x, 40), QString(ch));
            x += 12.5; // wider than the glyphs: the gaps must survive as advances
        }
        p.drawText(QPointF(10, 80), QStringLiteral("neu")); // another line
        p.setPen(Qt::red);
        p.drawText(QPointF(200, 80), QStringLiteral("rot")); // another colour
    });
    const TParsed parsed = Parse(bytes, TMetafileKind::Emf);
    const auto texts = OfType(parsed, Emf::EMR_EXTTEXTOUTW);
    ASSERT_EQ(texts.size(), 3u);
    const TMetaReader& d = texts[0]->data;
    ASSERT_EQ(d.U32(44), 5u);
    QString written;
    for (uint32_t i = 0; i < 5; ++i)
        written += QChar(d.U16(d.U32(48) + 2 * i));
    EXPECT_EQ(written, QStringLiteral("Kopie"));
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_NEAR(d.I32(d.U32(72) + 4 * i), 12.5 * 16, 1) << i;
    EXPECT_NEAR(d.I32(d.U32(72) + 16),
                QFontMetricsF(font).horizontalAdvance(QStringLiteral("e")) * 16, 1);
    EXPECT_EQ(texts[1]->data.U32(44), 3u);
    EXPECT_EQ(texts[2]->data.U32(44), 3u);
}

TEST(MetaRecorder, TextAWmfCannotEncodeBecomesOutlines) {
    const struct {
        const char* name;
        TMetafileKind kind;
        QString text;
        bool asText;
    } cases[] = {
        {"EMF, Cyrillic", TMetafileKind::Emf, QStringLiteral("Привет"), true},
        {"WMF, Cyrillic", TMetafileKind::Wmf, QStringLiteral("Привет"), false},
        {"WMF, German and a question mark", TMetafileKind::Wmf, QStringLiteral("Größe?"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TParsed parsed = Parse(Record(c.kind, {200, 50},
                                            [&](QPainter& p) {
                                                p.setFont(QFont(QStringLiteral("DejaVu Sans"), 14));
                                                p.drawText(QPointF(10, 30), c.text);
                                            }),
                                     c.kind);
        const bool emf = c.kind == TMetafileKind::Emf;
        const size_t texts =
            OfType(parsed, emf ? uint32_t(Emf::EMR_EXTTEXTOUTW) : uint32_t(Wmf::META_EXTTEXTOUT))
                .size();
        const size_t outlines =
            OfType(parsed, emf ? uint32_t(Emf::EMR_FILLPATH) : uint32_t(Wmf::META_POLYPOLYGON))
                .size();
        EXPECT_EQ(texts, c.asText ? 1u : 0u);
        EXPECT_EQ(outlines, c.asText ? 0u : 1u);
    }
}

TEST(MetaRecorder, UnderlineIsDrawnOnceAsALine) {
    QFont font(QStringLiteral("Liberation Sans"), 14);
    font.setUnderline(true);
    font.setStrikeOut(true);
    const TParsed parsed = Parse(Record(TMetafileKind::Emf, {200, 50},
                                        [&](QPainter& p) {
                                            p.setFont(font);
                                            p.drawText(QPointF(10, 30), QStringLiteral("Linie"));
                                        }),
                                 TMetafileKind::Emf);
    const auto fonts = OfType(parsed, Emf::EMR_EXTCREATEFONTINDIRECTW);
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_EQ(fonts[0]->data.U8(12 + 21), 0); // lfUnderline
    EXPECT_EQ(fonts[0]->data.U8(12 + 22), 0); // lfStrikeOut
    EXPECT_EQ(OfType(parsed, Emf::EMR_POLYPOLYLINE16).size() +
                  OfType(parsed, Emf::EMR_RECTANGLE).size() +
                  OfType(parsed, Emf::EMR_POLYPOLYGON16).size(),
              2u);
}

TEST(MetaRecorder, PensAndBrushesAsTheMetafileSaysThem) {
    // Each case: what is drawn, and the pen width / brush colour expected in the file.
    const struct {
        const char* name;
        QPen pen;
        QBrush brush;
        double deviceWidth; // 0: a one-pixel hairline
        QRgb wmfBrush;
    } cases[] = {
        {"hairline", QPen(Qt::black, 0), QBrush(Qt::red), 0, qRgb(255, 0, 0)},
        {"scaled wide pen", QPen(Qt::black, 2), QBrush(Qt::blue), 6, qRgb(0, 0, 255)},
        {"half-transparent brush", QPen(Qt::NoPen), QBrush(QColor(0, 0, 0, 128)), -1,
         qRgb(127, 127, 127)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto draw = [&](QPainter& p) {
            p.scale(3, 3);
            p.setPen(c.pen);
            p.setBrush(c.brush);
            p.drawRect(QRectF(5, 5, 20, 20));
        };
        const QSize size(100, 100);
        const TParsed emf = Parse(Record(TMetafileKind::Emf, size, draw), TMetafileKind::Emf);
        const TParsed wmf = Parse(Record(TMetafileKind::Wmf, size, draw), TMetafileKind::Wmf);
        const double u = UnitsPerPixel(TMetafileKind::Wmf, size);
        if (c.deviceWidth < 0) {
            // EMF keeps the alpha by drawing an image; WMF mixes the colour with white.
            EXPECT_EQ(OfType(emf, Emf::EMR_ALPHABLEND).size(), 1u);
            EXPECT_TRUE(OfType(emf, Emf::EMR_RECTANGLE).empty());
        } else if (c.deviceWidth == 0) {
            const auto pens = OfType(emf, Emf::EMR_CREATEPEN);
            ASSERT_FALSE(pens.empty());
            EXPECT_EQ(pens.back()->data.I32(16), 0);
        } else {
            const auto pens = OfType(emf, Emf::EMR_EXTCREATEPEN);
            ASSERT_EQ(pens.size(), 1u);
            EXPECT_EQ(pens[0]->data.U32(32), uint32_t(c.deviceWidth * 16));
            EXPECT_TRUE(pens[0]->data.U32(28) & Gdi::PS_GEOMETRIC);
        }
        const auto wmfPens = OfType(wmf, Wmf::META_CREATEPENINDIRECT);
        ASSERT_FALSE(wmfPens.empty());
        const auto wmfBrushes = OfType(wmf, Wmf::META_CREATEBRUSHINDIRECT);
        ASSERT_FALSE(wmfBrushes.empty());
        const uint32_t colour = wmfBrushes.back()->data.U32(8);
        EXPECT_EQ(colour, uint32_t(qRed(c.wmfBrush)) | uint32_t(qGreen(c.wmfBrush)) << 8 |
                              uint32_t(qBlue(c.wmfBrush)) << 16);
        if (c.deviceWidth >= 0) {
            EXPECT_NEAR(wmfPens.back()->data.I16(8), c.deviceWidth * u, 1);
        }
        EXPECT_EQ(OfType(wmf, Wmf::META_RECTANGLE).size(), 1u);
    }
}

TEST(MetaRecorder, ClipsAreSetFromAFreshDeviceContext) {
    for (TMetafileKind kind : {TMetafileKind::Emf, TMetafileKind::Wmf}) {
        SCOPED_TRACE(kind == TMetafileKind::Emf ? "EMF" : "WMF");
        const bool emf = kind == TMetafileKind::Emf;
        const QByteArray bytes = Record(kind, {100, 100}, [](QPainter& p) {
            p.setBrush(Qt::black);
            p.setClipRect(QRect(10, 10, 50, 50));
            p.drawRect(QRect(0, 0, 100, 100));
            QPainterPath round;
            round.addEllipse(QRectF(20, 20, 60, 60));
            p.setClipPath(round);
            p.drawRect(QRect(0, 0, 100, 100));
            p.setClipping(false);
            p.drawRect(QRect(0, 0, 100, 100));
        });
        const TParsed parsed = Parse(bytes, kind);
        std::vector<uint32_t> sequence;
        const std::set<uint32_t> interesting =
            emf ? std::set<uint32_t>{Emf::EMR_SAVEDC, Emf::EMR_RESTOREDC,
                                     Emf::EMR_INTERSECTCLIPRECT, Emf::EMR_SELECTCLIPPATH,
                                     Emf::EMR_RECTANGLE}
                : std::set<uint32_t>{Wmf::META_SAVEDC, Wmf::META_RESTOREDC,
                                     Wmf::META_INTERSECTCLIPRECT, Wmf::META_EXCLUDECLIPRECT,
                                     Wmf::META_RECTANGLE};
        int depth = 0;
        for (const TRecord& rec : parsed.records) {
            if (rec.type == (emf ? uint32_t(Emf::EMR_SAVEDC) : uint32_t(Wmf::META_SAVEDC)))
                ++depth;
            if (rec.type == (emf ? uint32_t(Emf::EMR_RESTOREDC) : uint32_t(Wmf::META_RESTOREDC)))
                --depth;
            EXPECT_GE(depth, 0);
            EXPECT_LE(depth, 1);
            if (interesting.count(rec.type) &&
                (sequence.empty() || sequence.back() != rec.type ||
                 rec.type == (emf ? uint32_t(Emf::EMR_RECTANGLE) : uint32_t(Wmf::META_RECTANGLE))))
                sequence.push_back(rec.type);
        }
        EXPECT_EQ(depth, 0);
        if (emf) {
            EXPECT_EQ(sequence, (std::vector<uint32_t>{
                                    Emf::EMR_SAVEDC, Emf::EMR_RESTOREDC, Emf::EMR_SAVEDC,
                                    Emf::EMR_INTERSECTCLIPRECT, Emf::EMR_RECTANGLE,
                                    Emf::EMR_RESTOREDC, Emf::EMR_SAVEDC, Emf::EMR_SELECTCLIPPATH,
                                    Emf::EMR_RECTANGLE, Emf::EMR_RESTOREDC, Emf::EMR_SAVEDC,
                                    Emf::EMR_RECTANGLE, Emf::EMR_RESTOREDC}));
        } else {
            EXPECT_EQ(sequence,
                      (std::vector<uint32_t>{
                          Wmf::META_SAVEDC, Wmf::META_RESTOREDC, Wmf::META_SAVEDC,
                          Wmf::META_INTERSECTCLIPRECT, Wmf::META_RECTANGLE, Wmf::META_RESTOREDC,
                          Wmf::META_SAVEDC, Wmf::META_INTERSECTCLIPRECT, Wmf::META_EXCLUDECLIPRECT,
                          Wmf::META_RECTANGLE, Wmf::META_RESTOREDC, Wmf::META_SAVEDC,
                          Wmf::META_RECTANGLE, Wmf::META_RESTOREDC}));
        }
    }
}

TEST(MetaRecorder, AClipThatComesBackTheSameIsNotWrittenAgain) {
    // A player saves and restores the painter around every record.
    const TParsed parsed =
        Parse(Record(TMetafileKind::Emf, {100, 100},
                     [](QPainter& p) {
                         p.setClipRect(QRect(10, 10, 50, 50));
                         for (int i = 0; i < 5; ++i) {
                             p.save();
                             p.setClipRect(QRect(10, 10, 50, 50));
                             p.drawText(QPointF(12 + 8 * i, 40), QStringLiteral("x"));
                             p.restore();
                         }
                     }),
              TMetafileKind::Emf);
    EXPECT_EQ(OfType(parsed, Emf::EMR_INTERSECTCLIPRECT).size(), 1u);
    EXPECT_EQ(OfType(parsed, Emf::EMR_SAVEDC).size(), 2u);      // at the start and for the clip
    EXPECT_EQ(OfType(parsed, Emf::EMR_EXTTEXTOUTW).size(), 1u); // the glyphs joined
}

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

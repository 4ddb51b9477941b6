#include "pictures/metafile/DeviceContext.h"
#include "pictures/metafile/RecordReaders.h"

#include <algorithm>
#include <cstdlib>

namespace MetaPlay {

using namespace Gdi;

namespace {

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

void Record(TDeviceContext& dc, const TMetaReader& rec, uint16_t function) {
    TState& s = dc.State();
    TObjectTable& objects = dc.Objects();
    const auto w = [&rec](int i) { return rec.I16(6 + 2 * qsizetype(i)); };
    const auto pt = [&rec](qsizetype at) { return QPointF(rec.I16(at), rec.I16(at + 2)); };
    const auto rect4 = [&](int first) { // left, top, right, bottom stored reversed
        return QRectF(QPointF(w(first + 3), w(first + 2)), QPointF(w(first + 1), w(first)));
    };
    switch (function) {
    case Wmf::META_SAVEDC:
        dc.SaveDC();
        break;
    case Wmf::META_RESTOREDC:
        dc.RestoreDC(w(0));
        break;
    case Wmf::META_SETBKCOLOR:
        s.BkColor = dc.Colour(rec.U32(6));
        break;
    case Wmf::META_SETTEXTCOLOR:
        s.TextColor = dc.Colour(rec.U32(6));
        break;
    case Wmf::META_SETBKMODE:
        s.BkMode = rec.U16(6);
        break;
    case Wmf::META_SETMAPMODE:
        s.MapMode = rec.U16(6);
        break;
    case Wmf::META_SETROP2:
        s.Rop2 = rec.U16(6);
        break;
    case Wmf::META_SETPOLYFILLMODE:
        s.PolyFill = rec.U16(6);
        break;
    case Wmf::META_SETTEXTALIGN:
        s.TextAlign = rec.U16(6);
        break;
    case Wmf::META_SETWINDOWORG:
        s.WindowOrg = QPointF(w(1), w(0));
        break;
    case Wmf::META_SETWINDOWEXT:
        s.WindowExt = QSizeF(w(1), w(0));
        break;
    case Wmf::META_OFFSETWINDOWORG:
        s.WindowOrg += QPointF(w(1), w(0));
        break;
    case Wmf::META_SCALEWINDOWEXT:
        s.WindowExt = ScaledExtent(s.WindowExt, w(3), w(2), w(1), w(0));
        break;
    case Wmf::META_MOVETO:
        dc.MoveTo(QPointF(w(1), w(0)));
        break;
    case Wmf::META_LINETO:
        dc.PolyLine(QPolygonF{QPointF(w(1), w(0))}, true, false);
        break;
    case Wmf::META_RECTANGLE: {
        QPainterPath path;
        path.addRect(rect4(0).normalized());
        dc.DrawShape(path, true, true);
        break;
    }
    case Wmf::META_ELLIPSE: {
        QPainterPath path;
        path.addEllipse(rect4(0).normalized());
        dc.DrawShape(path, true, true);
        break;
    }
    case Wmf::META_ROUNDRECT: {
        QPainterPath path;
        path.addRoundedRect(rect4(2).normalized(), std::abs(w(1)) / 2.0, std::abs(w(0)) / 2.0);
        dc.DrawShape(path, true, true);
        break;
    }
    case Wmf::META_ARC:
    case Wmf::META_CHORD:
    case Wmf::META_PIE:
        dc.ArcShape(rect4(4), QPointF(w(3), w(2)), QPointF(w(1), w(0)),
                    function == Wmf::META_ARC     ? TArcKind::Arc
                    : function == Wmf::META_CHORD ? TArcKind::Chord
                                                  : TArcKind::Pie,
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
        dc.PolyLine(points, false, function == Wmf::META_POLYGON);
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
        dc.PolyPolygon(polygons, true);
        break;
    }
    case Wmf::META_SETPIXEL:
        dc.SetPixel(QPointF(w(3), w(2)), dc.Colour(rec.U32(6)));
        break;
    case Wmf::META_TEXTOUT: {
        const int n = rec.U16(6);
        const qsizetype padded = (n + 1) / 2 * 2;
        const QByteArray bytes = rec.Bytes(8, n);
        const QPointF at(rec.I16(8 + padded + 2), rec.I16(8 + padded));
        dc.TextOut(at, DecodeAnsi(bytes, s.Font.Charset), {}, 0, nullptr);
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
        dc.TextOut(at, DecodeAnsi(bytes, s.Font.Charset), dx, options, hasRect ? &clip : nullptr);
        break;
    }
    case Wmf::META_INTERSECTCLIPRECT:
    case Wmf::META_EXCLUDECLIPRECT:
        dc.CombineClipRect(rect4(0), function == Wmf::META_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
    case Wmf::META_OFFSETCLIPRGN:
        dc.OffsetClip(QPointF(w(1), w(0)));
        break;
    case Wmf::META_SELECTCLIPREGION: {
        // Selecting no region (or one that is not there) lifts the clip.
        if (const TObject* region = objects.Find(rec.U16(6), TObject::Region))
            dc.SelectObject(*region);
        else
            dc.ResetClip();
        break;
    }
    case Wmf::META_FILLREGION:
    case Wmf::META_PAINTREGION: {
        const TObject* region = objects.Find(rec.U16(6), TObject::Region);
        if (!region)
            break;
        if (function == Wmf::META_PAINTREGION) {
            dc.FillRegion(region->Area, s.Brush);
            break;
        }
        if (const TObject* brush = objects.Find(rec.U16(8), TObject::Brush))
            dc.FillRegion(region->Area, brush->BrushSpec);
        break;
    }
    case Wmf::META_CREATEPENINDIRECT: {
        TObject o;
        o.Kind = TObject::Pen;
        o.PenSpec = WmfPen(rec);
        o.PenSpec.Color = dc.Colour(rec.U32(12));
        objects.Add(std::move(o));
        break;
    }
    case Wmf::META_CREATEBRUSHINDIRECT: {
        TObject o;
        o.Kind = TObject::Brush;
        o.BrushSpec = TBrushSpec{rec.U16(6), dc.Colour(rec.U32(8)), rec.U16(12), QImage()};
        objects.Add(std::move(o));
        break;
    }
    case Wmf::META_CREATEFONTINDIRECT: {
        TObject o;
        o.Kind = TObject::Font;
        o.FontSpec = ReadFont16(rec, 6);
        objects.Add(std::move(o));
        break;
    }
    case Wmf::META_CREATEPALETTE: {
        TObject o;
        o.Kind = TObject::Palette;
        o.Colors = ReadPaletteEntries(rec, 10, rec.U16(8));
        objects.Add(std::move(o));
        break;
    }
    case Wmf::META_DIBCREATEPATTERNBRUSH: {
        TObject o;
        o.Kind = TObject::Brush;
        o.BrushSpec.Style = BS_DIBPATTERN;
        try {
            o.BrushSpec.Pattern = DecodePackedDib(rec, 10, rec.U16(8)).Image;
        } catch (const TShortRead&) {
            // The slot is taken even when the pattern cannot be read.
        }
        objects.Add(std::move(o));
        break;
    }
    case Wmf::META_CREATEPATTERNBRUSH: {
        // Device-dependent bitmaps are not read: a grey brush holds the slot.
        TObject o;
        o.Kind = TObject::Brush;
        o.BrushSpec = TBrushSpec{BS_SOLID, Qt::gray, 0, QImage()};
        objects.Add(std::move(o));
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
        objects.Add(std::move(o));
        break;
    }
    case Wmf::META_SELECTOBJECT:
    case Wmf::META_SELECTPALETTE: {
        if (const TObject* object = objects.Find(rec.U16(6)))
            dc.SelectObject(*object);
        break;
    }
    case Wmf::META_DELETEOBJECT:
        objects.Remove(rec.U16(6));
        break;
    case Wmf::META_SETPALENTRIES: {
        const int start = rec.U16(6);
        const QVector<QRgb> entries = ReadPaletteEntries(rec, 10, rec.U16(8));
        if (start + entries.size() <= 1024)
            SetPaletteEntries(s.Palette, start, entries);
        break;
    }
    case Wmf::META_PATBLT:
        dc.PatBlt(QRectF(w(5), w(4), w(3), w(2)), rec.U32(6));
        break;
    case Wmf::META_STRETCHDIB: {
        const uint32_t rop = rec.U32(6);
        const TDib dib = DecodePackedDib(rec, 28, rec.U16(10));
        dc.DrawImage(QRectF(w(10), w(9), w(8), w(7)), QRectF(w(6), w(5), w(4), w(3)), dib, rop);
        break;
    }
    case Wmf::META_DIBSTRETCHBLT:
    case Wmf::META_STRETCHBLT: {
        const uint32_t rop = rec.U32(6);
        if (rec.Size() <= 28) { // no bitmap: a pattern blit
            dc.PatBlt(QRectF(w(10), w(9), w(8), w(7)), rop);
            break;
        }
        if (function == Wmf::META_STRETCHBLT)
            break; // device-dependent bitmaps are not drawn
        const TDib dib = DecodePackedDib(rec, 26, DIB_RGB_COLORS);
        dc.DrawImage(QRectF(w(9), w(8), w(7), w(6)), QRectF(w(5), w(4), w(3), w(2)), dib, rop);
        break;
    }
    case Wmf::META_DIBBITBLT:
    case Wmf::META_BITBLT: {
        const uint32_t rop = rec.U32(6);
        if (rec.Size() <= 24) {
            dc.PatBlt(QRectF(w(8), w(7), w(6), w(5)), rop);
            break;
        }
        if (function == Wmf::META_BITBLT)
            break;
        const TDib dib = DecodePackedDib(rec, 22, DIB_RGB_COLORS);
        dc.DrawImage(QRectF(w(7), w(6), w(5), w(4)), QRectF(w(3), w(2), w(5), w(4)), dib, rop);
        break;
    }
    case Wmf::META_SETDIBTODEV: {
        const TDib dib = DecodePackedDib(rec, 24, rec.U16(6));
        dc.DrawImage(QRectF(w(8), w(7), w(6), w(5)), QRectF(w(4), w(3), w(6), w(5)), dib, SRCCOPY);
        break;
    }
    default:
        break; // escapes, palettes' animation, regions' painting and the rest: skipped
    }
}

} // namespace

void PlayWmfRecords(TDeviceContext& dc, const TMetaReader& r, bool placeable) {
    qsizetype pos = placeable ? Wmf::PlaceableHeaderSize : 0;
    pos += qsizetype(r.U16(pos + 2)) * 2;
    while (r.Has(pos, 6)) {
        const qsizetype bytes = qsizetype(r.U32(pos)) * 2;
        const uint16_t function = r.U16(pos + 4);
        if (function == Wmf::META_EOF || bytes < 6)
            break;
        if (!PlayRecord(r, pos, bytes, [&](const TMetaReader& rec) { Record(dc, rec, function); }))
            break;
        pos += bytes;
    }
}

} // namespace MetaPlay

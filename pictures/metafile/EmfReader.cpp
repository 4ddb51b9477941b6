#include "pictures/metafile/DeviceContext.h"
#include "pictures/metafile/RecordReaders.h"

#include <QLinearGradient>
#include <algorithm>
#include <cstdlib>

namespace MetaPlay {

using namespace Gdi;

namespace {

constexpr uint32_t MaxRegionRects = 1000; // rectangles of one region kept as such

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

// A region's rectangles (RGNDATA: 32-byte header, then the rectangles), as a path.
QPainterPath RegionPath(const TMetaReader& data) {
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

// Rectangles shaded from one corner's colour to the other's, horizontally or vertically;
// triangles are filled with the mean of their corners' colours.
void GradientFill(TDeviceContext& dc, const TMetaReader& rec) {
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
            dc.FillLogical(path, QColor((ca.red() + cb.red() + cc.red()) / 3,
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
        dc.FillLogical(path, gradient);
    }
}

void Blt(TDeviceContext& dc, const TMetaReader& rec, uint32_t type) {
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
            dc.PatBlt(dest, rop);
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
        dc.DrawImage(dest, source, dib, rop & 0x00FFFFFF);
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
        const QColor key = dc.Colour(rop);
        QImage image = dib.Image.convertToFormat(QImage::Format_ARGB32);
        const QImage mask = image.createMaskFromColor(key.rgb(), Qt::MaskOutColor);
        image.setAlphaChannel(mask.convertToFormat(QImage::Format_Grayscale8));
        dib.Image = image;
        drawRop = SRCCOPY;
    }
    dc.DrawImage(dest, source, dib, drawRop, opacity);
}

void Record(TDeviceContext& dc, const TMetaReader& rec, uint32_t type) {
    TState& s = dc.State();
    TObjectTable& objects = dc.Objects();
    const auto point = [&rec](qsizetype at) { return QPointF(rec.I32(at), rec.I32(at + 4)); };
    switch (type) {
    case Emf::EMR_HEADER:
        break;
    case Emf::EMR_POLYBEZIER:
    case Emf::EMR_POLYBEZIER16:
        dc.PolyBezier(EmfPoints(rec, 28, rec.U32(24), type == Emf::EMR_POLYBEZIER16), false);
        break;
    case Emf::EMR_POLYBEZIERTO:
    case Emf::EMR_POLYBEZIERTO16:
        dc.PolyBezier(EmfPoints(rec, 28, rec.U32(24), type == Emf::EMR_POLYBEZIERTO16), true);
        break;
    case Emf::EMR_POLYGON:
    case Emf::EMR_POLYGON16:
    case Emf::EMR_POLYLINE:
    case Emf::EMR_POLYLINE16:
        dc.PolyLine(EmfPoints(rec, 28, rec.U32(24),
                              type == Emf::EMR_POLYGON16 || type == Emf::EMR_POLYLINE16),
                    false, type == Emf::EMR_POLYGON || type == Emf::EMR_POLYGON16);
        break;
    case Emf::EMR_POLYLINETO:
    case Emf::EMR_POLYLINETO16:
        dc.PolyLine(EmfPoints(rec, 28, rec.U32(24), type == Emf::EMR_POLYLINETO16), true, false);
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
        dc.PolyPolygon(polygons, type == Emf::EMR_POLYPOLYGON || type == Emf::EMR_POLYPOLYGON16);
        break;
    }
    case Emf::EMR_POLYDRAW:
    case Emf::EMR_POLYDRAW16: {
        const bool shortPoints = type == Emf::EMR_POLYDRAW16;
        const uint32_t count = rec.U32(24);
        const QPolygonF points = EmfPoints(rec, 28, count, shortPoints);
        dc.PolyDraw(points, rec.Bytes(28 + qsizetype(count) * (shortPoints ? 4 : 8), count));
        break;
    }
    case Emf::EMR_SETWINDOWEXTEX:
        s.WindowExt = QSizeF(rec.I32(8), rec.I32(12));
        break;
    case Emf::EMR_SETWINDOWORGEX:
        s.WindowOrg = point(8);
        break;
    case Emf::EMR_SETVIEWPORTEXTEX:
        s.ViewportExt = QSizeF(rec.I32(8), rec.I32(12));
        break;
    case Emf::EMR_SETVIEWPORTORGEX:
        s.ViewportOrg = point(8);
        break;
    case Emf::EMR_SCALEVIEWPORTEXTEX:
    case Emf::EMR_SCALEWINDOWEXTEX: {
        const int xNum = rec.I32(8), xDen = rec.I32(12), yNum = rec.I32(16), yDen = rec.I32(20);
        QSizeF& extent = type == Emf::EMR_SCALEWINDOWEXTEX ? s.WindowExt : s.ViewportExt;
        extent = ScaledExtent(extent, xNum, xDen, yNum, yDen);
        break;
    }
    case Emf::EMR_SETPIXELV:
        dc.SetPixel(point(8), dc.Colour(rec.U32(16)));
        break;
    case Emf::EMR_SETMAPMODE:
        s.MapMode = rec.U32(8);
        break;
    case Emf::EMR_SETBKMODE:
        s.BkMode = rec.U32(8);
        break;
    case Emf::EMR_SETPOLYFILLMODE:
        s.PolyFill = rec.U32(8);
        break;
    case Emf::EMR_SETROP2:
        s.Rop2 = rec.U32(8);
        break;
    case Emf::EMR_SETTEXTALIGN:
        s.TextAlign = rec.U32(8);
        break;
    case Emf::EMR_SETTEXTCOLOR:
        s.TextColor = dc.Colour(rec.U32(8));
        break;
    case Emf::EMR_SETBKCOLOR:
        s.BkColor = dc.Colour(rec.U32(8));
        break;
    case Emf::EMR_SETARCDIRECTION:
        s.ArcDirection = rec.U32(8);
        break;
    case Emf::EMR_OFFSETCLIPRGN:
        dc.OffsetClip(point(8));
        break;
    case Emf::EMR_MOVETOEX:
        dc.MoveTo(point(8));
        break;
    case Emf::EMR_LINETO:
        dc.PolyLine(QPolygonF{point(8)}, true, false);
        break;
    case Emf::EMR_EXCLUDECLIPRECT:
    case Emf::EMR_INTERSECTCLIPRECT:
        dc.CombineClipRect(EmfRect(rec, 8),
                           type == Emf::EMR_INTERSECTCLIPRECT ? RGN_AND : RGN_DIFF);
        break;
    case Emf::EMR_EXTSELECTCLIPRGN: {
        const qsizetype size = rec.U32(8);
        const uint32_t mode = rec.U32(12);
        if (size == 0) {
            if (mode == RGN_COPY)
                dc.ResetClip();
            break;
        }
        dc.CombineClip(RegionPath(rec.Sub(16, size)), mode);
        break;
    }
    case Emf::EMR_SELECTCLIPPATH:
        dc.SelectClipPath(rec.U32(8));
        break;
    case Emf::EMR_SETMETARGN:
        break;
    case Emf::EMR_SAVEDC:
        dc.SaveDC();
        break;
    case Emf::EMR_RESTOREDC:
        dc.RestoreDC(rec.I32(8));
        break;
    case Emf::EMR_SETWORLDTRANSFORM:
        dc.ModifyWorldTransform(EmfXform(rec, 8), Emf::MWT_SET);
        break;
    case Emf::EMR_MODIFYWORLDTRANSFORM:
        dc.ModifyWorldTransform(EmfXform(rec, 8), rec.U32(32));
        break;
    case Emf::EMR_SELECTOBJECT: {
        const uint32_t index = rec.U32(8);
        if (index & StockObjectFlag)
            dc.SelectStock(index);
        else if (const TObject* object = objects.Find(index))
            dc.SelectObject(*object);
        break;
    }
    case Emf::EMR_SELECTPALETTE: {
        const uint32_t index = rec.U32(8);
        if (index & StockObjectFlag)
            s.Palette.clear();
        else if (const TObject* palette = objects.Find(index))
            dc.SelectObject(*palette);
        break;
    }
    case Emf::EMR_DELETEOBJECT:
        objects.Remove(rec.U32(8));
        break;
    case Emf::EMR_CREATEPEN:
    case Emf::EMR_EXTCREATEPEN:
    case Emf::EMR_CREATEBRUSHINDIRECT:
    case Emf::EMR_CREATEMONOBRUSH:
    case Emf::EMR_CREATEDIBPATTERNBRUSHPT:
    case Emf::EMR_EXTCREATEFONTINDIRECTW:
    case Emf::EMR_CREATEPALETTE: {
        const uint32_t index = rec.U32(8);
        TObject o;
        if (type == Emf::EMR_CREATEPEN) {
            o.Kind = TObject::Pen;
            o.PenSpec = TPenSpec{rec.U32(12), std::abs(qreal(rec.I32(16))), dc.Colour(rec.U32(24))};
        } else if (type == Emf::EMR_EXTCREATEPEN) {
            o.Kind = TObject::Pen;
            o.PenSpec = TPenSpec{rec.U32(28), qreal(rec.U32(32)), dc.Colour(rec.U32(40))};
            if (rec.U32(36) == BS_NULL)
                o.PenSpec.Style = (o.PenSpec.Style & ~uint32_t(PS_STYLE_MASK)) | PS_NULL;
            if ((o.PenSpec.Style & PS_TYPE_MASK) == PS_COSMETIC)
                o.PenSpec.Width = 0;
        } else if (type == Emf::EMR_CREATEBRUSHINDIRECT) {
            o.Kind = TObject::Brush;
            o.BrushSpec = TBrushSpec{rec.U32(12), dc.Colour(rec.U32(16)), rec.U32(20), QImage()};
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
            o.Colors = ReadPaletteEntries(rec, 16, rec.U16(14));
        }
        objects.Put(index, std::move(o));
        break;
    }
    case Emf::EMR_SETPALETTEENTRIES: {
        TObject* palette = objects.Find(rec.U32(8));
        const uint32_t start = rec.U32(12), n = rec.U32(16);
        if (!palette || start > 1024 || n > 1024)
            break;
        SetPaletteEntries(palette->Colors, int(start), ReadPaletteEntries(rec, 20, int(n)));
        break;
    }
    case Emf::EMR_ANGLEARC:
        dc.AngleArc(point(8), rec.U32(16), rec.F32(20), rec.F32(24));
        break;
    case Emf::EMR_ELLIPSE:
    case Emf::EMR_RECTANGLE: {
        QPainterPath path;
        const QRectF box = EmfRect(rec, 8).normalized();
        if (type == Emf::EMR_ELLIPSE)
            path.addEllipse(box);
        else
            path.addRect(box);
        dc.DrawShape(path, true, true);
        break;
    }
    case Emf::EMR_ROUNDRECT: {
        QPainterPath path;
        path.addRoundedRect(EmfRect(rec, 8).normalized(), std::abs(qreal(rec.I32(24))) / 2.0,
                            std::abs(qreal(rec.I32(28))) / 2.0);
        dc.DrawShape(path, true, true);
        break;
    }
    case Emf::EMR_ARC:
    case Emf::EMR_CHORD:
    case Emf::EMR_PIE:
    case Emf::EMR_ARCTO:
        dc.ArcShape(EmfRect(rec, 8), point(24), point(32),
                    type == Emf::EMR_CHORD ? TArcKind::Chord
                    : type == Emf::EMR_PIE ? TArcKind::Pie
                                           : TArcKind::Arc,
                    type == Emf::EMR_ARCTO);
        break;
    case Emf::EMR_BEGINPATH:
        dc.BeginPath();
        break;
    case Emf::EMR_ENDPATH:
        dc.EndPath();
        break;
    case Emf::EMR_CLOSEFIGURE:
        dc.CloseFigure();
        break;
    case Emf::EMR_ABORTPATH:
        dc.AbortPath();
        break;
    case Emf::EMR_FILLPATH:
        dc.StrokeFillPath(true, false);
        break;
    case Emf::EMR_STROKEPATH:
        dc.StrokeFillPath(false, true);
        break;
    case Emf::EMR_STROKEANDFILLPATH:
        dc.StrokeFillPath(true, true);
        break;
    case Emf::EMR_FLATTENPATH:
        dc.FlattenPath();
        break;
    case Emf::EMR_WIDENPATH:
        dc.WidenPath();
        break;
    case Emf::EMR_FILLRGN:
    case Emf::EMR_PAINTRGN: {
        // The selected brush paints; FillRgn names its own.
        const TObject* brush =
            type == Emf::EMR_FILLRGN ? objects.Find(rec.U32(28), TObject::Brush) : nullptr;
        const qsizetype at = type == Emf::EMR_FILLRGN ? 32 : 28;
        dc.FillDeviceRegion(RegionPath(rec.Sub(at, rec.U32(24))),
                            brush ? brush->BrushSpec : s.Brush);
        break;
    }
    case Emf::EMR_GRADIENTFILL:
        GradientFill(dc, rec);
        break;
    case Emf::EMR_BITBLT:
    case Emf::EMR_STRETCHBLT:
    case Emf::EMR_MASKBLT:
    case Emf::EMR_ALPHABLEND:
    case Emf::EMR_TRANSPARENTBLT:
        Blt(dc, rec, type);
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
            dc.PatBlt(QRectF(dest, size), rop);
            break;
        }
        dc.DrawImage(QRectF(dest, size), source,
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
            text = DecodeAnsi(rec.Bytes(offString, n), s.Font.Charset);
        }
        QVector<qreal> dx;
        const qsizetype step = (options & ETO_PDY) ? 8 : 4;
        if (offDx && rec.Has(offDx, qsizetype(n) * step)) {
            dx.reserve(int(n));
            for (uint32_t i = 0; i < n; ++i)
                dx.append(rec.I32(offDx + step * qsizetype(i)));
        }
        const bool hasRect = !(options & ETO_NO_RECT) && (options & (ETO_OPAQUE | ETO_CLIPPED));
        dc.TextOut(ref, text, dx, options, hasRect ? &rect : nullptr);
        break;
    }
    default:
        break; // comments (EMF+ included), colour management, escapes and the rest: skipped
    }
}

} // namespace

void PlayEmfRecords(TDeviceContext& dc, const TMetaReader& r) {
    qsizetype pos = 0;
    while (r.Has(pos, 8)) {
        const uint32_t type = r.U32(pos);
        const qsizetype bytes = r.U32(pos + 4);
        if (type == Emf::EMR_EOF || bytes < 8)
            break;
        if (!PlayRecord(r, pos, bytes, [&](const TMetaReader& rec) { Record(dc, rec, type); }))
            break;
        pos += bytes;
    }
}

} // namespace MetaPlay

#include "pictures/metafile/DeviceContext.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <algorithm>

namespace MetaPlay {

using namespace Gdi;

namespace {

constexpr int MaxFontPixels = 4000; // font size in device pixels

} // namespace

qreal TDeviceContext::EmSize(const TFace& face) const {
    const int h = m_s.Font.Height;
    if (h < 0)
        return -qreal(h);
    if (h > 0) {
        // Cell height: the em is the cell less the internal leading.
        const qreal cell = face.Ascent + face.Descent;
        return cell > 0 ? qreal(h) * TextPixels / cell : h;
    }
    // No height: the reference device's default of 16 pixels.
    const qreal scale = DeviceScale();
    return scale > 0 ? 16 / scale : 16;
}

const TDeviceContext::TFace& TDeviceContext::FaceFor(const TFontSpec& font) {
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

QFont TDeviceContext::MakeFont(qreal pixels) const {
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

void TDeviceContext::TextOut(QPointF ref, const QString& rawText, const QVector<qreal>& dx,
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

} // namespace MetaPlay

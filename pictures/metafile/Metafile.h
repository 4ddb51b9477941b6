#pragma once
// The metafile graphic of the picture container: a Windows metafile (WMF, placeable or not) or an
// enhanced metafile (EMF), kept as the file's original bytes and drawn by Velmora's own record
// player (MetaPlayer.h) whenever it is drawn, so it stays vectors at any size and on any device.

#include "layout/Graphic.h"

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <optional>

enum class TMetafileKind { Wmf, Emf };

// The kind the bytes' header announces, or nothing when they start like neither kind. Looks at the
// header only; whether the records behind it are sound is TMetafile's business.
std::optional<TMetafileKind> MetafileKindOf(const QByteArray& bytes);

// Where the records of a metafile lie. For a WMF: the window its records are drawn in (logical
// units), mapped onto the target. For an EMF: the picture frame in reference-device pixels, which
// the records' own mapping (map mode, window, viewport, world transform) leads to.
struct TMetaLayout {
    TMetafileKind Kind = TMetafileKind::Emf;
    QRectF Frame;
    // EMF reference device: pixels per millimetre, for the fixed map modes.
    double DevicePxPerMmX = 96 / 25.4;
    double DevicePxPerMmY = 96 / 25.4;
    // WMF: whether Frame came from the placeable header (then the file's own window records
    // still take over, as when the file is played into a window of that size).
    bool Placeable = false;
};

class TMetafile final : public TGraphic {
public:
    // Takes the bytes of a WMF or EMF file. Raises EInvalidGraphic
    //   "Metadatei ist ungültig" when the bytes are neither kind, the header is damaged or the
    //                            picture has no usable size;
    //   "Die Metadatei enthält nur EMF+-Zeichnungen, die Velmora nicht darstellen kann" for an
    //                            EMF that draws only through EMF+ comments (nothing would show).
    explicit TMetafile(QByteArray bytes);

    GraphicKind Kind() const override { return GraphicKind::Metafile; }
    TMetafileKind MetafileKind() const { return m_kind; }
    // The picture's own size in pixels at 96 dpi (see Metafile.cpp for the rules per kind).
    int Width() const override { return m_size.width(); }
    int Height() const override { return m_size.height(); }
    // Plays the records stretched into `target` of `painter`, under the painter's own transform
    // and clip; nothing is filled where the metafile draws nothing.
    void Draw(QPainter& painter, const QRect& target) const override;

    // The file exactly as it was read, for byte-exact saving in its own kind.
    const QByteArray& OriginalBytes() const { return m_bytes; }
    const TMetaLayout& Layout() const { return m_layout; }

private:
    QByteArray m_bytes;
    TMetafileKind m_kind;
    TMetaLayout m_layout;
    QSize m_size;
};

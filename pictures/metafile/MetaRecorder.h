#pragma once
// Velmora's metafile writer: a paint device whose engine turns what a QPainter draws into WMF or
// EMF records, so that converting a metafile is playing it into this device. Shapes stay shapes
// (polygons, rectangles, ellipses, and in EMF Bézier paths), text stays text (a font, the string
// and its glyph advances) and images stay images.
//
// EMF: MM_ANISOTROPIC with a window 16 times the viewport, so coordinates have 1/16 px precision;
// images with transparency become EMR_ALPHABLEND; everything a metafile cannot say directly
// (gradients, textures, translucent pens and brushes, perspective) is rendered into an image with
// alpha at the picture's own resolution and recorded as such.
//
// WMF: a placeable file. Coordinates are 16-bit, so the picture is scaled to fit about 32000 units
// along its larger side and the header's Inch says how many units make an inch; curves are
// flattened to polygons; WMF knows no alpha, so translucent colours are mixed with white and
// transparent images are composited on white.

#include "pictures/metafile/Metafile.h"

#include <QByteArray>
#include <QPaintDevice>
#include <QSize>
#include <memory>

class TMetaRecordEngine;

class TMetaRecorder final : public QPaintDevice {
public:
    // A metafile of `size` pixels at 96 dpi; an empty size is recorded as 1 × 1.
    TMetaRecorder(TMetafileKind kind, QSize size);
    ~TMetaRecorder() override;
    TMetaRecorder(const TMetaRecorder&) = delete;
    TMetaRecorder& operator=(const TMetaRecorder&) = delete;

    QPaintEngine* paintEngine() const override;
    TMetafileKind Kind() const { return m_kind; }
    QSize Size() const { return m_size; }
    // The file written by the last painter that ended on this device (empty before that).
    QByteArray Bytes() const;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    TMetafileKind m_kind;
    QSize m_size;
    std::unique_ptr<TMetaRecordEngine> m_engine;
};

// The graphic drawn at its own size into a new metafile of `kind`: a conversion when the graphic
// is a metafile of the other kind, a vector wrapper around the pixels for a raster graphic.
QByteArray RecordGraphic(const TGraphic& graphic, TMetafileKind kind);

// The units per inch of the placeable header Velmora writes for a picture of `size` pixels: as
// many as keep the larger side within 32000 units.
int WmfUnitsPerInch(QSize size);

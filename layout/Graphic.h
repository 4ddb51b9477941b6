#pragma once
// The picture container. A TPicture holds at most one graphic: a bitmap (scans, BMP files,
// clipboard images), a JPEG image (its original file bytes plus the decoded pixels), a metafile
// or an icon. Whatever the kind, a graphic reports its size in pixels and draws itself stretched
// into a rectangle of a QPainter, so the layout code never needs to know the kind.

#include "layout/Reduce.h"

#include <QByteArray>
#include <QImage>
#include <memory>

class QPainter;
class QRect;

enum class GraphicKind { Bitmap, Jpeg, Metafile, Icon };

class TGraphic {
public:
    virtual ~TGraphic();
    virtual GraphicKind Kind() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Draws the whole graphic scaled to fill `target` exactly (no aspect correction).
    virtual void Draw(QPainter& painter, const QRect& target) const = 0;
};

// A graphic whose content is a raster image (bitmap, JPEG, icon). 24-bit pictures are held at
// three bytes per pixel (Format_RGB888); 1-, 4- and 8-bit pictures keep their palette.
//
// On screen the picture is drawn far more often than it changes (the preview is rendered again
// on every mouse move), so drawing it small on a raster device goes through an area-averaged
// reduced copy kept beside the pixels. Printers always get the full picture.
class TRasterGraphic : public TGraphic {
public:
    int Width() const override { return m_image.width(); }
    int Height() const override { return m_image.height(); }
    void Draw(QPainter& painter, const QRect& target) const override;

    const QImage& Image() const { return m_image; }
    // Replaces the pixels.
    void SetImage(QImage image);
    // Memory held by the reduced copy for drawing small (0 when none is held).
    qsizetype ReducedCopyBytes() const { return m_reduced.Bytes(); }

private:
    QImage m_image;
    mutable TReducedCopy m_reduced;
};

class TBitmap final : public TRasterGraphic {
public:
    GraphicKind Kind() const override { return GraphicKind::Bitmap; }
};

class TJpegImage final : public TRasterGraphic {
public:
    GraphicKind Kind() const override { return GraphicKind::Jpeg; }
    // The file exactly as it was read, for byte-exact saving.
    const QByteArray& OriginalBytes() const { return m_bytes; }
    void SetOriginalBytes(QByteArray bytes) { m_bytes = std::move(bytes); }

private:
    QByteArray m_bytes;
};

class TIcon final : public TRasterGraphic {
public:
    GraphicKind Kind() const override { return GraphicKind::Icon; }
};

class TPicture {
public:
    TPicture();
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    bool IsEmpty() const { return !m_graphic; }
    TGraphic* Graphic() const { return m_graphic.get(); }
    // Takes ownership; nullptr empties the picture.
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    void Clear() { m_graphic.reset(); }

    int Width() const { return m_graphic ? m_graphic->Width() : 0; }
    int Height() const { return m_graphic ? m_graphic->Height() : 0; }
    void Draw(QPainter& painter, const QRect& target) const;

private:
    std::unique_ptr<TGraphic> m_graphic;
};

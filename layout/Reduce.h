#pragma once
// Area-averaged reduction of raster pictures for drawing them small.
//
// A 600-dpi page shown a few hundred pixels tall is reduced about 16 times. Sampling filters
// (nearest neighbour, bilinear) look at only a few source pixels per screen pixel, so thin lines
// and the strokes of small text vanish or break into dots. Averaging whole blocks keeps every
// source pixel's share: a one-pixel black line on a 1-bit page becomes a light grey line, never
// nothing. Blocks of whole pixels keep the filter a single pass over the rows, which matters for
// pictures of 100 MB and more.

#include <QImage>
#include <QSize>
#include <QtGlobal>

// Reduces `source` by the whole factors fx and fy: each output pixel is the rounded average of
// an fx × fy block. Blocks at the right and bottom edge that run past the picture average only
// the pixels that exist, so the result is ceil(width / fx) × ceil(height / fy) pixels.
// Returns a null image for a null source, a factor below 1, or when memory runs out.
QImage BoxReduce(const QImage& source, int fx, int fy);

// The format BoxReduce produces for `source`: RGB888 and Grayscale8 stay as they are, RGB32
// stays RGB32, anything with alpha becomes ARGB32_Premultiplied (a plain average of straight
// colours would let the colour of invisible pixels bleed in), palette pictures become
// Grayscale8 when every palette entry is grey (1-bit and greyscale scans) and RGB888 otherwise;
// other formats become RGB888.
QImage::Format BoxReducedFormat(const QImage& source);

// Largest share of a picture's own bytes that its reduced copy may take.
constexpr double ReducedCopyBudget = 0.10;

// The reduced copy of one picture, built when a drawing first needs it and kept while later
// drawings can use it. A copy is made only for targets smaller than half the picture in both
// directions; it is at least as large as the target unless the memory budget forbids, in which
// case it is the largest copy the budget allows (slightly soft beats aliased). It is kept while
// the target stays a little smaller than it, so dragging an edge of the picture does not rebuild
// it on every step. Every picture change must call Clear(); a copy built from other pixels is
// never returned in any case.
class TReducedCopy {
public:
    // The copy to draw `image` from into `target` device pixels, or nullptr when the full
    // picture should be drawn.
    const QImage* For(const QImage& image, QSize target);
    // Source pixels per copy pixel, horizontally and vertically, of the copy held.
    int FactorX() const { return m_fx; }
    int FactorY() const { return m_fy; }
    qsizetype Bytes() const { return m_copy.sizeInBytes(); }
    void Clear();

private:
    QImage m_copy;
    qint64 m_sourceKey = 0;
    int m_fx = 0;
    int m_fy = 0;
};

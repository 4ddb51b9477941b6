#pragma once
// The scanner dialog's preview pane: the preview of the bed, scaled to fit, with the scan area
// as a rectangle over it that is drawn, moved and resized with the mouse (dsm/sane/ScanArea.h
// holds the geometry). Knows nothing of SANE.

#include "dsm/sane/ScanArea.h"

#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QWidget>

namespace sanebridge {

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPane(QWidget* parent = nullptr);

    // The preview of the whole bed; a null image shows the empty bed. Called again while a
    // preview arrives, with more lines each time.
    void SetImage(const QImage& image);
    const QImage& Image() const { return m_image; }
    // The bed in the device's units; a null rectangle: the device has no scan area, the pane
    // shows the preview without a rectangle and ignores the mouse.
    void SetBed(const QRectF& bed);
    QRectF Bed() const { return m_bed; }
    // The area shown, in bed units (no signal).
    void SetArea(const QRectF& area);
    QRectF Area() const { return m_area; }
    bool HasArea() const { return !m_bed.isNull(); }

    // Where the bed appears in the widget, and the mapping both ways.
    QRectF BedInView() const;
    QPointF ToView(const QPointF& bedPoint) const;
    QPointF ToBed(const QPointF& viewPoint) const;

    QSize sizeHint() const override;

signals:
    // At every mouse step of a drag, with the area as it is now.
    void AreaDragged(const QRectF& area);
    // The drag has ended (or a double click chose the whole bed): the area to scan.
    void AreaChosen(const QRectF& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QRectF AreaInView(const QRectF& area) const;
    void Rescale();
    Grip GripUnder(const QPointF& viewPoint) const;
    void UpdateCursor(const QPointF& viewPoint);
    // Shows `area`, repainting only what changes.
    void ShowArea(const QRectF& area);
    // The area the drag that is under way gives at `viewPoint`.
    QRectF DragResult(const QPointF& viewPoint) const;

    QImage m_image;
    QPixmap m_scaled; // m_image at the size it is shown, made again on resize and new lines
    QRectF m_bed;
    QRectF m_area;
    bool m_dragging = false;
    Grip m_grip = Grip::None;
    QPointF m_pressBed; // where the drag began, in bed units
    QRectF m_pressArea;
};

} // namespace sanebridge

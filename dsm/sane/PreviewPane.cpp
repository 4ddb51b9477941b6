#include "dsm/sane/PreviewPane.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <cmath>

namespace sanebridge {

namespace {

// Room around the bed, so that the grips on its edges stay within the widget.
constexpr int Border = 4;
// How far beside an edge or corner the mouse still takes hold of it, in view pixels.
constexpr double GripTolerance = 5;
// A drawn area smaller than this in either direction is a click, not an area.
constexpr double MinDrawn = 3;
constexpr int HandleSize = 6;
// An A4 bed, for the empty pane of a device that has told nothing yet.
constexpr double FallbackAspect = 210.0 / 297.0;

const QColor EmptyBed(224, 224, 224);
const QColor Dimmed(0, 0, 0, 110);
const QColor Frame(0, 102, 204);

Qt::CursorShape CursorFor(Grip grip) {
    switch (grip) {
    case Grip::TopLeft:
    case Grip::BottomRight:
        return Qt::SizeFDiagCursor;
    case Grip::TopRight:
    case Grip::BottomLeft:
        return Qt::SizeBDiagCursor;
    case Grip::Left:
    case Grip::Right:
        return Qt::SizeHorCursor;
    case Grip::Top:
    case Grip::Bottom:
        return Qt::SizeVerCursor;
    case Grip::Inside:
        return Qt::SizeAllCursor;
    case Grip::None:
        break;
    }
    return Qt::CrossCursor;
}

} // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewPane::SetImage(const QImage& image) {
    // The dialog shows the kept preview again after every change of an option: the scaled copy
    // of the same picture still holds.
    if (image.cacheKey() == m_image.cacheKey())
        return;
    m_image = image;
    Rescale();
    update();
}

void PreviewPane::SetBed(const QRectF& bed) {
    QRectF usable = bed.normalized();
    if (!(usable.width() > 0) || !(usable.height() > 0))
        usable = QRectF();
    if (usable == m_bed)
        return;
    m_bed = usable;
    if (!m_bed.isNull())
        m_area = m_area.intersected(m_bed);
    m_dragging = false;
    Rescale();
    UpdateCursor(QPointF(-1, -1));
    update();
}

void PreviewPane::SetArea(const QRectF& area) {
    m_area = m_bed.isNull() ? area.normalized() : area.normalized().intersected(m_bed);
    update();
}

QRectF PreviewPane::BedInView() const {
    double aspect = FallbackAspect;
    if (!m_bed.isNull())
        aspect = m_bed.width() / m_bed.height();
    else if (!m_image.isNull())
        aspect = double(m_image.width()) / m_image.height();
    const QRect room = rect().adjusted(Border, Border, -Border, -Border);
    if (room.width() <= 0 || room.height() <= 0)
        return QRectF();
    // Whole pixels, so that the scaled preview is drawn 1:1 without resampling in paintEvent.
    int width = room.width();
    int height = int(std::lround(width / aspect));
    if (height > room.height()) {
        height = room.height();
        width = std::max(1, int(std::lround(height * aspect)));
    }
    return QRectF(room.left() + (room.width() - width) / 2,
                  room.top() + (room.height() - height) / 2, width, std::max(1, height));
}

QPointF PreviewPane::ToView(const QPointF& bedPoint) const {
    const QRectF view = BedInView();
    if (m_bed.isNull() || view.isNull())
        return bedPoint;
    return QPointF(view.left() + (bedPoint.x() - m_bed.left()) * view.width() / m_bed.width(),
                   view.top() + (bedPoint.y() - m_bed.top()) * view.height() / m_bed.height());
}

QPointF PreviewPane::ToBed(const QPointF& viewPoint) const {
    const QRectF view = BedInView();
    if (m_bed.isNull() || view.isNull())
        return viewPoint;
    return QPointF(m_bed.left() + (viewPoint.x() - view.left()) * m_bed.width() / view.width(),
                   m_bed.top() + (viewPoint.y() - view.top()) * m_bed.height() / view.height());
}

QSize PreviewPane::sizeHint() const {
    return QSize(300, 420);
}

QRectF PreviewPane::AreaInView(const QRectF& area) const {
    if (area.isNull())
        return QRectF();
    return QRectF(ToView(area.topLeft()), ToView(area.bottomRight()));
}

void PreviewPane::Rescale() {
    const QRect view = BedInView().toRect();
    if (m_image.isNull() || view.isEmpty()) {
        m_scaled = QPixmap();
        return;
    }
    // Scaled for the screen's own pixels, so that a scaled desktop shows it sharp.
    const qreal ratio = devicePixelRatioF();
    const int width = std::max(1, int(std::lround(view.width() * ratio)));
    const int fullHeight = std::max(1, int(std::lround(view.height() * ratio)));
    // A preview that is still arriving has its full width and only the lines so far: it is shown
    // at the width's scale from the top, the rest of the bed stays empty.
    int height = int(std::lround(double(m_image.height()) * width / m_image.width()));
    if (height >= fullHeight - 2 * ratio)
        height = fullHeight;
    height = std::max(1, height);
    // Smooth scaling is cheap from 32-bit pixels (a few milliseconds even for a 150-dpi A4
    // preview), but many times slower from the 24-bit lines a scan delivers: convert first.
    const QImage source = m_image.format() == QImage::Format_RGB32 ||
                                  m_image.format() == QImage::Format_ARGB32_Premultiplied
                              ? m_image
                              : m_image.convertToFormat(QImage::Format_RGB32);
    m_scaled = QPixmap::fromImage(
        source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_scaled.setDevicePixelRatio(ratio);
}

Grip PreviewPane::GripUnder(const QPointF& viewPoint) const {
    const Grip grip = GripAt(AreaInView(m_area), viewPoint, GripTolerance);
    // An area as large as the bed cannot move: pressing inside it draws a new one (after a
    // double click, say).
    const QRectF bed = m_bed.normalized();
    if (grip == Grip::Inside && m_area.left() <= bed.left() && m_area.top() <= bed.top() &&
        m_area.right() >= bed.right() && m_area.bottom() >= bed.bottom())
        return Grip::None;
    return grip;
}

void PreviewPane::UpdateCursor(const QPointF& viewPoint) {
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (!m_bed.isNull())
        shape = CursorFor(m_dragging ? m_grip : GripUnder(viewPoint));
    if (cursor().shape() != shape)
        setCursor(shape);
}

void PreviewPane::ShowArea(const QRectF& area) {
    if (area == m_area)
        return;
    // Only the part of the view where the frame, the handles or the dimming change is painted
    // again: the old and the new area with room for the handles.
    const int reach = HandleSize + 2;
    const QRect changed = AreaInView(m_area)
                              .united(AreaInView(area))
                              .toAlignedRect()
                              .adjusted(-reach, -reach, reach, reach);
    m_area = area;
    update(changed);
}

QRectF PreviewPane::DragResult(const QPointF& viewPoint) const {
    const QRectF dragged = DraggedArea(m_pressArea, m_grip, m_pressBed, ToBed(viewPoint), m_bed);
    const QRectF inView = AreaInView(dragged);
    if (inView.width() < MinDrawn || inView.height() < MinDrawn)
        return m_area; // too small to scan: what was there stays
    return dragged;
}

void PreviewPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRectF view = BedInView();
    if (view.isNull())
        return;
    painter.fillRect(view, EmptyBed);
    if (!m_scaled.isNull())
        painter.drawPixmap(view.topLeft(), m_scaled);
    if (m_bed.isNull() || m_area.isNull())
        return;

    const QRectF area = AreaInView(m_area);
    // The outside of the area dimmed, as four bands around it.
    painter.fillRect(QRectF(view.left(), view.top(), view.width(), area.top() - view.top()),
                     Dimmed);
    painter.fillRect(
        QRectF(view.left(), area.bottom(), view.width(), view.bottom() - area.bottom()), Dimmed);
    painter.fillRect(QRectF(view.left(), area.top(), area.left() - view.left(), area.height()),
                     Dimmed);
    painter.fillRect(QRectF(area.right(), area.top(), view.right() - area.right(), area.height()),
                     Dimmed);

    const QRect frame = area.toRect();
    painter.setPen(Frame);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.setBrush(Qt::white);
    const int half = HandleSize / 2;
    for (const QPoint& corner :
         {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight()})
        painter.drawRect(corner.x() - half, corner.y() - half, HandleSize, HandleSize);
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Rescale();
}

void PreviewPane::mousePressEvent(QMouseEvent* event) {
    if (m_bed.isNull() || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF point = event->position();
    m_grip = GripUnder(point);
    m_dragging = true;
    m_pressBed = ToBed(point);
    m_pressArea = m_area;
    UpdateCursor(point);
}

void PreviewPane::mouseMoveEvent(QMouseEvent* event) {
    const QPointF point = event->position();
    if (!m_dragging) {
        UpdateCursor(point);
        return;
    }
    const QRectF area = DragResult(point);
    if (area == m_area)
        return;
    ShowArea(area);
    emit AreaDragged(m_area);
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragging || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const QPointF point = event->position();
    ShowArea(DragResult(point));
    m_dragging = false;
    UpdateCursor(point);
    if (m_area != m_pressArea)
        emit AreaChosen(m_area);
}

void PreviewPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (m_bed.isNull() || event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // The press before the double click may have begun a drag: the whole bed replaces it.
    m_dragging = false;
    ShowArea(m_bed);
    UpdateCursor(event->position());
    emit AreaChosen(m_bed);
}

} // namespace sanebridge

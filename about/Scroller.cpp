#include "about/Scroller.h"

#include "app/EventHook.h"

#include <QToolButton>
#include <algorithm>

TScroller::TScroller(QWidget* parent)
    : QWidget(parent), m_prior(new QToolButton(this)), m_next(new QToolButton(this)) {
    m_prior->setArrowType(Qt::UpArrow);
    m_next->setArrowType(Qt::DownArrow);
    // The arrows page with the mouse; the keyboard pages with PageUp and PageDown.
    m_prior->setFocusPolicy(Qt::NoFocus);
    m_next->setFocusPolicy(Qt::NoFocus);
    m_prior->setAutoRepeat(true);
    m_next->setAutoRepeat(true);
    connect(m_prior, &QToolButton::clicked, this, Guarded([this] { SetPosition(m_position - 1); }));
    connect(m_next, &QToolButton::clicked, this, Guarded([this] { SetPosition(m_position + 1); }));
}

void TScroller::SetMin(int Value) {
    m_min = Value;
    Clamp();
}

void TScroller::SetMax(int Value) {
    m_max = Value;
    Clamp();
}

void TScroller::SetPosition(int Value) {
    const int old = m_position;
    m_position = std::clamp(Value, m_min, std::max(m_min, m_max));
    if (Value != old)
        emit Click();
}

void TScroller::Clamp() {
    m_position = std::clamp(m_position, m_min, std::max(m_min, m_max));
}

void TScroller::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int half = height() / 2;
    m_prior->setGeometry(0, 0, width(), half);
    m_next->setGeometry(0, half, width(), height() - half);
}

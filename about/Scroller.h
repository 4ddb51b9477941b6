#pragma once
// A pair of scroll arrows with a range and a position, for paging: the upper arrow steps back,
// the lower one forward. Setting the position clamps it to Min..Max and, whenever the value
// asked for differs from the old position, sends Click, also when clamping leaves the position
// where it was.

#include <QWidget>

class QToolButton;

class TScroller : public QWidget {
    Q_OBJECT

public:
    explicit TScroller(QWidget* parent = nullptr);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    int Position() const { return m_position; }
    // A range whose Max lies below Min is kept as Min..Min.
    void SetMin(int Value);
    void SetMax(int Value);
    void SetPosition(int Value);

    QToolButton* PriorButton() const { return m_prior; }
    QToolButton* NextButton() const { return m_next; }

signals:
    void Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Clamp();

    QToolButton* m_prior;
    QToolButton* m_next;
    int m_min = 0;
    int m_max = 1;
    int m_position = 0;
};

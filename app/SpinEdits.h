#pragma once
// The copier's spin edits. They keep the habits the handlers of the info panel rely on, which
// QSpinBox does not have: any integer may be typed (also out of range: the exit handler must see
// the value as typed before it is clamped), unreadable text reads as the lower limit, both limits
// 0 mean "unlimited", and every change of the text is reported, also when the program writes it.

#include <QAbstractSpinBox>
#include <QString>

// Text, change and exit handling shared by both edits. The edit owns its text; the value is
// always read back from it, never cached.
class TCustomSpinEdit : public QAbstractSpinBox {
    Q_OBJECT

public:
    explicit TCustomSpinEdit(QWidget* parent = nullptr);

    QString Text() const;
    // Writes the text as it is (no check, no clamping); raises Change when it differs.
    void SetText(const QString& text);

    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;

signals:
    // The text changed (typed or written by the program); not raised for an unchanged text.
    void Change();
    // The focus moved to another control of the window. Raised before the edit tidies its text.
    void Exit();

protected:
    // Characters that may be typed at all (digits and signs, for the decimal edit also the
    // decimal separators); text written by the program is never filtered.
    virtual bool IsValidChar(QChar c) const = 0;
    // What the edit does with its text after the exit handlers ran.
    virtual void TidyUpOnExit() = 0;

    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

// Integer edit. MinValue = MaxValue (0 and 0 by default) means no limits at all.
class TSpinEdit : public TCustomSpinEdit {
    Q_OBJECT
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)
    Q_PROPERTY(int Value READ Value WRITE SetValue)

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // The text as a whole number (platform/WholeNumber.h); text that is not one (empty, a lone
    // sign, beyond 32 bits) reads as MinValue.
    int Value() const;
    // Shows `value`, clamped into the limits unless the edit is unlimited.
    void SetValue(int value);

    int MinValue() const { return m_minValue; }
    void SetMinValue(int value) { m_minValue = value; }
    int MaxValue() const { return m_maxValue; }
    void SetMaxValue(int value) { m_maxValue = value; }
    int Increment() const { return m_increment; }
    void SetIncrement(int value) { m_increment = value; }

    // `value` clamped into the limits; unchanged for an unlimited edit.
    int CheckValue(int value) const;

    void stepBy(int steps) override;

protected:
    bool IsValidChar(QChar c) const override;
    void TidyUpOnExit() override;

private:
    int m_minValue = 0;
    int m_maxValue = 0;
    int m_increment = 1;
};

// Decimal edit showing two decimals with the locale's decimal separator (100,00 in German).
class TFloatSpinEdit : public TCustomSpinEdit {
    Q_OBJECT
    Q_PROPERTY(double MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(double MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(double Increment READ Increment WRITE SetIncrement)
    Q_PROPERTY(double Value READ Value WRITE SetValue)

public:
    explicit TFloatSpinEdit(QWidget* parent = nullptr);

    static constexpr int Decimals = 2;

    // The text as a number with a point or a comma before the decimals (no group separators);
    // anything else reads as 0.
    double Value() const;
    // Shows `value` with two decimals, clamped into the limits unless MinValue = MaxValue.
    void SetValue(double value);

    double MinValue() const { return m_minValue; }
    void SetMinValue(double value) { m_minValue = value; }
    double MaxValue() const { return m_maxValue; }
    void SetMaxValue(double value) { m_maxValue = value; }
    double Increment() const { return m_increment; }
    void SetIncrement(double value) { m_increment = value; }

    double CheckValue(double value) const;

    void stepBy(int steps) override;

protected:
    bool IsValidChar(QChar c) const override;
    void TidyUpOnExit() override;

private:
    double m_minValue = 0;
    double m_maxValue = 0;
    double m_increment = 1;
};

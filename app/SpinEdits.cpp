#include "app/SpinEdits.h"

#include "platform/WholeNumber.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QWheelEvent>
#include <cmath>
#include <limits>

TCustomSpinEdit::TCustomSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    // QLineEdit reports textChanged only for a text that really differs, for typing and for
    // program writes alike, which is exactly when the copier's change handlers must run.
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { emit Change(); });
}

QString TCustomSpinEdit::Text() const {
    return lineEdit()->text();
}

void TCustomSpinEdit::SetText(const QString& text) {
    if (text != lineEdit()->text())
        lineEdit()->setText(text);
}

QAbstractSpinBox::StepEnabled TCustomSpinEdit::stepEnabled() const {
    if (isReadOnly())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}

QValidator::State TCustomSpinEdit::validate(QString& input, int&) const {
    // Only single typed characters are filtered; the range is checked when the focus leaves.
    for (const QChar c : input)
        if (!IsValidChar(c))
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

void TCustomSpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    // Switching to another window or opening a menu keeps this edit the window's focused
    // control; only a move to another control of the window counts as leaving the edit.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    emit Exit();
    TidyUpOnExit();
}

void TCustomSpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepBy(1);
        event->accept();
        return;
    case Qt::Key_Down:
        stepBy(-1);
        event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Page keys switch pictures in the window's key handler; they do not step the value.
        event->ignore();
        return;
    default:
        QAbstractSpinBox::keyPressEvent(event);
    }
}

void TCustomSpinEdit::wheelEvent(QWheelEvent* event) {
    // Scrolling over the info panel must not change layout figures by accident.
    event->ignore();
}

// ---------------------------------------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget* parent) : TCustomSpinEdit(parent) {
    SetValue(0);
}

int TSpinEdit::Value() const {
    int value = 0;
    return ReadWholeNumber(Text(), value) ? value : m_minValue;
}

int TSpinEdit::CheckValue(int value) const {
    if (m_minValue == m_maxValue)
        return value;
    if (value < m_minValue)
        return m_minValue;
    if (value > m_maxValue)
        return m_maxValue;
    return value;
}

void TSpinEdit::SetValue(int value) {
    SetText(QString::number(CheckValue(value)));
}

void TSpinEdit::stepBy(int steps) {
    // Saturate instead of wrapping around at the ends of the 32-bit range of an unlimited edit.
    const qint64 next = qint64(Value()) + qint64(steps) * m_increment;
    const qint64 lo = std::numeric_limits<int>::min();
    const qint64 hi = std::numeric_limits<int>::max();
    SetValue(static_cast<int>(qBound(lo, next, hi)));
}

namespace {

bool IsAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

bool TSpinEdit::IsValidChar(QChar c) const {
    return IsAsciiDigit(c) || c == QLatin1Char('-') || c == QLatin1Char('+');
}

void TSpinEdit::TidyUpOnExit() {
    const int value = Value();
    if (CheckValue(value) != value)
        SetValue(value);
}

// ---------------------------------------------------------------------------------------------

namespace {

// The user's locale, without group separators: the edits show 2147483647,00, not 2.147.483.647,00.
QLocale EditLocale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

} // namespace

TFloatSpinEdit::TFloatSpinEdit(QWidget* parent) : TCustomSpinEdit(parent) {
    SetValue(0);
}

double TFloatSpinEdit::Value() const {
    // A point and a comma both separate the decimals, whatever the locale: "75.5" typed in a
    // German locale is 75,5 percent, not a malformed thousands group that reads as 0 and makes
    // the copy vanish. The edits never show group separators, so neither is taken as one.
    QString text = Text().trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    const QString localePoint = EditLocale().decimalPoint();
    if (localePoint.size() == 1 && localePoint != QLatin1String(","))
        text.replace(localePoint, QStringLiteral("."));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

double TFloatSpinEdit::CheckValue(double value) const {
    if (m_minValue == m_maxValue)
        return value;
    return qBound(m_minValue, value, m_maxValue);
}

void TFloatSpinEdit::SetValue(double value) {
    SetText(EditLocale().toString(CheckValue(value), 'f', Decimals));
}

void TFloatSpinEdit::stepBy(int steps) {
    SetValue(Value() + steps * m_increment);
}

bool TFloatSpinEdit::IsValidChar(QChar c) const {
    return IsAsciiDigit(c) || c == QLatin1Char('-') || c == QLatin1Char('+') ||
           c == QLatin1Char('.') || c == QLatin1Char(',') ||
           QString(c) == EditLocale().decimalPoint();
}

void TFloatSpinEdit::TidyUpOnExit() {
    SetValue(Value());
}

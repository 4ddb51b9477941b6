// The spin edits on their own: what the info panel's handlers rely on when they read, write and
// leave an edit.

#include "app/SpinEdits.h"
#include "tests/gui/GuiTestEnv.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <limits>

namespace {

constexpr int IntMax = std::numeric_limits<int>::max();
constexpr int IntMin = std::numeric_limits<int>::min();

// A window with two edits, so that the focus can leave the first for the second.
struct TwoEdits {
    QWidget window;
    TSpinEdit* first = new TSpinEdit(&window);
    TSpinEdit* second = new TSpinEdit(&window);

    TwoEdits() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(first);
        layout->addWidget(second);
        window.show();
        QApplication::setActiveWindow(&window);
    }
};

void TypeOver(TCustomSpinEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

} // namespace

class SpinEditTest : public QObject {
    Q_OBJECT

private slots:
    void integerReadsUnreadableTextAsLowerLimit_data();
    void integerReadsUnreadableTextAsLowerLimit();
    void programWritesClampOnlyWithLimits();
    void typingMayLeaveTheRange();
    void exitSeesTheTypedValueBeforeClamping();
    void leavingTheWindowIsNoExit();
    void changeOncePerNewText();
    void arrowKeysStepByIncrementPageKeysDoNot();
    void decimalShowsTwoLocaleDecimals();
    void decimalRewritesItsTextOnExit();
    void decimalReadsPointAndComma_data();
    void decimalReadsPointAndComma();
};

void SpinEditTest::integerReadsUnreadableTextAsLowerLimit_data() {
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << 1 << 9999 << "" << 1;
    QTest::newRow("lone minus") << 1 << 9999 << "-" << 1;
    QTest::newRow("letters") << 1 << 9999 << "abc" << 1;
    QTest::newRow("beyond 32 bits") << 1 << 9999 << "99999999999" << 1;
    // A readable number is returned as written: clamping is the exit's business.
    QTest::newRow("above range") << 1 << 9999 << "12345" << 12345;
    QTest::newRow("unlimited, negative") << 0 << 0 << "-50" << -50;
}

void SpinEditTest::integerReadsUnreadableTextAsLowerLimit() {
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(QString, text);
    QFETCH(int, value);
    TSpinEdit edit;
    edit.SetMinValue(minValue);
    edit.SetMaxValue(maxValue);
    edit.SetText(text);
    QCOMPARE(edit.Value(), value);
    QCOMPARE(edit.Text(), text);
}

void SpinEditTest::programWritesClampOnlyWithLimits() {
    TSpinEdit copies;
    copies.SetMinValue(1);
    copies.SetMaxValue(9999);
    copies.SetValue(0);
    QCOMPARE(copies.Text(), QStringLiteral("1"));
    copies.SetValue(10000);
    QCOMPARE(copies.Text(), QStringLiteral("9999"));

    TSpinEdit position; // both limits 0: no limits at all
    position.SetValue(-50);
    QCOMPARE(position.Text(), QStringLiteral("-50"));
    position.SetValue(IntMax);
    QCOMPARE(position.Value(), IntMax);
    position.SetValue(IntMin);
    QCOMPARE(position.Value(), IntMin);
}

void SpinEditTest::typingMayLeaveTheRange() {
    TwoEdits w;
    w.first->SetMinValue(1);
    w.first->SetMaxValue(9999);
    TypeOver(w.first, QStringLiteral("123456"));
    QCOMPARE(w.first->Text(), QStringLiteral("123456"));
    TypeOver(w.first, QStringLiteral("-3"));
    QCOMPARE(w.first->Value(), -3);
    // Letters cannot be typed at all.
    TypeOver(w.first, QStringLiteral("4x2"));
    QCOMPARE(w.first->Text(), QStringLiteral("42"));
}

void SpinEditTest::exitSeesTheTypedValueBeforeClamping() {
    TwoEdits w;
    QVERIFY(QTest::qWaitForWindowActive(&w.window));
    w.first->SetMinValue(0);
    w.first->SetMaxValue(IntMax);
    int seenValue = 1;
    QString seenText;
    connect(w.first, &TSpinEdit::Exit, this, [&] {
        seenValue = w.first->Value();
        seenText = w.first->Text();
    });

    TypeOver(w.first, QStringLiteral("-5"));
    w.second->setFocus();
    QCOMPARE(seenValue, -5);
    QCOMPARE(seenText, QStringLiteral("-5"));
    QCOMPARE(w.first->Text(), QStringLiteral("0"));

    // In range: the exit handler runs and the text stays as typed.
    QSignalSpy changes(w.first, &TSpinEdit::Change);
    TypeOver(w.first, QStringLiteral("300"));
    const int typed = static_cast<int>(changes.count());
    w.second->setFocus();
    QCOMPARE(seenValue, 300);
    QCOMPARE(w.first->Text(), QStringLiteral("300"));
    QCOMPARE(changes.count(), typed);
}

void SpinEditTest::leavingTheWindowIsNoExit() {
    TSpinEdit edit;
    QSignalSpy exits(&edit, &TSpinEdit::Exit);
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(&edit, &deactivated);
    QFocusEvent menu(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(&edit, &menu);
    QCOMPARE(exits.count(), 0);
    QFocusEvent tabbedAway(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&edit, &tabbedAway);
    QCOMPARE(exits.count(), 1);
}

void SpinEditTest::changeOncePerNewText() {
    TSpinEdit edit;
    TFloatSpinEdit zoom;
    QSignalSpy changes(&edit, &TSpinEdit::Change);
    QSignalSpy zoomChanges(&zoom, &TFloatSpinEdit::Change);

    edit.SetValue(5);
    QCOMPARE(changes.count(), 1);
    edit.SetValue(5);
    edit.SetText(QStringLiteral("5"));
    QCOMPARE(changes.count(), 1);
    edit.SetValue(6);
    QCOMPARE(changes.count(), 2);

    zoom.SetValue(100);
    zoom.SetValue(100.001); // shows the same 100,00
    QCOMPARE(zoomChanges.count(), 1);

    // Typing "150" over a selected text: one change per keystroke (1, 15, 150).
    TwoEdits w;
    QSignalSpy typed(w.first, &TSpinEdit::Change);
    TypeOver(w.first, QStringLiteral("150"));
    QCOMPARE(typed.count(), 3);
}

void SpinEditTest::arrowKeysStepByIncrementPageKeysDoNot() {
    TSpinEdit position;
    position.SetIncrement(10);
    QTest::keyClick(&position, Qt::Key_Up);
    QCOMPARE(position.Value(), 10);
    QTest::keyClick(&position, Qt::Key_Down);
    QTest::keyClick(&position, Qt::Key_Down);
    QCOMPARE(position.Value(), -10);
    QTest::keyClick(&position, Qt::Key_PageUp);
    QTest::keyClick(&position, Qt::Key_PageDown);
    QCOMPARE(position.Value(), -10);

    TSpinEdit copies;
    copies.SetMinValue(1);
    copies.SetMaxValue(9999);
    copies.SetValue(9999);
    copies.stepBy(1);
    QCOMPARE(copies.Value(), 9999);

    TSpinEdit top; // unlimited: the step saturates at the end of the range
    top.SetValue(IntMax - 3);
    top.SetIncrement(10);
    top.stepBy(1);
    QCOMPARE(top.Value(), IntMax);
}

void SpinEditTest::decimalShowsTwoLocaleDecimals() {
    TFloatSpinEdit zoom;
    zoom.SetMaxValue(2147483647);
    QCOMPARE(zoom.Text(), QStringLiteral("0,00"));
    zoom.SetValue(100);
    QCOMPARE(zoom.Text(), QStringLiteral("100,00"));
    zoom.SetValue(1.5);
    QCOMPARE(zoom.Text(), QStringLiteral("1,50"));
    zoom.SetValue(1e12);
    QCOMPARE(zoom.Text(), QStringLiteral("2147483647,00"));
    zoom.SetText(QStringLiteral("150"));
    QCOMPARE(zoom.Value(), 150.0);
    zoom.SetText(QStringLiteral("12,5"));
    QCOMPARE(zoom.Value(), 12.5);
    // Text that is not a number reads as 0, not as the lower limit.
    zoom.SetMinValue(5);
    for (const char* text : {"", "-", ",", "abc"}) {
        zoom.SetText(QString::fromLatin1(text));
        QCOMPARE(zoom.Value(), 0.0);
    }
}

void SpinEditTest::decimalRewritesItsTextOnExit() {
    QWidget window;
    auto* zoom = new TFloatSpinEdit(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    zoom->SetMaxValue(2147483647);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    TypeOver(zoom, QStringLiteral("7"));
    other->setFocus();
    QCOMPARE(zoom->Text(), QStringLiteral("7,00"));
    TypeOver(zoom, QStringLiteral("-"));
    other->setFocus();
    QCOMPARE(zoom->Text(), QStringLiteral("0,00"));
}

void SpinEditTest::decimalReadsPointAndComma_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shownOnExit");
    QTest::newRow("comma") << "75,5" << 75.5 << "75,50";
    QTest::newRow("point") << "75.5" << 75.5 << "75,50";
    QTest::newRow("point, two decimals") << "12.25" << 12.25 << "12,25";
    QTest::newRow("leading point") << ".5" << 0.5 << "0,50";
    QTest::newRow("trailing point") << "150." << 150.0 << "150,00";
    QTest::newRow("no grouping: thousands read as decimals") << "1.000" << 1.0 << "1,00";
    QTest::newRow("two separators are no number") << "1.000,5" << 0.0 << "0,00";
}

// "75.5" typed on a German desktop is 75,5 %, not 0 (which made the copy vanish).
void SpinEditTest::decimalReadsPointAndComma() {
    QFETCH(QString, typed);
    QFETCH(double, value);
    QFETCH(QString, shownOnExit);
    QWidget window;
    auto* zoom = new TFloatSpinEdit(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    zoom->SetMaxValue(2147483647);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));

    TypeOver(zoom, typed);
    QCOMPARE(zoom->Text(), typed);
    QCOMPARE(zoom->Value(), value);
    other->setFocus();
    QCOMPARE(zoom->Text(), shownOnExit);
}

VELMORA_GUI_TEST_MAIN(SpinEditTest)
#include "SpinEditTest.moc"

// The scanner dialog for SANE's test scanner (private SANE_CONFIG_DIR of scripts/testenv.sh),
// under an English C locale: every title, tooltip and choice SANE has a German word for is
// shown in German, the device still gets its own English values, and numbers have decimal
// commas.

#include "dsm/sane/SaneDialog.h"
#include "dsm/sane/SaneCatalogue.h"
#include "dsm/sane/SaneSession.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTest>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace sanebridge;

namespace {

// The test backend loses a few strings; kept loaded, LeakSanitizer can name it.
const bool testBackendKept = dlopen(SANE_TEST_BACKEND, RTLD_NOW | RTLD_NODELETE) != nullptr;

DibMemory Heap() {
    return {[](std::size_t n) { return std::calloc(n, 1); }, [](void* b) { std::free(b); }};
}

struct Shown {
    QString where, text;
};

// Every text of the dialog a user can read: labels, button captions, tooltips, group titles,
// every entry of every list and what the edits hold.
std::vector<Shown> ShownTexts(QWidget* dialog) {
    std::vector<Shown> shown;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        const QString name = w->objectName().isEmpty()
                                 ? QString::fromLatin1(w->metaObject()->className())
                                 : w->objectName();
        if (!w->toolTip().isEmpty())
            shown.push_back({name + QStringLiteral(" tooltip"), w->toolTip()});
        if (auto* label = qobject_cast<QLabel*>(w)) {
            QString text = label->text();
            if (text.endsWith(QLatin1Char(':')))
                text.chop(1);
            shown.push_back({QStringLiteral("label"), text});
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            shown.push_back({name, button->text()});
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            shown.push_back({name, box->title()});
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                shown.push_back({name, combo->itemText(i)});
        } else if (auto* line = qobject_cast<QLineEdit*>(w)) {
            shown.push_back({name, line->text()});
        }
    }
    return shown;
}

class SaneDialogGerman : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("SANE_CONFIG_DIR"))
            GTEST_SKIP() << "needs the SANE test scanner of scripts/testenv.sh";
        ASSERT_GT(SaneGerman().Size(), 0u) << "SANE's German catalogue is missing";
        session = std::make_unique<SaneSession>(Heap());
        ASSERT_EQ(session->Open("test:0"), Status::Good);
        dialog = std::make_unique<SaneDialog>(*session, QStringLiteral("test:0"),
                                              [this](const QString& m) { messages << m; });
        dialog->show();
    }

    void TearDown() override {
        dialog.reset();
        session.reset();
        EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    }

    // The device's own value of an option, read from the device.
    OptionDesc Device(const std::string& name) {
        for (const OptionDesc& o : session->Options())
            if (o.name == name)
                return o;
        ADD_FAILURE() << "no option " << name;
        return {};
    }

    template <class W> W* Editor(const char* name) {
        QCoreApplication::processEvents(); // a rebuild after a change runs from the event loop
        return dialog->findChild<W*>(QString::fromLatin1(name));
    }

    // Not one text SANE would translate is left in English.
    void ExpectNothingEnglish(const char* when) {
        int texts = 0;
        for (const Shown& s : ShownTexts(dialog.get())) {
            ++texts;
            EXPECT_FALSE(SaneGerman().Translates(s.text.toStdString()))
                << when << ": " << s.where.toStdString() << " shows \"" << s.text.toStdString()
                << "\", SANE has \"" << SaneGerman().Translate(s.text.toStdString()) << "\"";
        }
        EXPECT_GT(texts, 20) << when;
    }

    std::unique_ptr<SaneSession> session;
    std::unique_ptr<SaneDialog> dialog;
    QStringList messages;
};

} // namespace

TEST_F(SaneDialogGerman, EveryOptionOfTheTestScannerIsShownInGerman) {
    ExpectNothingEnglish("the test scanner's options");
    auto* source = Editor<QComboBox>("source");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->currentText(), QStringLiteral("Flachbett"));
    EXPECT_EQ(source->toolTip(), QStringLiteral("Falls der automatische Dokumenteneinzug "
                                                "ausgewählt ist, meldet der Einzug \"leer\" nach "
                                                "10 Scans."));
    auto* picture = Editor<QComboBox>("test-picture");
    ASSERT_NE(picture, nullptr);
    EXPECT_GE(picture->findText(QStringLiteral("Farbmuster")), 0);

    // Every test option of every kind, and the backend's texts in the free text edit.
    auto* testOptions = Editor<QCheckBox>("enable-test-options");
    ASSERT_NE(testOptions, nullptr);
    testOptions->click();
    ASSERT_NE(Editor<QLineEdit>("string"), nullptr);
    ExpectNothingEnglish("with the test options");
    EXPECT_EQ(Editor<QLineEdit>("string")->text(),
              QString::fromStdString(SaneGerman().Translate(Device("string").text)));
    testOptions = Editor<QCheckBox>("enable-test-options");
    ASSERT_NE(testOptions, nullptr);
    testOptions->click();
    EXPECT_EQ(Editor<QLineEdit>("string"), nullptr);
}

TEST_F(SaneDialogGerman, TheDeviceGetsItsOwnValuesBack) {
    auto* source = Editor<QComboBox>("source");
    ASSERT_NE(source, nullptr);
    const int feeder = source->findText(QStringLiteral("Automatischer Dokumenteneinzug"));
    ASSERT_GE(feeder, 0);
    source->setCurrentIndex(feeder);
    emit source->activated(feeder);
    EXPECT_EQ(Device("source").text, "Automatic Document Feeder");

    auto* mode = Editor<QComboBox>("mode");
    ASSERT_NE(mode, nullptr);
    const int color = mode->findText(QStringLiteral("Farbe"));
    ASSERT_GE(color, 0);
    mode->setCurrentIndex(color);
    emit mode->activated(color);
    EXPECT_EQ(Device("mode").text, "Color");

    // The free text edit shows a text of the device's in German; left as it is, the device
    // gets its own text back, a text the user typed goes as typed.
    auto* testOptions = Editor<QCheckBox>("enable-test-options");
    ASSERT_NE(testOptions, nullptr);
    testOptions->click();
    ASSERT_EQ(session->SetOption("string", std::string("Second entry")).status, Status::Good);
    dialog->Reload();
    auto* line = Editor<QLineEdit>("string");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), QStringLiteral("Zweiter Eintrag"));
    emit line->editingFinished();
    EXPECT_EQ(Device("string").text, "Second entry");
    line->setText(QStringLiteral("Velmora"));
    emit line->editingFinished();
    EXPECT_EQ(Device("string").text, "Velmora");
}

TEST_F(SaneDialogGerman, NumbersHaveADecimalComma) {
    auto* height = Editor<QDoubleSpinBox>("br-y");
    ASSERT_NE(height, nullptr);
    EXPECT_EQ(height->text(), QStringLiteral("297,0 mm"));
    // A list of fixed-point values.
    auto* testOptions = Editor<QCheckBox>("enable-test-options");
    ASSERT_NE(testOptions, nullptr);
    testOptions->click();
    auto* fixedList = Editor<QComboBox>("fixed-constraint-word-list");
    ASSERT_NE(fixedList, nullptr);
    EXPECT_GE(fixedList->findText(QStringLiteral("129,5")), 0);
    EXPECT_EQ(fixedList->findText(QStringLiteral("129.5")), -1);
    EXPECT_GE(fixedList->findText(QStringLiteral("-32,7")), 0);
    // Whole numbers in full.
    auto* intList = Editor<QComboBox>("int-constraint-word-list");
    ASSERT_NE(intList, nullptr);
    EXPECT_GE(intList->findText(QStringLiteral("16777216 Bit")), 0);
    EXPECT_GE(intList->findText(QStringLiteral("-42 Bit")), 0);

    // What the user types with a comma reaches the device.
    auto* fixed = Editor<QDoubleSpinBox>("fixed");
    ASSERT_NE(fixed, nullptr);
    fixed->findChild<QLineEdit*>()->setText(QStringLiteral("-42,5"));
    fixed->interpretText();
    EXPECT_DOUBLE_EQ(Device("fixed").numbers.at(0), -42.5);
    EXPECT_EQ(Editor<QDoubleSpinBox>("fixed")->text(), QStringLiteral("-42,5"));
}

int main(int argc, char** argv) {
    // An English user: neither the message locale nor Qt's number format makes it German.
    qputenv("LC_ALL", "C");
    qunsetenv("LANGUAGE");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

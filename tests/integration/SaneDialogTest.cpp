// The scanner dialog for SANE's test scanner (private SANE_CONFIG_DIR of scripts/testenv.sh),
// under an English C locale: every title, tooltip and choice SANE has a German word for is
// shown in German, the device still gets its own English values, and numbers have decimal
// commas.

#include "dsm/sane/SaneDialog.h"
#include "dsm/sane/PreviewPane.h"
#include "dsm/sane/SaneCatalogue.h"
#include "dsm/sane/SaneSession.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

namespace {

// The scanner dialog's preview on the test scanner, wired to the session as the bridge wires it.
class SaneDialogPreview : public SaneDialogGerman {
protected:
    void SetUp() override {
        SaneDialogGerman::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        QObject::connect(dialog.get(), &SaneDialog::PreviewRequested, dialog.get(),
                         [this] { dialog->StartPreview(); });
        QObject::connect(dialog->Progress(), &ScanProgress::CancelRequested, dialog.get(),
                         [this] { session->Cancel(); });
        dialog->resize(900, 700);
        QCoreApplication::processEvents();
    }

    QPushButton* Button(const char* text) {
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == QString::fromUtf8(text))
                return b;
        ADD_FAILURE() << "no button " << text;
        return nullptr;
    }

    bool Preview() {
        QPushButton* preview = Button("Vorschau");
        if (!preview || !preview->isEnabled())
            return false;
        preview->click();
        QElapsedTimer t;
        t.start();
        while (dialog->PreviewRunning() && t.elapsed() < 30000)
            QTest::qWait(10);
        QCoreApplication::processEvents();
        return !dialog->PreviewRunning() && !dialog->Pane()->Image().isNull();
    }

    void Set(const std::string& name, const std::string& text) {
        ASSERT_EQ(session->SetOption(name, text).status, Status::Good) << name;
        dialog->Reload();
        QCoreApplication::processEvents();
    }
    void Set(const std::string& name, double value) {
        ASSERT_EQ(session->SetOption(name, value).status, Status::Good) << name;
        dialog->Reload();
        QCoreApplication::processEvents();
    }

    // Width, height and bits per pixel of the next page as the device scans it now.
    struct Page {
        int width = 0, height = 0, bits = 0;
    };
    Page ScanPage() {
        PageJob job = session->ScanPage();
        EXPECT_TRUE(job.WaitFor(PageJob::Phase::Done, 60000));
        session->EndBatch();
        EXPECT_EQ(job.Result(), Status::Good);
        Page page;
        if (void* dib = job.TakeDib()) {
            std::int32_t w = 0, h = 0;
            std::uint16_t bits = 0;
            std::memcpy(&w, static_cast<char*>(dib) + 4, 4);
            std::memcpy(&h, static_cast<char*>(dib) + 8, 4);
            std::memcpy(&bits, static_cast<char*>(dib) + 14, 2);
            page = {w, std::abs(h), bits};
            std::free(dib);
        }
        return page;
    }

    // Every value the device holds, for comparing before and after.
    std::vector<std::pair<std::string, std::string>> Values() {
        std::vector<std::pair<std::string, std::string>> values;
        for (const OptionDesc& o : session->Options()) {
            std::string v = o.text;
            for (double n : o.numbers)
                v += ' ' + std::to_string(n);
            values.emplace_back(o.name, v);
        }
        return values;
    }

    static bool HasColour(const QImage& image) {
        for (int y = 0; y < image.height(); y += 7)
            for (int x = 0; x < image.width(); x += 7) {
                const QRgb p = image.pixel(x, y);
                if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))
                    return true;
            }
        return false;
    }
};

} // namespace

// The preview is a colour picture of the whole bed at 50 dpi, whatever the dialog is set to;
// the dialog set to 50 dpi grey, previewed, then set to 300 dpi colour scans 300 dpi colour.
TEST_F(SaneDialogPreview, PreviewNeverLeaksIntoTheScan) {
    Set("mode", std::string("Gray"));
    Set("resolution", 50.0);
    Set("tl-x", 10.0);
    Set("br-x", 110.0);
    const auto before = Values();
    ASSERT_TRUE(Preview());
    const QImage preview = dialog->Pane()->Image();
    const QRectF bed = dialog->Pane()->Bed();
    EXPECT_NEAR(preview.width(), bed.width() / 25.4 * 50, 2);
    EXPECT_NEAR(preview.height(), bed.height() / 25.4 * 50, 2);
    EXPECT_TRUE(HasColour(preview));
    EXPECT_EQ(Values(), before);
    Set("mode", std::string("Color"));
    Set("resolution", 300.0);
    const Page page = ScanPage();
    EXPECT_NEAR(page.width, 100 / 25.4 * 300, 1.5);
    EXPECT_EQ(page.bits, 24);
}

// The rectangle drawn over the preview reaches the fields and the device, the fields move the
// rectangle, and the next page is the area in pixels; a double click takes the whole bed. The
// preview is still there when the dialog opens again.
TEST_F(SaneDialogPreview, AreaFollowsMouseAndFieldsIntoTheScan) {
    ASSERT_TRUE(Preview());
    PreviewPane* pane = dialog->Pane();
    ASSERT_TRUE(pane->HasArea());
    // The whole bed first: the drag draws a new area wherever it starts.
    QTest::mouseDClick(pane, Qt::LeftButton, {}, pane->ToView({60, 60}).toPoint());
    QCoreApplication::processEvents();
    const QPoint from = pane->ToView({20, 30}).toPoint(), to = pane->ToView({120, 180}).toPoint();
    const double rightBefore = Device("br-x").numbers.at(0);
    QTest::mousePress(pane, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(pane, from + (to - from) * step / 10);
    // The fields follow the drag; the device hears of it once the drag ends.
    auto* right = Editor<QDoubleSpinBox>("br-x");
    ASSERT_NE(right, nullptr);
    EXPECT_NEAR(right->value(), 120, 1.0);
    EXPECT_DOUBLE_EQ(Device("br-x").numbers.at(0), rightBefore);
    QTest::mouseRelease(pane, Qt::LeftButton, {}, to);
    QCoreApplication::processEvents();
    const double mmPerPixel = pane->Bed().width() / pane->BedInView().width();
    const std::pair<const char*, double> drawn[] = {
        {"tl-x", 20}, {"tl-y", 30}, {"br-x", 120}, {"br-y", 180}};
    for (const auto& [name, value] : drawn) {
        EXPECT_NEAR(Device(name).numbers.at(0), value, mmPerPixel) << name;
        EXPECT_NEAR(Editor<QDoubleSpinBox>(name)->value(), Device(name).numbers.at(0), 0.05)
            << name;
    }

    auto* top = Editor<QDoubleSpinBox>("tl-y");
    ASSERT_NE(top, nullptr);
    top->setValue(50);
    QCoreApplication::processEvents();
    EXPECT_NEAR(pane->Area().top(), 50, 0.01);
    EXPECT_NEAR(pane->Area().left(), Device("tl-x").numbers.at(0), 0.01);

    Set("resolution", 300.0);
    const Page page = ScanPage();
    const double w = Device("br-x").numbers.at(0) - Device("tl-x").numbers.at(0);
    const double h = Device("br-y").numbers.at(0) - Device("tl-y").numbers.at(0);
    EXPECT_NEAR(page.width, w / 25.4 * 300, 1.5);
    EXPECT_NEAR(page.height, h / 25.4 * 300, 1.5);

    QTest::mouseDClick(pane, Qt::LeftButton, {}, pane->ToView({60, 60}).toPoint());
    QCoreApplication::processEvents();
    EXPECT_EQ(pane->Area(), pane->Bed());
    EXPECT_DOUBLE_EQ(Device("br-y").numbers.at(0), pane->Bed().bottom());

    const QImage kept = pane->Image();
    dialog = std::make_unique<SaneDialog>(*session, QStringLiteral("test:0"),
                                          [this](const QString& m) { messages << m; });
    EXPECT_EQ(dialog->Pane()->Image(), kept);
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

// A quit request that arrives while the acquisition loop waits for the scanner ends the loop
// and then Velmora itself, through its normal shut-down: the window closes and the settings
// file is written, once. The window system's close button is refused while the scanner works.

#include "app/MainForm.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"
#include "twain/Twain.h"

#include <QCloseEvent>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

namespace {

// Counts how often the window writes the settings file, from its lifecycle log.
int g_settingsWritten = 0;
QtMessageHandler g_previousHandler = nullptr;

void CountSettingsWrites(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QStringLiteral("FormClose: WriteSettings")))
        ++g_settingsWritten;
    if (type != QtDebugMsg && g_previousHandler)
        g_previousHandler(type, context, text);
}

void WriteScenario(const QTemporaryDir& dir, const QByteArray& text) {
    const QString scenario = dir.filePath(QStringLiteral("scenario"));
    QFile f(scenario);
    if (f.open(QIODevice::WriteOnly))
        f.write(text + "\nlog = " + QFile::encodeName(dir.filePath(QStringLiteral("calls.log"))) +
                "\n");
    qputenv("VELMORA_SCRIPTED_SCENARIO", QFile::encodeName(scenario));
}

QStringList ReadLog(const QTemporaryDir& dir) {
    QFile f(dir.filePath(QStringLiteral("calls.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The source's own window, while it is shown.
QWidget* SourceDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QStringLiteral("Testquelle"))
            return w;
    return nullptr;
}

// What the window system does when the user clicks a window's close button.
void CloseByWindowSystem(QWidget& window) {
    QCloseEvent close;
    QCoreApplication::sendEvent(window.windowHandle(), &close);
}

} // namespace

class TwainQuitTest : public QObject {
    Q_OBJECT

private slots:
    void QuitDuringTheLoopEndsVelmoraWithSettingsWritten() {
        QTemporaryDir dir;
        const QString scenario = dir.filePath(QStringLiteral("scenario"));
        QFile f(scenario);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("ready = no\npage = 10x10 24 gradient 300\n");
        f.close();
        qputenv("VELMORA_SCRIPTED_SCENARIO", QFile::encodeName(scenario));
        QFile::remove(GuiTestIniFile());

        DialogRecorder dialogs;
        TMainForm form;
        form.show();
        bool loopEnded = false;
        bool windowShownDuringLoop = false;
        QTimer::singleShot(0, &form, [&] {
            TTwain twain;
            if (!twain.LoadDSM() || !twain.OpenDSM(&form) || !twain.OpenSource())
                return QCoreApplication::exit(1);
            QTimer::singleShot(100, &form, [&] {
                windowShownDuringLoop = form.isVisible() && !form.isEnabled();
                QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
            });
            const std::vector<HGLOBAL>* images = twain.AcquireImages(&form);
            loopEnded = images && images->empty();
            twain.CloseDSM(&form);
            twain.UnloadDSM();
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(windowShownDuringLoop);
        QVERIFY(loopEnded);
        QVERIFY(!form.isVisible());
        QVERIFY2(QFile::exists(GuiTestIniFile()), "the settings were written at close");
    }

    void initTestCase() {
        QLoggingCategory::setFilterRules(QStringLiteral("velmora.lifecycle.debug=true"));
        g_previousHandler = qInstallMessageHandler(CountSettingsWrites);
    }

    // The close button while the scanner's dialog is up: refused, nothing written, the scan
    // goes on into the window, which then closes as usual and writes the settings once.
    void TheCloseButtonIsRefusedWhileTheScannerWorks() {
        QTemporaryDir dir;
        WriteScenario(dir, "dialog = yes\nready = no\npage = 10x10 24 gradient 300");
        QFile::remove(GuiTestIniFile());
        g_settingsWritten = 0;

        DialogRecorder dialogs;
        TMainForm form;
        form.show();
        bool refused = false;
        bool dialogWasUp = false;
        int stateAfterScan = 0;
        QTimer::singleShot(0, &form, [&] {
            QTimer::singleShot(100, &form, [&] {
                dialogWasUp = SourceDialog() != nullptr;
                CloseByWindowSystem(form);
                refused =
                    form.isVisible() && !QFile::exists(GuiTestIniFile()) && g_settingsWritten == 0;
                // The user gives up scanning: the source's dialog is closed.
                if (QWidget* dialog = SourceDialog())
                    dialog->close();
            });
            form.GetPicBtnClick(form.findChild<QToolButton*>(QStringLiteral("GetPicBtn")));
            stateAfterScan = form.Twain->GetState();
            QTimer::singleShot(0, &form, [&] { form.close(); });
            QTimer::singleShot(200, qApp, [] { QCoreApplication::exit(0); });
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(dialogWasUp);
        QVERIFY(refused);
        QCOMPARE(stateAfterScan, 1);
        QVERIFY(ReadLog(dir).contains(QStringLiteral("0001 0003 0402"))); // the source closed
        QVERIFY(!form.isVisible());
        QVERIFY(QFile::exists(GuiTestIniFile()));
        QCOMPARE(g_settingsWritten, 1);
    }

    // A quit request while a dialog that will not close is up (the driver is busy): the loop
    // ends, the scanner is closed, and then the program ends through its shut-down, settings
    // written once. The same for the fatal checks of the session, which post such a request.
    void AQuitDuringAScanEndsTheProgramOnceTheScannerIsClosed_data() {
        QTest::addColumn<bool>("posted");
        QTest::newRow("quit()") << false;
        QTest::newRow("posted request") << true;
    }
    void AQuitDuringAScanEndsTheProgramOnceTheScannerIsClosed() {
        QFETCH(bool, posted);
        // Without its end the test would wait here for ever.
        QTimer hang;
        hang.setSingleShot(true);
        connect(&hang, &QTimer::timeout, qApp, [] { QCoreApplication::exit(2); });
        hang.start(10000);
        QTemporaryDir dir;
        WriteScenario(dir, "dialog = stubborn\nready = no\npage = 10x10 24 gradient 300");
        QFile::remove(GuiTestIniFile());
        g_settingsWritten = 0;

        DialogRecorder dialogs;
        TMainForm form;
        form.show();
        bool dialogWasUp = false;
        bool scanReturned = false;
        int stateAfterScan = 0;
        QTimer::singleShot(0, &form, [&] {
            QTimer::singleShot(100, &form, [&] {
                dialogWasUp = SourceDialog() != nullptr;
                if (posted)
                    QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
                else
                    QCoreApplication::quit();
            });
            form.GetPicBtnClick(form.findChild<QToolButton*>(QStringLiteral("GetPicBtn")));
            scanReturned = true;
            stateAfterScan = form.Twain->GetState();
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(dialogWasUp);
        QVERIFY(scanReturned);
        QCOMPARE(stateAfterScan, 1);
        QCOMPARE(dialogs.History.size(), 0); // nothing that waits for an answer
        QCOMPARE(SourceDialog(), nullptr);
        QVERIFY(!form.isVisible());
        QVERIFY(QFile::exists(GuiTestIniFile()));
        QCOMPARE(g_settingsWritten, 1);
    }
};

VELMORA_GUI_TEST_MAIN(TwainQuitTest)
#include "TwainQuitTest.moc"

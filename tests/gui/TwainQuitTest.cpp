// A quit request that arrives while the acquisition loop waits for the scanner ends the loop
// and then Velmora itself, through its normal shut-down: the window closes and the settings
// file is written.

#include "app/MainForm.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"
#include "twain/Twain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

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
};

VELMORA_GUI_TEST_MAIN(TwainQuitTest)
#include "TwainQuitTest.moc"

// The scanner's own button on the real main window: Velmora's test scanner with a "copy" and an
// "email" button (tests/support/sane-velmoratest.c, loaded by libsane from the build tree), the
// SANE bridge, and fast copies printed through the test environment's scheduler.

#include "twain/ScannerButton.h"
#include "app/MainForm.h"
#include "output/Printer.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"
#include "tests/support/PrintedJobs.h"
#include "twain/Twain.h"

#include <QAction>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString kQueue = QStringLiteral("Tastenkopierer");
const TPrintedJobs Jobs(kQueue);

} // namespace

class ScannerButtonTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString buttonFile;
    std::map<QString, int> presses;
    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;

    // The user presses a button of the scanner.
    void Press(const QString& button) {
        ++presses[button];
        QSaveFile f(buttonFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (const auto& [name, count] : presses)
            f.write(QStringLiteral("%1 %2\n").arg(name).arg(count).toUtf8());
        QVERIFY(f.commit());
    }

    // Whether another program could open the scanner now.
    bool DeviceFree() const {
        const int fd = ::open(QFile::encodeName(buttonFile + ".lock").constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return false;
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    }

    // Waits up to `ms` for the scanner to be free (or held), with the window's events running.
    bool WaitDevice(bool free, int ms) {
        QElapsedTimer t;
        t.start();
        while (DeviceFree() != free) {
            if (t.elapsed() > ms)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    int Scans() const {
        QFile f(buttonFile + ".scans");
        return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : 0;
    }

    // The copies are made from the window's event loop: it runs while they are waited for.
    bool WaitJobs(int count) {
        QElapsedTimer t;
        t.start();
        while (Jobs.Files().size() < count && t.elapsed() < 30000)
            QTest::qWait(50);
        return Jobs.WaitFor(count);
    }

    void SwitchItem() { form->ScannertasteItemClick(); }
    QAction* Item() { return Child<QAction>(*form, "ScannertasteItem"); }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER") ||
            qEnvironmentVariableIsEmpty("VELMORA_TEST_OUT"))
            QSKIP("needs the private scheduler of scripts/testenv.sh");
        QVERIFY(dir.isValid());
        buttonFile = dir.filePath("button");
        qputenv("VELMORA_TEST_BUTTON", QFile::encodeName(buttonFile));
        Press("copy");
        presses["copy"] = 0;
        Press("email");
        presses["email"] = 0;
        QVERIFY(Jobs.Install());
        TPrinter::Printer().Reset();
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        qputenv("VELMORA_TWAIN_SOURCES", SANE_SOURCES);
    }

    void cleanupTestCase() {
        Exec("lpadmin", {"-x", kQueue});
        TPrinter::Printer().Reset();
    }

    void init() {
        QFile::remove(ScannerButtonSettingFile());
        QDir(Jobs.Folder()).removeRecursively();
        dialogs = std::make_unique<DialogRecorder>();
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        Child<QRadioButton>(*form, "PrinterBtn")->setChecked(true);
    }

    void cleanup() {
        form.reset();
        dialogs.reset();
        qunsetenv("VELMORA_TEST_BUTTON_NONE");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Off until the user switches it on; then the scanner is watched and each press of its copy
    // button is one copy, one at a time; off again, the scanner is free within a second.
    void CopyButtonMakesOneCopyAtATime() {
        QVERIFY(!Item()->isChecked());
        QTest::qWait(500);
        QVERIFY(DeviceFree());

        SwitchItem();
        QVERIFY(Item()->isChecked());
        QVERIFY(WaitDevice(false, 5000));
        Press("copy");
        QVERIFY(WaitJobs(1));
        QCOMPARE(Scans(), 1);

        // Watched again once the copy is done (a press before that is not seen). Another button,
        // and two quick presses of the copy button: one copy more.
        QVERIFY(WaitDevice(false, 5000));
        QTest::qWait(400);
        Press("email");
        Press("copy");
        Press("copy");
        QVERIFY(WaitJobs(2));
        QTest::qWait(1500);
        QCOMPARE(Jobs.Files().size(), 2);
        QCOMPARE(Scans(), 2);

        // A press while a copy runs is not a second copy.
        bool pressedDuringCopy = false;
        QTimer::singleShot(0, this, [&] {
            pressedDuringCopy = form->Twain->GetState() > 1;
            Press("copy");
        });
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QVERIFY(pressedDuringCopy);
        QVERIFY(WaitJobs(3));
        QVERIFY(WaitDevice(false, 5000));
        QTest::qWait(1500);
        QCOMPARE(Jobs.Files().size(), 3);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);

        // Remembered beside the scanner choice, not in the settings file.
        QFile setting(ScannerButtonSettingFile());
        QVERIFY(setting.open(QIODevice::ReadOnly));
        QCOMPARE(setting.readAll().trimmed(), QByteArray("1"));
        form.reset();
        QVERIFY(WaitDevice(true, 1000));
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(Item()->isChecked());
        QVERIFY(WaitDevice(false, 5000));

        QElapsedTimer off;
        off.start();
        SwitchItem();
        QVERIFY(WaitDevice(true, 1000));
        QVERIFY2(off.elapsed() < 1000, qPrintable(QString::number(off.elapsed())));
        QVERIFY(!ReadScannerButtonSetting());
    }

    // A scanner without a button: a word when the item is switched on, and the scanner free.
    void ScannerWithoutButtonIsReported() {
        qputenv("VELMORA_TEST_BUTTON_NONE", "1");
        SwitchItem();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs->Count(DialogRecorder::Shown::Message), 1, 5000);
        QCOMPARE(dialogs->LastMessage().Text,
                 QStringLiteral("Dieser Scanner hat keine Taste, die Velmora erkennt."));
        QVERIFY(WaitDevice(true, 1000));
        QTest::qWait(600);
        QVERIFY(DeviceFree());
    }
};

VELMORA_GUI_TEST_MAIN(ScannerButtonTest)
#include "ScannerButtonTest.moc"

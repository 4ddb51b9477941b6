// A driverless (eSCL) scanner through sane-airscan on the real main window, with the SANE bridge
// and the project's own eSCL scanner (tests/support/escl-scanner.py): platen pages of the right
// size, a duplex feeder's pages in sheet order, fast copy at 100 % into a CUPS queue, and the
// faults of a real device: a jam, an empty feeder, a slow scanner the user stops, a scanner that
// disappears in the middle of a page.

#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "layout/Graphic.h"
#include "layout/PicObj.h"
#include "output/Printer.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"
#include "tests/support/PrintedJobs.h"
#include "tests/support/ScannerDialogs.h"
#include "twain/Twain.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <dlfcn.h>

namespace {

// sane-airscan keeps a few blocks per start of SANE; kept loaded, LeakSanitizer can name it.
const bool airscanKept = dlopen(SANE_AIRSCAN_BACKEND, RTLD_NOW | RTLD_NODELETE) != nullptr;

const QString kQueue = QStringLiteral("Netzkopierer");
const TPrintedJobs Jobs(kQueue);
// The scanner's pattern (escl-scanner.py): a frame 20 mm inside the A4 sheet, n marks for sheet
// n in a row 34 mm below the top edge on the front, 34 mm above the bottom edge on the back.
constexpr double kFrameW = 170, kFrameH = 257;
constexpr double kA4W = 2480 / 300.0 * 25.4, kA4H = 3508 / 300.0 * 25.4;
constexpr double kToleranceMM = 0.5;

bool Dark(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y)) < 128;
}

// Which side of which sheet a picture scanned at `dpi` shows: "F2" is the front of sheet 2, "B2"
// its back; "?" for anything else.
QString Side(const QImage& image, double dpi) {
    auto marks = [&](double yMM) {
        const int y = static_cast<int>(yMM / 25.4 * dpi);
        int runs = 0;
        bool in = false;
        for (int x = static_cast<int>(25 / 25.4 * dpi); x < static_cast<int>(185 / 25.4 * dpi);
             ++x) {
            const bool d = y < image.height() && x < image.width() && Dark(image, x, y);
            runs += d && !in;
            in = d;
        }
        return runs;
    };
    const int front = marks(34), back = marks(kA4H - 34);
    if (front > 0 && back == 0)
        return QStringLiteral("F%1").arg(front);
    if (back > 0 && front == 0)
        return QStringLiteral("B%1").arg(back);
    return QStringLiteral("?");
}

QImage Render(const QString& pdf, int dpi) {
    const QString prefix = qEnvironmentVariable("VELMORA_TEST_OUT") + "/escl-render";
    Exec("pdftoppm", {"-r", QString::number(dpi), "-f", "1", "-l", "1", "-singlefile", "-gray",
                      "-png", pdf, prefix});
    QImage image(prefix + ".png");
    QFile::remove(prefix + ".png");
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

class EsclAcquisitionTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QProcess server;
    int port = 0;
    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;
    // The bridge's own message boxes, answered as a user would.
    QStringList messages;
    QTimer messageWatch;

    bool StartServer(int atPort) {
        const QString portFile = dir.filePath("port");
        QFile::remove(portFile);
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start("python3", {ESCL_SCANNER, "--port", QString::number(atPort), "--port-file",
                                 portFile, "--sane-dir", dir.filePath("sane")});
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && !QFile::exists(portFile))
            QThread::msleep(20);
        QFile f(portFile);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        port = f.readAll().trimmed().toInt();
        return port > 0;
    }

    // Switches the scanner's faults (escl-scanner.py's control fields) for the next jobs.
    bool Control(const QString& fields) {
        bool ok = false;
        const QString out = Exec("python3",
                                 {"-c",
                                  "import sys, urllib.request; urllib.request.urlopen("
                                  "urllib.request.Request(sys.argv[1], data=sys.argv[2].encode()))",
                                  QStringLiteral("http://127.0.0.1:%1/control").arg(port), fields},
                                 &ok);
        if (!ok)
            qWarning("control: %s", qPrintable(out));
        return ok;
    }

    QList<TPicProperties*> Pics() { return Pages(*form); }

    QStringList Sides(int from = 0) {
        QStringList sides;
        const QList<TPicProperties*> pics = Pics();
        for (int i = from; i < pics.size(); ++i) {
            auto* raster = dynamic_cast<TRasterGraphic*>(pics[i]->Picture.Graphic());
            sides << (raster ? Side(raster->Image(), pics[i]->ScannerDPI.X) : QStringLiteral("-"));
        }
        return sides;
    }

    // "Hole Bild" with the source and resolution set in the scanner's dialog, then "Scannen";
    // the dialog is closed once the pages are in.
    bool ScanWithDialog(const QString& source, double dpi) {
        return AcquireWithDialog(*form, [&](QDialog* d) {
            Choose(d, "source", source);
            // The device offers a list of resolutions.
            Choose(d, "resolution", dpi);
            // As a person would: once the dialog has shown the settings' consequences.
            QTimer::singleShot(200, d,
                               [d] { DialogButton(d, QStringLiteral("Scannen"))->click(); });
            return true;
        });
    }

    void FastCopy(int dpi) {
        form->pic->ScannerDPI = {dpi, dpi};
        Child<TSpinEdit>(*form, "SrcXDPIEdit")->SetValue(dpi);
        Child<QPushButton>(*form, "FastCopyBtn")->click();
    }

    // The scanner's progress window of a fast copy.
    static QWidget* ProgressWindow() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (!qobject_cast<QDialog*>(w) && w->isVisible() &&
                w->windowTitle() == QStringLiteral("Scannen"))
                return w;
        return nullptr;
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER") ||
            qEnvironmentVariableIsEmpty("VELMORA_TEST_OUT"))
            QSKIP("needs the private scheduler of scripts/testenv.sh");
        if (!airscanKept)
            QSKIP("needs sane-airscan (scripts/install-deps.sh)");
        QVERIFY(dir.isValid());
        QVERIFY(StartServer(0));
        // The window reads the printers once, when it is made.
        QVERIFY(Jobs.Install());
        TPrinter::Printer().Reset();
        // Read by SANE at its first start in this process, which is still to come.
        qputenv("SANE_CONFIG_DIR", QFile::encodeName(dir.filePath("sane")));
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        qputenv("VELMORA_TWAIN_SOURCES", SANE_SOURCES);
        connect(&messageWatch, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    messages << box->text();
                    box->accept();
                }
        });
        messageWatch.start(50);
    }

    void cleanupTestCase() {
        Exec("lpadmin", {"-x", kQueue});
        TPrinter::Printer().Reset();
        server.kill();
        server.waitForFinished();
    }

    void init() {
        QVERIFY(Control("sheets=3&delay=0&jam_at=0&vanish_at=0&stall_at=0&card_at="));
        messages.clear();
        dialogs = std::make_unique<DialogRecorder>();
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Each print of the bitmap target asks for a file, which the recorder declines.
        Child<QRadioButton>(*form, "BitmapBtn")->setChecked(true);
        Child<QCheckBox>(*form, "AutoDPIBox")->setChecked(true);
    }

    void cleanup() {
        form.reset();
        dialogs.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A platen page keeps its size on paper at every resolution.
    void PlatenPageHasItsSize_data() {
        QTest::addColumn<int>("dpi");
        QTest::newRow("150 dpi") << 150;
        QTest::newRow("600 dpi") << 600;
    }
    void PlatenPageHasItsSize() {
        QFETCH(int, dpi);
        QVERIFY(ScanWithDialog(QStringLiteral("Flatbed"), dpi));
        const QList<TPicProperties*> pics = Pics();
        QCOMPARE(pics.size(), 1);
        QCOMPARE(pics[0]->ScannerDPI.X, dpi);
        QCOMPARE(pics[0]->ScannerDPI.Y, dpi);
        const double w = pics[0]->PicWidth() * 25.4 / dpi, h = pics[0]->PicHeight() * 25.4 / dpi;
        QVERIFY2(std::fabs(w - kA4W) < kToleranceMM && std::fabs(h - kA4H) < kToleranceMM,
                 qPrintable(QStringLiteral("%1 x %2 mm").arg(w).arg(h)));
        QCOMPARE(Sides(), QStringList{"F1"});
        QCOMPARE(messages, QStringList());
        QCOMPARE(form->Twain->GetState(), 1);
    }

    // Two two-sided sheets through the duplex feeder: front, back, front, back.
    void DuplexFeederGivesSidesInSheetOrder() {
        QVERIFY(Control("sheets=2"));
        QVERIFY(ScanWithDialog(QStringLiteral("ADF Duplex"), 150));
        QCOMPARE(Sides(), (QStringList{"F1", "B1", "F2", "B2"}));
        QCOMPARE(messages, QStringList());
    }

    // Fast copy from the feeder into a CUPS queue: one job per sheet, each the sheet at 100 %.
    void FastCopyPrintsEachSheetAtItsSize() {
        QDir(Jobs.Folder()).removeRecursively();
        // The feeder is chosen in the scanner's dialog once; fast copy keeps it.
        QVERIFY(Control("sheets=1"));
        QVERIFY(ScanWithDialog(QStringLiteral("ADF"), 75));
        Child<QRadioButton>(*form, "PrinterBtn")->setChecked(true);
        const int printer = form->CurrentPrinterIndex();
        QVERIFY(printer >= 0);
        QVERIFY(Control("sheets=2"));
        const int jobsBefore = form->PrintJobCount;
        FastCopy(300);
        QCOMPARE(Sides(1), (QStringList{"F1", "F2"}));
        QCOMPARE(form->PrintJobCount - jobsBefore, 2);
        QVERIFY(Jobs.WaitFor(2));
        const QStringList files = Jobs.Files();
        QCOMPARE(files.size(), 2);
        for (int sheet = 1; sheet <= 2; ++sheet) {
            const QString& pdf = files[sheet - 1];
            QCOMPARE(Exec("pdfinfo", {pdf}).contains(QRegularExpression("Pages:\\s+1\\n")), true);
            const QImage page = Render(pdf, 300);
            const QRect frame = DarkBox(page);
            const double w = frame.width() * 25.4 / 300, h = frame.height() * 25.4 / 300;
            QVERIFY2(
                std::fabs(w - kFrameW) < kToleranceMM && std::fabs(h - kFrameH) < kToleranceMM,
                qPrintable(QStringLiteral("sheet %1: frame %2 x %3 mm").arg(sheet).arg(w).arg(h)));
            // The sheet's own marks, in the sheet's order: the picture with the sheet's origin
            // where the frame says it is.
            const int inset = qRound(20 / 25.4 * 300);
            const QImage sheetImage =
                page.copy(frame.x() - inset, frame.y() - inset, page.width(), page.height());
            QCOMPARE(Side(sheetImage, 300), QStringLiteral("F%1").arg(sheet));
        }
        QCOMPARE(messages, QStringList());
    }

    // The scanner hangs in the middle of a page scanned from its dialog: "Abbrechen" and then
    // "Schließen" give the window back at once, and the dialog's settings hold for next time.
    void DialogCancelWhileTheScannerHangs() {
        QVERIFY(Control("sheets=3&stall_at=1"));
        QElapsedTimer clock;
        qint64 cancelledAt = -1;
        QTimer::singleShot(1500, this, [&] {
            if (QDialog* d = ScannerDialog())
                for (QPushButton* b : d->findChildren<QPushButton*>())
                    if (b->text() == QStringLiteral("Abbrechen") && b->isVisible()) {
                        cancelledAt = clock.elapsed();
                        b->click();
                    }
        });
        QTimer::singleShot(2500, this, [&] {
            if (QDialog* d = ScannerDialog())
                for (QPushButton* b : d->findChildren<QPushButton*>())
                    if (b->text() == QStringLiteral("Schließen"))
                        b->click();
        });
        clock.start();
        QVERIFY(ScanWithDialog(QStringLiteral("ADF"), 150));
        QVERIFY2(cancelledAt >= 0, "no progress to cancel in the dialog");
        QVERIFY2(clock.elapsed() < 6500, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
        QCOMPARE(Pics().size(), 1);
        QVERIFY(form->pic->IsEmpty());

        QVERIFY(Control("sheets=2&stall_at=0"));
        messages.clear();
        FastCopy(150);
        QCOMPARE(Sides(), (QStringList{"F1", "F2"}));
        QCOMPARE(form->pic->ScannerDPI.X, 150);
    }

    // A real device's faults in the middle of a feeder fast copy. Each time the pages before the
    // fault stay, the user gets one German message where there is something to do, nothing hangs,
    // and the next fast copy works.
    void FaultsKeepPagesAndLeaveTheScannerUsable_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("cancelAfterMs"); // -1: the user does not cancel
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("message");
        QTest::newRow("jam at the second sheet")
            << "sheets=3&jam_at=2" << -1 << QStringList{"F1"}
            << "Papierstau im Vorlageneinzug. Bitte beseitigen Sie den Stau und scannen Sie "
               "erneut.";
        QTest::newRow("feeder empty at the start")
            << "sheets=0" << -1 << QStringList{}
            << "Der Vorlageneinzug ist leer. Bitte legen Sie die Vorlagen ein.";
        QTest::newRow("slow scanner, the user cancels the second sheet")
            << "sheets=3&delay=2" << 3000 << QStringList{"F1"} << QString();
        QTest::newRow("slow scanner, the user cancels the first sheet")
            << "sheets=3&delay=2" << 1000 << QStringList{} << QString();
        QTest::newRow("scanner hangs in the middle of the second sheet, the user cancels")
            << "sheets=3&stall_at=2" << 2000 << QStringList{"F1"} << QString();
        QTest::newRow("scanner hangs in the middle of the first sheet, the user cancels")
            << "sheets=3&stall_at=1" << 2000 << QStringList{} << QString();
        QTest::newRow("scanner disappears in the middle of the second sheet")
            << "sheets=3&vanish_at=2" << -1 << QStringList{"F1"}
            << "Der Scanner antwortet nicht (Ein-/Ausgabefehler). Bitte prüfen Sie die "
               "Verbindung zum Scanner.";
    }
    void FaultsKeepPagesAndLeaveTheScannerUsable() {
        QFETCH(QString, fault);
        QFETCH(int, cancelAfterMs);
        QFETCH(QStringList, kept);
        QFETCH(QString, message);
        // One sheet from the feeder first: the page the user already has, and the feeder chosen.
        QVERIFY(Control("sheets=1"));
        QVERIFY2(ScanWithDialog(QStringLiteral("ADF"), 75), qPrintable(messages.join(" | ")));
        QCOMPARE(Pics().size(), 1);
        messages.clear();

        QVERIFY(Control(fault));
        QElapsedTimer clock;
        qint64 cancelledAt = -1;
        if (cancelAfterMs >= 0)
            QTimer::singleShot(cancelAfterMs, this, [&] {
                if (QWidget* w = ProgressWindow())
                    for (QPushButton* b : w->findChildren<QPushButton*>())
                        if (b->text() == QStringLiteral("Abbrechen")) {
                            cancelledAt = clock.elapsed();
                            b->click();
                        }
            });
        clock.start();
        FastCopy(75);
        const qint64 took = clock.elapsed();
        if (cancelAfterMs >= 0) {
            QVERIFY2(cancelledAt >= 0, "no progress window to cancel in");
            QVERIFY2(took - cancelledAt < 3000,
                     qPrintable(QStringLiteral("%1 ms after cancelling").arg(took - cancelledAt)));
        } else {
            QVERIFY2(took < 15000, qPrintable(QStringLiteral("%1 ms").arg(took)));
        }
        QCOMPARE(Sides(1), kept);
        QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(form->Twain->GetState(), 1);

        // The device back (switched on again, jam cleared, sheets in): the next copy works.
        if (fault.contains("vanish")) {
            server.waitForFinished(5000);
            QVERIFY(StartServer(port));
        }
        QVERIFY(Control("sheets=2&delay=0&jam_at=0&vanish_at=0&stall_at=0"));
        messages.clear();
        FastCopy(75);
        QCOMPARE(Sides(1 + static_cast<int>(kept.size())), (QStringList{"F1", "F2"}));
        QCOMPARE(messages, QStringList());
        QCOMPARE(form->Twain->GetState(), 1);
    }

    // A card on the glass: "Vorschau", "Automatisch" and "Scannen" give the card with a small
    // margin at 300 dpi, and a fast copy afterwards keeps that area and prints the card at its
    // real size.
    void PreviewFindsTheCardOnTheGlass() {
        QVERIFY(Control("card_at=10,15"));
        enum { Opened, Set, Previewing, Proposed, Scanning } step = Opened;
        QList<double> area;
        AcquireWithDialog(
            *form,
            [&](QDialog* d) {
                auto button = [d](const char* text) {
                    return DialogButton(d, QString::fromUtf8(text));
                };
                if (step == Opened) {
                    Choose(d, "source", QStringLiteral("Flatbed"));
                    Choose(d, "resolution", 300.0);
                    step = Set;
                } else if (step == Set) {
                    // Once the dialog shows what the settings changed.
                    button("Vorschau")->click();
                    step = Previewing;
                } else if (step == Previewing && button("Automatisch")->isEnabled() &&
                           button("Scannen")->isEnabled()) {
                    button("Automatisch")->click();
                    step = Proposed;
                } else if (step == Proposed) {
                    for (const char* name : {"tl-x", "tl-y", "br-x", "br-y"})
                        if (auto* spin = d->findChild<QDoubleSpinBox*>(QString::fromLatin1(name)))
                            area << spin->value();
                    button("Scannen")->click();
                    step = Scanning;
                }
                return step == Scanning;
            },
            100);
        QCOMPARE(step, Scanning);
        // The card spans 10 to 95.6 mm and 15 to 69 mm; 2 mm around it.
        const QList<double> expected{8, 13, 97.6, 71};
        QCOMPARE(area.size(), 4);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(std::fabs(area[i] - expected[i]) < 1.0,
                     qPrintable(QStringLiteral("edge %1 at %2 mm").arg(i).arg(area[i])));
        QCOMPARE(Pics().size(), 1);
        QCOMPARE(Pics()[0]->ScannerDPI.X, 300);
        const double w = Pics()[0]->PicWidth() * 25.4 / 300,
                     h = Pics()[0]->PicHeight() * 25.4 / 300;
        QVERIFY2(std::fabs(w - (area[2] - area[0])) < kToleranceMM &&
                     std::fabs(h - (area[3] - area[1])) < kToleranceMM,
                 qPrintable(QStringLiteral("%1 x %2 mm").arg(w).arg(h)));

        QDir(Jobs.Folder()).removeRecursively();
        Child<QRadioButton>(*form, "PrinterBtn")->setChecked(true);
        FastCopy(300);
        QVERIFY(Jobs.WaitFor(1));
        const QRect card = DarkBox(Render(Jobs.Files().value(0), 300));
        const double cw = card.width() * 25.4 / 300, ch = card.height() * 25.4 / 300;
        QVERIFY2(std::fabs(cw - 85.6) < kToleranceMM && std::fabs(ch - 54) < kToleranceMM,
                 qPrintable(QStringLiteral("card printed %1 x %2 mm").arg(cw).arg(ch)));
        QCOMPARE(messages, QStringList());
        // The next tests scan whole sheets again.
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + "/velmora/sane-options").removeRecursively();
    }
};

VELMORA_GUI_TEST_MAIN(EsclAcquisitionTest)
#include "EsclAcquisitionTest.moc"

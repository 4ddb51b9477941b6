// The acquisition workflow on the real main window with the scripted TWAIN source: the
// resolution each scanned page gets, fast copy printing every page while the source is enabled,
// the special driver mode through the driver's own windows, the scanner choice, and how the
// window recovers from failures.

#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "layout/Graphic.h"
#include "layout/PicObj.h"
#include "platform/Errors.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"
#include "tests/support/ScannerDialogs.h"
#include "twain/Twain.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <functional>

namespace {

const QString DisableDS = QStringLiteral("0001 0009 0501");
const QString GetCap = QStringLiteral("0001 0001 0001");
const QString NativeXfer = QStringLiteral("0002 0104 0001");

// Passes every dialog on to the recorder, and notes for each print of the bitmap target (its
// save dialog) whether the source had been disabled by then, and how many page transfers it had
// started.
class PrintWatch final : public Dialogs {
public:
    PrintWatch(DialogRecorder& recorder, QString log)
        : m_recorder(recorder), m_log(std::move(log)) {
        Dialogs::Install(this);
    }
    ~PrintWatch() override { Dialogs::Install(&m_recorder); }
    int Message(QWidget* parent, const MessageRequest& request) override {
        return m_recorder.Message(parent, request);
    }
    bool OpenFile(QWidget* parent, FileDialogRequest& request) override {
        return m_recorder.OpenFile(parent, request);
    }
    bool SaveFile(QWidget* parent, FileDialogRequest& request) override {
        if (WhilePrinting)
            WhilePrinting();
        QFile f(m_log);
        const bool opened = f.open(QIODevice::ReadOnly);
        const QString log = opened ? QString::fromLatin1(f.readAll()) : QString();
        PrintedWhileEnabled << (opened && !log.contains(DisableDS));
        TransfersBeforePrint << static_cast<int>(log.count(NativeXfer));
        return m_recorder.SaveFile(parent, request);
    }
    bool ChooseColor(QWidget* parent, QColor& color) override {
        return m_recorder.ChooseColor(parent, color);
    }
    bool PrinterSetup(QWidget* parent, QPrinter& printer, const QString& title) override {
        return m_recorder.PrinterSetup(parent, printer, title);
    }
    QList<bool> PrintedWhileEnabled;
    QList<int> TransfersBeforePrint;
    std::function<void()> WhilePrinting;

private:
    DialogRecorder& m_recorder;
    QString m_log;
};

const QString FrontPrompt = QStringLiteral(
    "Bitte die Karte mit der Vorderseite nach unten in die linke obere Ecke des Scanners legen.");
const QString BackPrompt =
    QStringLiteral("Bitte die Karte umdrehen und mit der Rückseite nach unten in die linke obere "
                   "Ecke des Scanners legen.");

} // namespace

class AcquisitionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;
    QByteArray m_cupsServer;

    QString LogPath() const { return dir->filePath(QStringLiteral("calls.log")); }

    void Scenario(const QString& text) {
        QFile f(dir->filePath(QStringLiteral("scenario")));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
        f.write("\nlog = " + QFile::encodeName(LogPath()) + "\n");
        f.close();
        qputenv("VELMORA_SCRIPTED_SCENARIO", QFile::encodeName(f.fileName()));
        QFile::remove(LogPath());
    }
    QStringList Log() const {
        QFile f(LogPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void SetAutoDPI(bool on) { Child<QCheckBox>(*form, "AutoDPIBox")->setChecked(on); }
    void SetDPI(int x, int y) {
        form->pic->ScannerDPI = {x, y};
        Child<TSpinEdit>(*form, "SrcXDPIEdit")->SetValue(x);
        Child<TSpinEdit>(*form, "SrcYDPIEdit")->SetValue(y);
    }
    void SetMustek(bool on) {
        auto* item = Child<QAction>(*form, "MustekspezialItem");
        if (item->isChecked() != on)
            form->MustekspezialItemClick();
        QCOMPARE(item->isChecked(), on);
    }
    QList<TPicProperties*> Pics() { return Pages(*form); }
    int Messages(const QString& text) const {
        int n = 0;
        for (const auto& shown : dialogs->History)
            n += shown.kind == DialogRecorder::Shown::Message && shown.message.Text == text;
        return n;
    }
    // Prints go to the bitmap target: each print asks for a file, which the recorder declines.
    void BitmapTarget() { Child<QRadioButton>(*form, "BitmapBtn")->setChecked(true); }

private slots:
    void init() {
        m_cupsServer = qgetenv("CUPS_SERVER");
        dir = std::make_unique<QTemporaryDir>();
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        dialogs = std::make_unique<DialogRecorder>();
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() {
        form.reset();
        dialogs.reset();
        dir.reset();
        if (m_cupsServer.isEmpty())
            qunsetenv("CUPS_SERVER");
        else
            qputenv("CUPS_SERVER", m_cupsServer);
    }

    // Normal acquisition into the empty first picture: which resolution the page gets, and
    // whether the source was asked for it. With "Automatisch" the page in hand is asked: the
    // source's resolution, else the page's header (its pixels per metre, the last column).
    void PageResolution_data() {
        QTest::addColumn<bool>("autoDPI");
        QTest::addColumn<int>("startX");
        QTest::addColumn<int>("startY");
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("wantX");
        QTest::addColumn<int>("wantY");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("headerDPI");
        QTest::newRow("auto, accepted: the source reports the request")
            << true << 200 << 150 << "set = accept\nxres = onevalue 600" << 200 << 200 << true
            << 200;
        QTest::newRow("auto, accepted, the dialog set 150")
            << true << 300 << 300 << "set = accept\ndialog-dpi = 150" << 150 << 150 << true << 150;
        QTest::newRow("auto, accepted, the dialog set 150 x 100")
            << true << 300 << 300 << "set = accept\ndialog-dpi = 150x100" << 150 << 100 << true
            << 150;
        QTest::newRow("auto, refused: read back")
            << true << 200 << 150 << "set = refuse\nxres = onevalue 600" << 600 << 600 << true
            << 600;
        QTest::newRow("auto, refused, enumeration at its current item")
            << true << 200 << 150 << "set = refuse\nxres = enum 2 100,200,400" << 400 << 400 << true
            << 400;
        QTest::newRow("auto, refused, a range delivers nothing: the header's")
            << true << 200 << 150 << "set = refuse\nxres = range 50 1200 1 600" << 250 << 250
            << true << 250;
        QTest::newRow("auto, refused, read back fails: the header's")
            << true << 200 << 150 << "set = refuse\nxres = fail" << 250 << 250 << true << 250;
        QTest::newRow("auto, refused, read back fails, no header: default")
            << true << 200 << 150 << "set = refuse\nxres = fail" << 300 << 300 << true << 0;
        QTest::newRow("manual, accepted: kept")
            << false << 200 << 150 << "set = accept\nxres = onevalue 600" << 200 << 150 << false
            << 600;
        QTest::newRow("manual, refused: still kept")
            << false << 200 << 150 << "set = refuse\nxres = onevalue 600" << 200 << 150 << false
            << 600;
        QTest::newRow("manual, none held: read back")
            << false << 0 << 0 << "set = refuse\nxres = onevalue 600" << 600 << 600 << true << 600;
        QTest::newRow("manual, vertical missing: follows")
            << false << 200 << 0 << "set = accept\ndialog-dpi = 150" << 200 << 200 << false << 150;
    }
    void PageResolution() {
        QFETCH(bool, autoDPI);
        QFETCH(int, startX);
        QFETCH(int, startY);
        QFETCH(QString, source);
        QFETCH(int, wantX);
        QFETCH(int, wantY);
        QFETCH(bool, asked);
        QFETCH(int, headerDPI);
        Scenario(source + QStringLiteral("\npage = 40x30 24 gradient %1").arg(headerDPI));
        SetAutoDPI(autoDPI);
        SetDPI(startX, startY);
        form->GetPicBtnClick(Child<QToolButton>(*form, "GetPicBtn"));

        QCOMPARE(Pics().size(), 1);
        QCOMPARE(form->pic->PicWidth(), 40);
        QCOMPARE(form->pic->ScannerDPI.X, wantX);
        QCOMPARE(form->pic->ScannerDPI.Y, wantY);
        QCOMPARE(Child<TSpinEdit>(*form, "SrcXDPIEdit")->Value(), wantX);
        QCOMPARE(Child<TSpinEdit>(*form, "SrcYDPIEdit")->Value(), wantY);
        const QStringList log = Log();
        QVERIFY(log.contains(QStringLiteral("xres-set %1").arg(startX)));
        QCOMPARE(log.contains(GetCap), asked);
        QCOMPARE(form->Twain->GetState(), 1);
        QCOMPARE(dialogs->History.size(), 0);
        // Centred on the printable area.
        QVERIFY(qAbs(form->pic->xRelPos - (1 - form->pic->xRelSize()) / 2) < 1e-3);
        QVERIFY(qAbs(form->pic->yRelPos - (1 - form->pic->yRelSize()) / 2) < 1e-3);
    }

    // A resolution typed and not yet confirmed counts for a scan started from a control that
    // takes no focus (the tool button, the menu entries), as it does for a push button.
    void TypedResolutionIsAskedFor_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("typedIn");
        QTest::newRow("Hole Bild button") << "GetPicBtn"
                                          << "SrcXDPIEdit";
        QTest::newRow("Hole Bild menu") << "HoleBild1"
                                        << "SrcXDPIEdit";
        QTest::newRow("Schnellkopie menu") << "FastCopyItem"
                                           << "SrcXDPIEdit";
        QTest::newRow("vertical edit") << "GetPicBtn"
                                       << "SrcYDPIEdit";
    }
    void TypedResolutionIsAskedFor() {
        QFETCH(QString, command);
        QFETCH(QString, typedIn);
        Scenario("set = accept\npage = 40x30 24 gradient 300");
        BitmapTarget();
        SetAutoDPI(false);
        SetDPI(200, 150);
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        auto* edit = Child<TSpinEdit>(*form, qPrintable(typedIn));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("120"));
        QCOMPARE(form->focusWidget(), edit);

        if (auto* button = form->findChild<QToolButton*>(command))
            button->click();
        else
            Child<QAction>(*form, qPrintable(command))->trigger();
        const bool vertical = typedIn == QStringLiteral("SrcYDPIEdit");
        QVERIFY(Log().contains(QStringLiteral("xres-set %1").arg(vertical ? 200 : 120)));
        QCOMPARE(Pics().size(), 1);
        QCOMPARE(vertical ? form->pic->ScannerDPI.Y : form->pic->ScannerDPI.X, 120);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    // Three feeder pages in fast copy: three pictures, each printed right after it arrived and
    // before the source is disabled; the pages after the first take the resolution asked for.
    void FastCopyPrintsEveryPageWhileTheSourceIsEnabled_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("button") << "FastCopyBtn";
        QTest::newRow("menu") << "FastCopyItem";
    }
    void FastCopyPrintsEveryPageWhileTheSourceIsEnabled() {
        QFETCH(QString, command);
        Scenario("set = accept\ncount = unknown\npage = 40x30 24 gradient 300\n"
                 "page = 50x30 8 gradient 300\npage = 60x30 1 gradient 300");
        BitmapTarget();
        SetAutoDPI(false);
        SetDPI(200, 150);
        PrintWatch watch(*dialogs, LogPath());
        if (command == QLatin1String("FastCopyBtn"))
            Child<QPushButton>(*form, "FastCopyBtn")->click();
        else
            Child<QAction>(*form, "FastCopyItem")->trigger();

        const QList<TPicProperties*> pics = Pics();
        QCOMPARE(pics.size(), 3);
        QCOMPARE(watch.PrintedWhileEnabled, (QList<bool>{true, true, true}));
        // Each page is printed before the next one is fetched.
        QCOMPARE(watch.TransfersBeforePrint, (QList<int>{1, 2, 3}));
        QVERIFY(Log().contains(DisableDS));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(pics[i]->PicWidth(), 40 + 10 * i);
            QCOMPARE(pics[i]->ScannerDPI.X, 200);
            QCOMPARE(pics[i]->ScannerDPI.Y, 150);
        }
        QCOMPARE(form->pic, pics[2]);
        QCOMPARE(form->Twain->GetState(), 1);
    }

    // A fast copy prints each page the moment it has arrived, while its transfer is still open;
    // a second acquisition or scanner choice started meanwhile does nothing.
    void NoSecondAcquisitionWhileOneRuns() {
        Scenario("page = 40x30 24 gradient 300\npage = 50x30 24 gradient 300");
        BitmapTarget();
        PrintWatch watch(*dialogs, LogPath());
        int nested = 0;
        watch.WhilePrinting = [&] {
            ++nested;
            form->GetPicBtnClick(Child<QPushButton>(*form, "FastCopyBtn"));
            form->GetPicBtnClick(Child<QToolButton>(*form, "GetPicBtn"));
            form->MScannersettingsClick();
            QVERIFY(!form->ScanPics(true, 300));
            QCOMPARE(form->Twain->GetState(), 7);
        };
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QCOMPARE(nested, 2);
        QCOMPARE(Pics().size(), 2);
        QCOMPARE(Log().filter(QStringLiteral("0001 0003 0401")).size(), 1);
        QCOMPARE(form->Twain->GetState(), 1);
        // Afterwards the next one runs.
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QCOMPARE(Pics().size(), 4);
    }

    // A feeder batch of A4 sheets whose resolution the user set to 150 dpi in the source's
    // dialog, after Velmora asked for 300 (or 200 for every later page): every page keeps its
    // real size, 210 x 297 mm, not half of it, in normal acquisition. A fast copy shows no
    // dialog, and its pages keep the resolution the source accepted.
    void FeederPagesKeepTheResolutionTheyWereScannedAt_data() {
        QTest::addColumn<bool>("fastCopy");
        QTest::addColumn<int>("wantDPI");
        QTest::newRow("normal: the dialog's 150") << false << 150;
        QTest::newRow("fast copy: the accepted 300") << true << 300;
    }
    void FeederPagesKeepTheResolutionTheyWereScannedAt() {
        QFETCH(bool, fastCopy);
        QFETCH(int, wantDPI);
        Scenario(QStringLiteral("set = accept\ndialog-dpi = 150\ncount = unknown\n") +
                 QStringLiteral("page = %1 1 white %2\n")
                     .arg(fastCopy ? "2480x3508" : "1240x1754")
                     .arg(wantDPI)
                     .repeated(3));
        BitmapTarget();
        SetAutoDPI(true);
        SetDPI(300, 200);
        form->GetPicBtnClick(fastCopy
                                 ? static_cast<QObject*>(Child<QPushButton>(*form, "FastCopyBtn"))
                                 : static_cast<QObject*>(Child<QToolButton>(*form, "GetPicBtn")));
        const QList<TPicProperties*> pics = Pics();
        QCOMPARE(pics.size(), 3);
        for (TPicProperties* p : pics) {
            QCOMPARE(p->ScannerDPI.X, wantDPI);
            QCOMPARE(p->ScannerDPI.Y, wantDPI);
            QCOMPARE(qRound(p->PicWidth() * 25.4 / p->ScannerDPI.X), 210);
            QCOMPARE(qRound(p->PicHeight() * 25.4 / p->ScannerDPI.Y), 297);
        }
        QCOMPARE(Child<TSpinEdit>(*form, "SrcXDPIEdit")->Value(), wantDPI);
        QCOMPARE(form->Twain->GetState(), 1);
    }

    // A normal acquisition prints nothing, and a scan while the current picture holds an image
    // adds a new picture after it.
    void NormalAcquisitionAddsWithoutPrinting() {
        Scenario("set = accept\npage = 40x30 24 gradient 300\npage = 20x30 24 gradient 300");
        BitmapTarget();
        SetAutoDPI(true);
        SetDPI(300, 300);
        Child<QToolButton>(*form, "GetPicBtn")->click();
        QCOMPARE(Pics().size(), 2);
        Child<QAction>(*form, "HoleBild1")->trigger();
        QCOMPARE(Pics().size(), 4);
        QCOMPARE(form->pic, Pics().last());
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::SaveFile), 0);
    }

    // The special driver mode: the driver's resolution edit is written before the scan (when a
    // resolution was asked for) and read after it, in normal acquisition only.
    void SpecialDriverMode_data() {
        QTest::addColumn<bool>("special");
        QTest::addColumn<bool>("fastCopy");
        QTest::addColumn<bool>("autoDPI");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QString>("driverText");
        QTest::addColumn<QString>("scannedWith");
        QTest::addColumn<int>("wantDPI");
        QTest::addColumn<bool>("asked");
        QTest::newRow("resolution 0: edit only read, source not asked")
            << true << false << true << 0 << "600"
            << "600" << 600 << false;
        QTest::newRow("asked resolution written, then read back")
            << true << false << true << 200 << "600"
            << "200" << 200 << false;
        QTest::newRow("manual resolution: written, not read")
            << true << false << false << 200 << "600"
            << "200" << 200 << false;
        QTest::newRow("text that is no number: source asked") << true << false << true << 0 << "abc"
                                                              << "abc" << 150 << true;
        QTest::newRow("empty text: source asked") << true << false << true << 0 << ""
                                                  << "" << 150 << true;
        QTest::newRow("never in fast copy") << true << true << true << 200 << "600"
                                            << "600" << 150 << true;
        QTest::newRow("mode off: edit untouched") << false << false << true << 200 << "600"
                                                  << "600" << 150 << true;
    }
    void SpecialDriverMode() {
        QFETCH(bool, special);
        QFETCH(bool, fastCopy);
        QFETCH(bool, autoDPI);
        QFETCH(int, dpi);
        QFETCH(QString, driverText);
        QFETCH(QString, scannedWith);
        QFETCH(int, wantDPI);
        QFETCH(bool, asked);
        Scenario("set = refuse\nxres = onevalue 150\ndriver-window = yes\ndriver-dpi = " +
                 driverText + "\npage = 40x30 24 gradient 300");
        BitmapTarget();
        SetMustek(special);
        SetAutoDPI(autoDPI);
        SetDPI(dpi, dpi);
        form->GetPicBtnClick(fastCopy
                                 ? static_cast<QObject*>(Child<QPushButton>(*form, "FastCopyBtn"))
                                 : static_cast<QObject*>(Child<QToolButton>(*form, "GetPicBtn")));
        const QStringList log = Log();
        QVERIFY2(log.contains("driver " + scannedWith), qPrintable(log.join(" | ")));
        QCOMPARE(form->pic->ScannerDPI.X, wantDPI);
        QCOMPARE(form->pic->ScannerDPI.Y, wantDPI);
        QCOMPARE(log.contains(GetCap), asked);
    }

    void FindMustekDPIEditFollowsThePreviewWindowsOwner() {
        QCOMPARE(form->FindMustekDPIEdit(), nullptr);
        QWidget main;
        auto* edit = new QLineEdit(&main);
        edit->setProperty("controlId", 1025);
        auto* preview = new QWidget(&main, Qt::Window);
        QCOMPARE(form->FindMustekDPIEdit(), nullptr);
        preview->setProperty("windowClass", QStringLiteral("Preview"));
        QCOMPARE(form->FindMustekDPIEdit(), edit);
        preview->setParent(nullptr);
        QCOMPARE(form->FindMustekDPIEdit(), nullptr);
        delete preview;
    }

    void MustekItemToggles() {
        auto* item = Child<QAction>(*form, "MustekspezialItem");
        QVERIFY(!item->isChecked());
        item->trigger();
        QVERIFY(item->isChecked());
        item->trigger();
        QVERIFY(!item->isChecked());
    }

    // Failures before any page: no picture added, no message unless the user must know, the
    // resolution edits refreshed all the same, and the session back in state 1.
    void FailuresBeforeAnyPage_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("noManager");
        QTest::addColumn<bool>("ran");
        QTest::addColumn<int>("zeroSizeWarnings");
        QTest::newRow("no manager") << "" << true << false << 0;
        QTest::newRow("source refuses to open") << "open = refuse" << false << false << 0;
        QTest::newRow("source cannot be enabled") << "enable = failure" << false << false << 0;
        QTest::newRow("dialog closed without scanning")
            << "closereq = yes\npage = 40x30 24 gradient 300" << false << true << 1;
    }
    void FailuresBeforeAnyPage() {
        QFETCH(QString, source);
        QFETCH(bool, noManager);
        QFETCH(bool, ran);
        QFETCH(int, zeroSizeWarnings);
        Scenario(source);
        if (noManager)
            qputenv("VELMORA_TWAIN_DSM", QFile::encodeName(dir->filePath("missing.so")));
        SetDPI(200, 150);
        Child<TSpinEdit>(*form, "SrcXDPIEdit")->SetValue(1);
        QCOMPARE(form->ScanPics(true, 200), ran);
        QCOMPARE(Pics().size(), 1);
        QVERIFY(form->pic->IsEmpty());
        QCOMPARE(Child<TSpinEdit>(*form, "SrcXDPIEdit")->Value(), 200);
        QCOMPARE(form->Twain->GetState(), 1);
        QCOMPARE(dialogs->History.size(), zeroSizeWarnings);
        QCOMPARE(Messages("Das zuletzt eingescannte Bild hat die Breite und/oder die Höhe 0."),
                 zeroSizeWarnings);
        if (zeroSizeWarnings)
            QCOMPARE(dialogs->LastMessage().Caption, QStringLiteral("Fehler beim Scannen"));
    }

    // A session that an earlier failure left enabled is closed by the next acquisition, which
    // fails silently; the one after it works.
    void ASessionLeftOpenIsClosedByTheNextAcquisition() {
        Scenario("page = 40x30 24 gradient 300");
        TTwain& twain = *form->Twain;
        QVERIFY(twain.LoadDSM() && twain.OpenDSM(form.get()) && twain.OpenSource() &&
                twain.EnableSource(form.get()));
        QVERIFY(!form->ScanPics(true, 300));
        QCOMPARE(twain.GetState(), 1);
        QVERIFY(form->ScanPics(true, 300));
        QCOMPARE(form->pic->PicWidth(), 40);
    }

    // An error raised while a page is transferred (here the report of an unreadable page
    // fails) leaves the acquisition with the scanner still closed, manager unloaded; the next
    // acquisition works without a restart.
    void AnErrorDuringATransferStillClosesTheScanner() {
        struct FailingBox final : Dialogs {
            explicit FailingBox(DialogRecorder& recorder) : m_recorder(recorder) { Install(this); }
            ~FailingBox() override { Install(&m_recorder); }
            int Message(QWidget*, const MessageRequest& request) override {
                throw Exception(QStringLiteral("Meldung nicht möglich: ") + request.Text);
            }
            bool OpenFile(QWidget*, FileDialogRequest&) override { return false; }
            bool SaveFile(QWidget*, FileDialogRequest&) override { return false; }
            bool ChooseColor(QWidget*, QColor&) override { return false; }
            bool PrinterSetup(QWidget*, QPrinter&, const QString&) override { return false; }
            DialogRecorder& m_recorder;
        };
        Scenario("dib = garbage\npage = 40x30 24 gradient 300\npage = 50x30 24 gradient 300");
        bool raised = false;
        {
            FailingBox failing(*dialogs);
            try {
                form->ScanPics(true, 300);
            } catch (const Exception&) {
                raised = true;
            }
        }
        QVERIFY(raised);
        QCOMPARE(form->Twain->GetState(), 1);
        const QStringList log = Log();
        QVERIFY(log.contains(DisableDS));
        QVERIFY(log.contains(QStringLiteral("0001 0003 0402"))); // MSG_CLOSEDS

        Scenario("page = 40x30 24 gradient 300");
        QVERIFY(form->ScanPics(true, 300));
        QCOMPARE(form->pic->PicWidth(), 40);
        QCOMPARE(form->Twain->GetState(), 1);
    }

    // A last page of width 0 is no bitmap: the zero-size warning, then the error report; the
    // page before it is kept, the scanner is closed, and the next acquisition fills the empty
    // picture at once.
    void AnEmptyLastPageIsReportedAndThePageBeforeKept() {
        Scenario("page = 40x30 24 gradient 300\npage = 0x30 24 gradient 300");
        Child<QToolButton>(*form, "GetPicBtn")->click();
        QCOMPARE(form->Twain->GetState(), 1);
        QCOMPARE(Pics().size(), 2);
        QCOMPARE(Pics()[0]->PicWidth(), 40);
        QVERIFY(form->pic->IsEmpty());
        QCOMPARE(dialogs->History.size(), 2);
        QCOMPARE(
            dialogs->History[0].message.Text,
            QStringLiteral("Das zuletzt eingescannte Bild hat die Breite und/oder die Höhe 0."));
        QVERIFY(dialogs->History[1].message.Text.contains(QStringLiteral("EInvalidGraphic")));

        Scenario("page = 50x30 24 gradient 300");
        Child<QToolButton>(*form, "GetPicBtn")->click();
        QCOMPARE(Pics().size(), 2);
        QCOMPARE(form->pic->PicWidth(), 50);
    }

    // A print that fails in fast copy: one error report, every scanned page kept as a picture,
    // the scanner closed, and the next fast copy scans again.
    void APrintFailureInFastCopy() {
        Scenario("page = 40x30 24 gradient 300\npage = 50x30 24 gradient 300");
        // Printer target with no printing system to reach: the print raises.
        qputenv("CUPS_SERVER", QFile::encodeName(dir->filePath("no-scheduler.sock")));
        Child<QRadioButton>(*form, "PrinterBtn")->setChecked(true);
        dialogs->History.clear();
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QCOMPARE(Pics().size(), 2);
        QCOMPARE(form->pic->PicWidth(), 50);
        QCOMPARE(form->Twain->GetState(), 1);
        int reports = 0;
        for (const auto& shown : dialogs->History)
            reports += shown.kind == DialogRecorder::Shown::Message &&
                       shown.message.Text.contains("EPrinter");
        QCOMPARE(reports, 1);

        Scenario("page = 60x30 24 gradient 300");
        BitmapTarget();
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QCOMPARE(Pics().size(), 3);
        QCOMPARE(form->pic->PicWidth(), 60);
    }

    // The ID-card copy: a front of black at 300 dpi, larger than the card area and followed by
    // a white page that does not count, and a back of 300 x 200 pixels of gradient (blue 128)
    // that the scanner reports at 150 dpi. The new page holds both card areas at 300 dpi:
    // 95 x 65 mm are 1122 x 768 pixels, the 10 mm between them 118 rows; the back is scaled to
    // 600 x 400 and padded white. It is printed once, at 100 % and centred.
    void IdCardCopyPutsBothSidesOnOneNewPage() {
        Scenario("page = 40x30 24 gradient 300");
        BitmapTarget();
        SetAutoDPI(true);
        SetDPI(300, 300);
        form->ScanPics(true, 300); // a page already there
        QCOMPARE(Pics().size(), 1);
        dialogs->History.clear();
        Scenario("set = accept\ncount = unknown\npage = 1200x800 8 black 300\n"
                 "page = 1200x800 8 white 300");
        dialogs->MessageShown = [&](const MessageRequest& request) {
            if (request.Text == BackPrompt)
                Scenario("set = refuse\nxres = onevalue 150\npage = 300x200 24 gradient 150");
        };
        Child<QAction>(*form, "AusweiskopieItem")->trigger();

        QCOMPARE(Pics().size(), 2);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 2);
        QCOMPARE(dialogs->History[0].message.Text, FrontPrompt);
        QCOMPARE(dialogs->History[0].message.Buttons, MsgOk | MsgCancel);
        QCOMPARE(dialogs->History[1].message.Text, BackPrompt);
        QCOMPARE(dialogs->History[1].message.Buttons, MsgOk | MsgCancel);
        // Each side without the source's dialog, asked for the current resolution.
        QVERIFY(Log().contains(QStringLiteral("xres-set 300")));
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::SaveFile), 1);
        TPicProperties& card = *form->pic;
        QCOMPARE(&card, Pics().last());
        QCOMPARE(card.PicWidth(), 1122);
        QCOMPARE(card.PicHeight(), 1654);
        QCOMPARE(card.ScannerDPI.X, 300);
        QCOMPARE(card.ScannerDPI.Y, 300);
        QCOMPARE(Child<TSpinEdit>(*form, "SrcXDPIEdit")->Value(), 300);
        QCOMPARE(card.xZoom, 1.0);
        QCOMPARE(card.yZoom, 1.0);
        QVERIFY(qAbs(card.xRelPos - (1 - card.xRelSize()) / 2) < 1e-3);
        QVERIFY(qAbs(card.yRelPos - (1 - card.yRelSize()) / 2) < 1e-3);
        QCOMPARE(form->Twain->GetState(), 1);

        const auto* graphic = dynamic_cast<const TRasterGraphic*>(card.Picture.Graphic());
        QVERIFY(graphic);
        const QImage image = graphic->Image().convertToFormat(QImage::Format_RGB32);
        // The pixels of `rect` that `is` says yes to.
        auto count = [&image](const QRect& rect, const std::function<bool(QRgb)>& is) {
            int n = 0;
            for (int y = rect.top(); y <= rect.bottom(); ++y)
                for (int x = rect.left(); x <= rect.right(); ++x)
                    n += is(image.pixel(x, y));
            return n;
        };
        auto black = [](QRgb c) { return qGray(c) < 16; };
        auto white = [](QRgb c) { return qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 240; };
        auto back = [](QRgb c) { return qAbs(qBlue(c) - 128) <= 8; };
        QCOMPARE(count(QRect(0, 0, 1122, 768), black), 1122 * 768);
        QCOMPARE(count(QRect(0, 768, 1122, 118), white), 1122 * 118);
        QCOMPARE(count(QRect(0, 886, 600, 400), back), 600 * 400);
        QCOMPARE(count(QRect(600, 886, 522, 768), white), 522 * 768);
        QCOMPARE(count(QRect(0, 1286, 600, 368), white), 600 * 368);
    }

    // Cancelled at either message, or a side that brings no page: no page, no print, and the
    // scanner closed. A transfer that fails is scanned again, as in a fast copy.
    void IdCardCopyWithoutBothSidesLeavesNothing_data() {
        QTest::addColumn<QString>("frontSource");
        QTest::addColumn<QString>("backSource");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<int>("sessions");
        QTest::addColumn<bool>("made");
        const QString page = QStringLiteral("page = 200x100 24 gradient 300");
        QTest::newRow("cancelled at the front")
            << page << page << QList<int>{MsgCancel} << 1 << 0 << false;
        QTest::newRow("cancelled at the back")
            << page << page << QList<int>{MsgOk, MsgCancel} << 2 << 1 << false;
        QTest::newRow("the front scan brings no page")
            << "closereq = yes\n" + page << page << QList<int>{} << 1 << 1 << false;
        QTest::newRow("the back scan brings no page")
            << page << "closereq = yes\n" + page << QList<int>{} << 2 << 2 << false;
        QTest::newRow("the scanner cannot be opened for the back")
            << page << "open = refuse\n" + page << QList<int>{} << 2 << 2 << false;
        QTest::newRow("a failing back transfer: scanned again")
            << page << "fail-at = 1\n" + page << QList<int>{} << 2 << 2 << true;
    }
    void IdCardCopyWithoutBothSidesLeavesNothing() {
        QFETCH(QString, frontSource);
        QFETCH(QString, backSource);
        QFETCH(QList<int>, answers);
        QFETCH(int, prompts);
        QFETCH(int, sessions);
        QFETCH(bool, made);
        Scenario("page = 40x30 24 gradient 300");
        BitmapTarget();
        form->ScanPics(true, 300);
        QCOMPARE(Pics().size(), 1);
        dialogs->History.clear();
        // Scanner sessions opened; each side's are counted before the next scenario replaces
        // its log.
        const QString openDS = QStringLiteral("0001 0003 0401");
        Scenario(frontSource);
        int opened = 0;
        dialogs->MessageShown = [&](const MessageRequest& request) {
            if (request.Text == BackPrompt) {
                opened += static_cast<int>(Log().count(openDS));
                Scenario(backSource);
            }
        };
        for (int answer : answers)
            dialogs->MessageAnswers.push_back(answer);
        Child<QAction>(*form, "AusweiskopieItem")->trigger();
        opened += static_cast<int>(Log().count(openDS));

        QCOMPARE(Pics().size(), made ? 2 : 1);
        QCOMPARE(Pics()[0]->PicWidth(), 40);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::SaveFile), made ? 1 : 0);
        QCOMPARE(Messages(FrontPrompt), 1);
        QCOMPARE(Messages(BackPrompt), prompts - 1);
        QCOMPARE(opened, sessions);
        // Nothing but the prompts: a scanner that cannot be opened says so no more in an
        // ID-card copy than in a fast copy.
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), prompts);
        QCOMPARE(form->Twain->GetState(), 1);
    }

    // No ID-card copy while an acquisition runs: nothing is asked.
    void NoIdCardCopyWhileAnAcquisitionRuns() {
        Scenario("page = 40x30 24 gradient 300");
        BitmapTarget();
        PrintWatch watch(*dialogs, LogPath());
        int nested = 0;
        watch.WhilePrinting = [&] {
            ++nested;
            form->AusweiskopieItemClick();
        };
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QCOMPARE(nested, 1);
        QCOMPARE(Messages(FrontPrompt), 0);
        QCOMPARE(Pics().size(), 1);
    }

    // "&Scanner ..." with a source of several devices: the manager's dialog looks for them,
    // shows "Suche Scanner…" while it looks again on "Aktualisieren", and hands the chosen device
    // to its source.
    void ScannerChoiceListsEveryDevice() {
        Scenario("devices = x,y");
        BitmapTarget();
        dialogs->History.clear();
        QStringList seen;
        bool searchingShown = false;
        bool refreshDisabledWhileSearching = false;
        bool labelFocusesTheList = false;
        int step = 0;
        QTimer poll;
        auto rows = [](QListWidget* list) {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->item(i)->text();
            return texts;
        };
        connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->windowTitle() != QStringLiteral("Quelle auswählen"))
                return;
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("SourceList"));
            auto* refresh = dialog->findChild<QPushButton*>(QStringLiteral("RefreshButton"));
            if (!list || !refresh || rows(list).contains(QStringLiteral("Suche Scanner…")))
                return;
            if (step == 0) {
                seen = rows(list);
                // "&Quellen:" is a mnemonic for the list, not a literal ampersand.
                auto* label = dialog->findChild<QLabel*>();
                labelFocusesTheList =
                    label && label->text() == QStringLiteral("&Quellen:") && label->buddy() == list;
                refresh->click();
                searchingShown = rows(list) == QStringList{QStringLiteral("Suche Scanner…")};
                refreshDisabledWhileSearching = !refresh->isEnabled();
                step = 1;
            } else if (step == 1) {
                list->setCurrentRow(static_cast<int>(rows(list).indexOf("Testgerät y")));
                step = 2;
                dialog->accept();
            }
        });
        poll.start(20);
        QTimer::singleShot(10000, [&] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                d->reject();
        });
        Child<QAction>(*form, "MScannersettings")->trigger();
        QCOMPARE(seen, (QStringList{"Testgerät x", "Testgerät y"}));
        QVERIFY(labelFocusesTheList);
        QVERIFY(searchingShown);
        QVERIFY(refreshDisabledWhileSearching);
        QCOMPARE(step, 2);
        QVERIFY(Log().contains(QStringLiteral("default-device y")));
        QCOMPARE(dialogs->History.size(), 0);
    }

    // "&Scanner ..." without a manager: the session's message, then the window's own.
    void ScannerChoiceWithoutManager() {
        BitmapTarget();
        dialogs->History.clear();
        qputenv("VELMORA_TWAIN_DSM", QFile::encodeName(dir->filePath("missing.so")));
        Child<QAction>(*form, "MScannersettings")->trigger();
        QCOMPARE(dialogs->History.size(), 2);
        QCOMPARE(dialogs->History[0].message.Text,
                 QStringLiteral("Kann Source Manager TWAIN_32.DLLnicht laden"));
        QCOMPARE(dialogs->History[0].message.Caption, QStringLiteral("TWAIN-Fehler:"));
        QCOMPARE(dialogs->History[1].message.Text,
                 QStringLiteral("Eingabegerät kann nicht ausgewählt werden!"));
        QCOMPARE(dialogs->History[1].message.Caption, QStringLiteral("Fehler"));
        QCOMPARE(dialogs->History[1].message.Icon, MsgIcon::Warning);
    }
};

VELMORA_GUI_TEST_MAIN(AcquisitionTest)
#include "AcquisitionTest.moc"

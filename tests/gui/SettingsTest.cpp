// The settings file on the real main window: what the first show reads, what closing writes and
// in which order, values a user typed by hand, files that cannot be written, and the report of
// unexpected errors. The cases with printers need the private scheduler of scripts/testenv.sh
// and skip themselves without it.

#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "app/VersionInfo.h"
#include "layout/PicObj.h"
#include "output/Printer.h"
#include "platform/Errors.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

const QString kPpd = QStringLiteral("lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd");
const QString ReportIntro = QStringLiteral("Es ist ein unerwarteter Programmfehler aufgetreten:\r");

bool HaveScheduler() {
    return !qEnvironmentVariableIsEmpty("VELMORA_TEST_OUT") &&
           !qEnvironmentVariableIsEmpty("VELMORA_TEST_CUPS_DIR");
}

// QSKIP ends the test function it is written in, so this must be a macro.
#define NEED_SCHEDULER()                                                                           \
    do {                                                                                           \
        if (!HaveScheduler())                                                                      \
            QSKIP("needs the private scheduler of scripts/testenv.sh");                            \
    } while (false)

void WriteFile(const QString& path, const QByteArray& content) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An object whose event handler raises an error, as any handler of the window might.
class Thrower : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw EFOpenError(QStringLiteral("Datei x.bmp kann nicht geöffnet werden"));
        return QObject::event(event);
    }
};

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writtenFromScratchInSectionOrder();
    void valuesReadBackAndWrittenAgain();
    void hexadecimalJunkAndZeroValues();
    void windowStates_data();
    void windowStates();
    void storedPositionIsReplacedByTheCentre();
    void sizeLargerThanTheScreenGivesTheDesignSize();
    void readOnlyFileIsReportedAtClose();
    void missingFolderIsReportedAtClose();
    void noPrinterMeansBitmapModeAndForgottenNames();
    void reportWithoutPrinters();

    void withPrintersWrittenFromScratch();
    void selectedFaxChecksFaxBtnAndRunsItsHandlerOnce();
    void faxPrinterGuessedFromTheNames_data();
    void faxPrinterGuessedFromTheNames();
    void printersWithoutADefaultKeepTheStoredName();
    void unknownStoredPrinterGivesTheDefault();

private:
    template <class T = QWidget> T* Control(const char* name) const {
        return Child<T>(*form, name);
    }

    // Creates the window as the program does; `before` runs between creation and first show.
    void OpenForm(const std::function<void()>& before = {}) {
        TPrinter::Printer().Reset();
        form = std::make_unique<TMainForm>();
        if (before)
            before();
        form->show();
    }
    void CloseForm() {
        form->close();
        QVERIFY(!form->isVisible());
    }
    QStringList IniLines() const {
        return QString::fromUtf8(ReadFile(GuiTestIniFile())).split('\n', Qt::SkipEmptyParts);
    }
    QPoint Centre() const {
        const QRect area = form->screen()->geometry();
        return {area.x() + (area.width() - form->width()) / 2,
                area.y() + (area.height() - form->height()) / 2};
    }
    QString RaiseAndReport() {
        Thrower thrower;
        QEvent event(QEvent::User);
        QApplication::sendEvent(&thrower, &event);
        return dialogs->LastMessage().Text;
    }

    bool AddQueue(const QString& name) {
        const QString device =
            "file://" + qEnvironmentVariable("VELMORA_TEST_OUT") + "/" + name + ".pdf";
        queues << name;
        return Run("lpadmin", {"-p", name, "-E", "-v", device, "-m", kPpd});
    }

    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;
    QStringList queues;
};

void SettingsTest::initTestCase() {
    // Outside the test environment the printing system must still be one we know: none at all.
    if (qEnvironmentVariableIsEmpty("CUPS_SERVER"))
        qputenv("CUPS_SERVER", (qEnvironmentVariable("HOME") + "/no-scheduler.sock").toLocal8Bit());
}

void SettingsTest::init() {
    dialogs = std::make_unique<DialogRecorder>();
    QFile::remove(GuiTestIniFile());
}

void SettingsTest::cleanup() {
    form.reset();
    dialogs.reset();
    for (const QString& q : queues)
        Run("lpadmin", {"-x", q});
    queues.clear();
    TPrinter::Printer().Reset();
    QFile::setPermissions(GuiTestIniFile(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::remove(GuiTestIniFile());
}

void SettingsTest::writtenFromScratchInSectionOrder() {
    OpenForm();
    const QPoint pos = form->pos();
    CloseForm();
    // Without printers there is no printer name to write, so Printer and Fax stay out.
    const QString expected = QStringLiteral("[Window]\n"
                                            "State=0\n"
                                            "Left=%1\n"
                                            "Top=%2\n"
                                            "Width=534\n"
                                            "Height=418\n"
                                            "\n"
                                            "[Output]\n"
                                            "Selected=2\n"
                                            "Title=Velmora\n"
                                            "\n"
                                            "[Source]\n"
                                            "AutoDPI=1\n"
                                            "XDPI=300\n"
                                            "YDPI=300\n"
                                            "\n"
                                            "[Special]\n"
                                            "Mustek=0\n")
                                 .arg(pos.x())
                                 .arg(pos.y());
    QCOMPARE(QString::fromUtf8(ReadFile(GuiTestIniFile())), expected);
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
}

void SettingsTest::valuesReadBackAndWrittenAgain() {
    WriteFile(GuiTestIniFile(), "; von Hand\n"
                                "[window]\nwidth=600\nHEIGHT=450\n"
                                "[Output]\nTitle=Kopie vom Scanner\nDefaultFilename = Scan\n"
                                "[Source]\nAutoDPI=0\nXDPI=150\nYDPI=200\n"
                                "[Special]\nMustek=1\n"
                                "[Fremd]\nBleibt=ja\n");
    OpenForm();
    QCOMPARE(form->size(), QSize(600, 450));
    QCOMPARE(form->PrintTitle, QStringLiteral("Kopie vom Scanner"));
    QCOMPARE(form->DefaultFilename, QStringLiteral("Scan"));
    QVERIFY(!Control<QCheckBox>("AutoDPIBox")->isChecked());
    QCOMPARE(form->pic->ScannerDPI.X, 150);
    QCOMPARE(form->pic->ScannerDPI.Y, 200);
    QCOMPARE(Control<TSpinEdit>("SrcXDPIEdit")->Value(), 150);
    QCOMPARE(Control<TSpinEdit>("SrcYDPIEdit")->Value(), 200);
    QVERIFY(Control<QAction>("MustekspezialItem")->isChecked());

    // What the user changes during the run is what the next run reads.
    Control<TSpinEdit>("SrcYDPIEdit")->SetValue(600);
    Control<QAction>("MustekspezialItem")->setChecked(false);
    form->PrintTitle = QStringLiteral("Neu");
    CloseForm();
    const QByteArray written = ReadFile(GuiTestIniFile());
    QVERIFY2(written.startsWith("; von Hand\n[window]\nwidth=600\nHEIGHT=450\nState=0\n"), written);
    QVERIFY2(written.contains("[Output]\nTitle=Neu\nDefaultFilename = Scan\nSelected=2\n"),
             written);
    QVERIFY2(written.contains("[Source]\nAutoDPI=0\nXDPI=150\nYDPI=600\n"), written);
    QVERIFY2(written.contains("[Special]\nMustek=0\n"), written);
    QVERIFY2(written.contains("[Fremd]\nBleibt=ja\n"), written);

    form.reset();
    OpenForm();
    QCOMPARE(form->pic->ScannerDPI.Y, 600);
    QCOMPARE(form->PrintTitle, QStringLiteral("Neu"));
    QCOMPARE(form->size(), QSize(600, 450));
}

void SettingsTest::hexadecimalJunkAndZeroValues() {
    WriteFile(GuiTestIniFile(), "[Window]\nWidth=0x258\nHeight=$1F4\n"
                                "[Source]\nAutoDPI=ja\nXDPI=12abc\nYDPI=0x0\n"
                                "[Special]\nMustek=$10\n");
    OpenForm();
    QCOMPARE(form->size(), QSize(600, 500));
    // Unreadable values give the defaults: the box's design state, 300 dpi; a resolution of 0
    // would make the copy infinitely large and reads as 300 as well.
    QVERIFY(Control<QCheckBox>("AutoDPIBox")->isChecked());
    QCOMPARE(form->pic->ScannerDPI.X, 300);
    QCOMPARE(form->pic->ScannerDPI.Y, 300);
    QCOMPARE(Control<TSpinEdit>("SrcYDPIEdit")->Value(), 300);
    QVERIFY(Control<QAction>("MustekspezialItem")->isChecked());
    CloseForm();
    // Written back as plain decimal numbers.
    const QStringList lines = IniLines();
    for (const char* line :
         {"Width=600", "Height=500", "AutoDPI=1", "XDPI=300", "YDPI=300", "Mustek=1"})
        QVERIFY2(lines.contains(QLatin1String(line)), line);
}

void SettingsTest::windowStates_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("shown"); // Qt::WindowState
    QTest::addColumn<int>("written");
    QTest::newRow("normal") << 0 << int(Qt::WindowNoState) << 0;
    QTest::newRow("minimised") << 1 << int(Qt::WindowMinimized) << 1;
    QTest::newRow("maximised") << 2 << int(Qt::WindowMaximized) << 2;
    QTest::newRow("unknown") << 7 << int(Qt::WindowNoState) << 0;
    QTest::newRow("negative") << -1 << int(Qt::WindowNoState) << 0;
}

void SettingsTest::windowStates() {
    QFETCH(int, stored);
    QFETCH(int, shown);
    QFETCH(int, written);
    WriteFile(GuiTestIniFile(),
              QStringLiteral("[Window]\nState=%1\nWidth=600\nHeight=450\n").arg(stored).toUtf8());
    OpenForm();
    // The window system carries a state out after the window appears.
    QTRY_COMPARE(int(form->windowState()), shown);
    CloseForm();
    const QStringList lines = IniLines();
    QCOMPARE(lines.value(1), QStringLiteral("State=%1").arg(written));
    // The normal window's size, whatever the state: the next run restores it.
    QCOMPARE(lines.mid(2, 2), (QStringList{"Width=600", "Height=450"}));
    QCOMPARE(form->windowState(), Qt::WindowNoState);
}

void SettingsTest::storedPositionIsReplacedByTheCentre() {
    WriteFile(GuiTestIniFile(), "[Window]\nLeft=-5000\nTop=-5000\nWidth=640\nHeight=480\n");
    OpenForm();
    QCOMPARE(form->size(), QSize(640, 480));
    QCOMPARE(form->pos(), Centre());
    CloseForm();
    QVERIFY(IniLines().contains(QStringLiteral("Left=%1").arg(Centre().x())));
}

void SettingsTest::sizeLargerThanTheScreenGivesTheDesignSize() {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    WriteFile(GuiTestIniFile(),
              QStringLiteral("[Window]\nWidth=%1\nHeight=-3\n").arg(screen.width() + 1).toUtf8());
    OpenForm();
    QCOMPARE(form->size(), QSize(534, 418));
}

void SettingsTest::readOnlyFileIsReportedAtClose() {
    const QByteArray content = "[Source]\nXDPI=150\n";
    WriteFile(GuiTestIniFile(), content);
    QVERIFY(QFile::setPermissions(GuiTestIniFile(), QFile::ReadOwner | QFile::ReadGroup));
    OpenForm();
    QCOMPARE(form->pic->ScannerDPI.X, 150); // reading never fails
    CloseForm();
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
    const MessageRequest box = dialogs->LastMessage();
    QCOMPARE(box.Text.section('\r', 1, 2), ReportIntro + "EIniFileException : In " +
                                               GuiTestIniFile() + " kann nicht geschrieben werden");
    QCOMPARE(box.Icon, MsgIcon::Warning);
    QCOMPARE(ReadFile(GuiTestIniFile()), content);
}

void SettingsTest::missingFolderIsReportedAtClose() {
    const QString path = QDir(qEnvironmentVariable("HOME")).filePath("fehlt/velmora.ini");
    OpenForm([&] { form->IniFileName = path; });
    CloseForm();
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
    QCOMPARE(dialogs->LastMessage().Text.section('\r', 2, 2),
             "EIniFileException : In " + path + " kann nicht geschrieben werden");
    QVERIFY(!QFileInfo::exists(QFileInfo(path).path()));
}

void SettingsTest::noPrinterMeansBitmapModeAndForgottenNames() {
    WriteFile(GuiTestIniFile(), "[Output]\nSelected=0\n"
                                "[Printer]\nName=Farbdrucker\n[Fax]\nName=Office-FAX\n");
    OpenForm();
    QVERIFY(Control<QRadioButton>("BitmapBtn")->isChecked());
    QCOMPARE(Control<QToolButton>("PrintBtn")->text(), QStringLiteral("&Kopieren"));
    QCOMPARE(form->Tag(Control<QRadioButton>("PrinterBtn")), -1);
    CloseForm();
    const QStringList lines = IniLines();
    QVERIFY(lines.contains("Selected=2"));
    QVERIFY2(!lines.join('\n').contains("Name="), qPrintable(lines.join('\n')));
}

void SettingsTest::reportWithoutPrinters() {
    OpenForm();
    const QString report = RaiseAndReport();
    const QStringList lines = report.split('\r');
    QCOMPARE(lines.value(0),
             QStringLiteral("Version %1 %2-Bit").arg(ProductVersionText()).arg(sizeof(void*) * 8));
    QCOMPARE(lines.mid(1, 2),
             (QStringList{"Es ist ein unerwarteter Programmfehler aufgetreten:",
                          QStringLiteral("EFOpenError : Datei x.bmp kann nicht geöffnet "
                                         "werden")}));
    // The empty first page, then the printer lines.
    QCOMPARE(lines.mid(5, 2), (QStringList{"PicWidth = 0", "PicHeight = 0"}));
    QVERIFY(lines.contains("xZoom = 1"));
    QVERIFY(lines.contains(QStringLiteral("PrevXSize = %1").arg(form->PrevXSize)));
    QCOMPARE(lines.mid(lines.size() - 3),
             (QStringList{"PrinterIndex = -2", "PrinterCount = 0", ""}));
    // The same text on the clipboard, with line feeds that mail and chat programs break on.
    const QString pasted = QGuiApplication::clipboard()->text();
    QVERIFY(!pasted.contains('\r'));
    QCOMPARE(pasted.split('\n'), lines);
    QVERIFY(dialogs->LastMessage().Caption.isEmpty());
    QCOMPARE(dialogs->LastMessage().Buttons, int(MsgOk));
    QVERIFY(form->isVisible());
}

void SettingsTest::withPrintersWrittenFromScratch() {
    NEED_SCHEDULER();
    QVERIFY(AddQueue("Farbdrucker"));
    QVERIFY(AddQueue("Office-FAX"));
    QVERIFY(Run("lpadmin", {"-d", "Farbdrucker"}));
    OpenForm();
    QVERIFY(Control<QRadioButton>("PrinterBtn")->isChecked());
    const QPoint pos = form->pos();
    CloseForm();
    const QString expected = QStringLiteral("[Window]\n"
                                            "State=0\n"
                                            "Left=%1\n"
                                            "Top=%2\n"
                                            "Width=534\n"
                                            "Height=418\n"
                                            "\n"
                                            "[Output]\n"
                                            "Selected=0\n"
                                            "Title=Velmora\n"
                                            "\n"
                                            "[Printer]\n"
                                            "Name=Farbdrucker\n"
                                            "\n"
                                            "[Fax]\n"
                                            "Name=Office-FAX\n"
                                            "\n"
                                            "[Source]\n"
                                            "AutoDPI=1\n"
                                            "XDPI=300\n"
                                            "YDPI=300\n"
                                            "\n"
                                            "[Special]\n"
                                            "Mustek=0\n")
                                 .arg(pos.x())
                                 .arg(pos.y());
    QCOMPARE(QString::fromUtf8(ReadFile(GuiTestIniFile())), expected);
}

void SettingsTest::selectedFaxChecksFaxBtnAndRunsItsHandlerOnce() {
    NEED_SCHEDULER();
    QVERIFY(AddQueue("Farbdrucker"));
    QVERIFY(AddQueue("Laserdrucker"));
    QVERIFY(AddQueue("Office-FAX"));
    QVERIFY(Run("lpadmin", {"-d", "Farbdrucker"}));
    WriteFile(GuiTestIniFile(), "[Output]\nSelected=1\n[Printer]\nname=LASERDRUCKER\n");
    std::unique_ptr<QSignalSpy> faxToggled;
    OpenForm([&] {
        faxToggled =
            std::make_unique<QSignalSpy>(Control<QRadioButton>("FaxBtn"), &QRadioButton::toggled);
    });
    QVERIFY(Control<QRadioButton>("FaxBtn")->isChecked());
    QCOMPARE(faxToggled->count(), 1);
    QCOMPARE(faxToggled->at(0).at(0).toBool(), true);
    // The handler switched the window to fax mode and its printer.
    QCOMPARE(Control<QToolButton>("PrintBtn")->text(), QStringLiteral("Fa&xen"));
    QCOMPARE(form->Tag(Control<QRadioButton>("PrinterBtn")), 1);
    QCOMPARE(form->Tag(Control<QRadioButton>("FaxBtn")), 2);
    QCOMPARE(form->CurrentPrinterIndex(), 2);
    CloseForm();
    const QStringList lines = IniLines();
    QVERIFY(lines.contains("Selected=1"));
    // The stored spelling of the key stays; the name is written as the system spells it.
    QVERIFY(lines.contains("name=Laserdrucker"));
    QVERIFY(lines.contains("Name=Office-FAX"));
}

void SettingsTest::faxPrinterGuessedFromTheNames_data() {
    QTest::addColumn<QStringList>("printers");
    QTest::addColumn<QString>("stored"); // Fax/Name in the file; empty: no key
    QTest::addColumn<int>("faxTag");
    QTest::newRow("lower-case fax third") << QStringList{"Alpha", "Beta", "Kopierfax"} << "" << 2;
    QTest::newRow("no fax at all") << QStringList{"Alpha", "Beta", "Gamma"} << "" << 0;
    QTest::newRow("stored name wins") << QStringList{"Alpha", "Beta", "Kopierfax"} << "beta" << 1;
    QTest::newRow("stored name gone") << QStringList{"Alpha", "Beta", "Kopierfax"} << "Weg" << 2;
}

void SettingsTest::faxPrinterGuessedFromTheNames() {
    NEED_SCHEDULER();
    QFETCH(QStringList, printers);
    QFETCH(QString, stored);
    QFETCH(int, faxTag);
    for (const QString& name : printers)
        QVERIFY(AddQueue(name));
    QVERIFY(Run("lpadmin", {"-d", printers.first()}));
    if (!stored.isEmpty())
        WriteFile(GuiTestIniFile(), ("[Fax]\nName=" + stored + "\n").toUtf8());
    OpenForm();
    QCOMPARE(TPrinter::Printer().Printers(), printers);
    QCOMPARE(form->Tag(Control<QRadioButton>("FaxBtn")), faxTag);
}

void SettingsTest::printersWithoutADefaultKeepTheStoredName() {
    NEED_SCHEDULER();
    QVERIFY(AddQueue("Farbdrucker"));
    QVERIFY(AddQueue("Laserdrucker"));
    WriteFile(GuiTestIniFile(), "[Output]\nSelected=0\n[Printer]\nName=Laserdrucker\n");
    OpenForm();
    QCOMPARE(form->CurrentPrinterIndex(), -2);
    QVERIFY(Control<QRadioButton>("BitmapBtn")->isChecked());
    QCOMPARE(form->Tag(Control<QRadioButton>("PrinterBtn")), 1);
    CloseForm();
    const QStringList lines = IniLines();
    QVERIFY(lines.contains("Selected=2"));
    QVERIFY(lines.contains("Name=Laserdrucker"));
    // The fax guess found no fax name and took printer 0, which is written back.
    QVERIFY(lines.contains("Name=Farbdrucker"));

    // And the report knows there are printers, though none can be selected.
    const QStringList report = [&] {
        form.reset();
        OpenForm();
        return RaiseAndReport().split('\r');
    }();
    QCOMPARE(report.mid(report.size() - 3),
             (QStringList{"PrinterIndex = -2", "PrinterCount = 2", ""}));
}

void SettingsTest::unknownStoredPrinterGivesTheDefault() {
    NEED_SCHEDULER();
    QVERIFY(AddQueue("Farbdrucker"));
    QVERIFY(AddQueue("Laserdrucker"));
    QVERIFY(Run("lpadmin", {"-d", "Laserdrucker"}));
    WriteFile(GuiTestIniFile(), "[Printer]\nName=Abgebaut\n");
    OpenForm();
    QVERIFY(Control<QRadioButton>("PrinterBtn")->isChecked());
    QCOMPARE(form->Tag(Control<QRadioButton>("PrinterBtn")), 1);
    const QStringList report = RaiseAndReport().split('\r');
    QCOMPARE(report.mid(report.size() - 3),
             (QStringList{"PrinterIndex = 1", "PrinterCount = 2", ""}));
    CloseForm();
    QVERIFY(IniLines().contains("Name=Laserdrucker"));
}

VELMORA_GUI_TEST_MAIN(SettingsTest)
#include "SettingsTest.moc"

// The output targets on the real main window against the private scheduler of
// scripts/testenv.sh: the three radio buttons, the printer remembered for each printer mode, the
// setup command, and the printer information in the labels and the shared printer record.
// Every test makes its own file: queues with the Generic PDF driver and removes them again.

#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "layout/Graphic.h"
#include "layout/PicObj.h"
#include "output/Printer.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QPageLayout>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

namespace {

const QString kPpd = QStringLiteral("lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd");

// A scanned A4 page of 300 dpi, so that the copy has a size to be centred with.
void SetA4Scan(TPicProperties& p) {
    QImage img(2480, 3508, QImage::Format_RGB32);
    img.fill(Qt::white);
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetImage(img);
    p.Picture.SetGraphic(std::move(bmp));
    p.ScannerDPI = {300, 300};
    p.xZoom = p.yZoom = 1.0;
}

// What the Generic PDF driver gives on its paper at 1200 dpi.
struct Area {
    const char* mm;
    const char* pixels;
};
constexpr Area kA4 = {"197 x 272 mm²", "9317 x 12833 Pixel"};
constexpr Area kA5 = {"135 x 185 mm²", "6400 x 8717 Pixel"};
// The offscreen platform's screen: 800 x 800 pixels, 96 dpi, 203.2 mm.
constexpr Area kScreen = {"203 x 203 mm²", "800 x 800 Pixel"};

} // namespace

class OutputTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;
    QStringList queues;

    // Sorted by name, as the scheduler lists them: Farbdrucker 0, Laserdrucker 1, Telefax 2.
    void AddPrinters(bool withDefault) {
        AddQueue("Farbdrucker", "A4");
        AddQueue("Laserdrucker", "A4");
        AddQueue("Telefax", "A5");
        if (withDefault)
            QVERIFY(Run("lpadmin", {"-d", "Farbdrucker"}));
    }

    void AddQueue(const QString& name, const QString& paper) {
        const QString device =
            "file://" + qEnvironmentVariable("VELMORA_TEST_OUT") + "/" + name + ".pdf";
        QVERIFY(Run("lpadmin",
                    {"-p", name, "-E", "-v", device, "-m", kPpd, "-o", "PageSize=" + paper}));
        queues << name;
    }

    // The window as the program opens it, with the printer list as it is now.
    void OpenForm() {
        TPrinter::Printer().Reset();
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    QRadioButton* Radio(const char* name) { return Child<QRadioButton>(*form, name); }
    QString Label(const char* name) { return Child<QLabel>(*form, name)->text(); }
    QString PrintCaption() { return Child<QToolButton>(*form, "PrintBtn")->text(); }
    QString GroupCaption() { return Child<QGroupBox>(*form, "PrinterGroup")->title(); }
    bool SetupEnabled() { return Child<QPushButton>(*form, "SetupBtn")->isEnabled(); }

    // Checks `name` the way the program does, so that its handler runs even when it was checked
    // already (whatever mode the settings chose at start).
    void Switch(const char* name) {
        QRadioButton* target = Radio(name);
        if (target->isChecked())
            Radio(target == Radio("BitmapBtn") ? "PrinterBtn" : "BitmapBtn")->setChecked(true);
        target->setChecked(true);
    }

    void CompareFigures(const Area& area, int dpi) {
        QCOMPARE(Label("MMLabel"), QString::fromUtf8(area.mm));
        QCOMPARE(Label("PixelsLabel"), QString::fromUtf8(area.pixels));
        QCOMPARE(Label("XDPILabel"), QStringLiteral("%1 DPI, waag.").arg(dpi));
        QCOMPARE(Label("YDPILabel"), QStringLiteral("%1 DPI, senk.").arg(dpi));
        // The record behind the layout holds the same figures as the labels.
        const TPrinterProperties& p = *form->pic->PrinterProperties;
        QCOMPARE(QStringLiteral("%1 x %2 Pixel").arg(p.PrnAreaWidth).arg(p.PrnAreaHeight),
                 QString::fromUtf8(area.pixels));
        QCOMPARE(QStringLiteral("%1 x %2 mm²").arg(p.PrnAreaMMWidth).arg(p.PrnAreaMMHeight),
                 QString::fromUtf8(area.mm));
        QCOMPARE(p.PrnDPI.X, dpi);
        QCOMPARE(p.PrnDPI.Y, dpi);
    }

    // The copy stands in the middle of the printable area, to the device pixel.
    void CompareCentred() {
        TPicProperties& p = *form->pic;
        const TPrinterProperties& area = *p.PrinterProperties;
        QVERIFY(qAbs(2 * p.XPos() - (area.PrnAreaWidth - p.PrnPicWidth())) <= 2);
        QVERIFY(qAbs(2 * p.YPos() - (area.PrnAreaHeight - p.PrnPicHeight())) <= 2);
        QCOMPARE(Child<TSpinEdit>(*form, "XPosEdit")->Value(), p.XPos());
        QCOMPARE(Child<TSpinEdit>(*form, "YPosEdit")->Value(), p.YPos());
    }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER") ||
            qEnvironmentVariableIsEmpty("VELMORA_TEST_OUT"))
            QSKIP("needs the private scheduler of scripts/testenv.sh");
    }

    void init() { dialogs = std::make_unique<DialogRecorder>(); }

    void cleanup() {
        form.reset();
        dialogs.reset();
        for (const QString& q : queues)
            Run("lpadmin", {"-x", q});
        queues.clear();
        TPrinter::Printer().Reset();
    }

    void printerModeShowsTheRememberedPrintersArea() {
        AddPrinters(true);
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), 1);
        form->SetTag(Radio("FaxBtn"), 2);
        Switch("PrinterBtn");
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Laserdrucker"));
        CompareFigures(kA4, 1200);
        QCOMPARE(form->CurrentPrinterIndex(), 1);
        QCOMPARE(PrintCaption(), QStringLiteral("D&rucken"));
        QCOMPARE(GroupCaption(), QStringLiteral("&Drucker"));
        QVERIFY(SetupEnabled());

        // Fax mode shows and selects the fax printer, with its own paper.
        Switch("FaxBtn");
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Telefax"));
        CompareFigures(kA5, 1200);
        QCOMPARE(form->CurrentPrinterIndex(), 2);
        QCOMPARE(PrintCaption(), QStringLiteral("Fa&xen"));
        QCOMPARE(GroupCaption(), QStringLiteral("&Fax"));
        QVERIFY(SetupEnabled());

        // Whoever selected another printer meanwhile, a refresh returns to the mode's printer.
        form->SelectPrinter(0);
        QCOMPARE(form->CurrentPrinterIndex(), 0);
        form->UpdatePrinterInfo();
        QCOMPARE(form->CurrentPrinterIndex(), 2);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Telefax"));
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 1);
        QCOMPARE(form->Tag(Radio("FaxBtn")), 2);
    }

    void bitmapModeShowsTheScreenAndBackAgain() {
        AddPrinters(true);
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), 1);
        Switch("PrinterBtn");
        SetA4Scan(*form->pic);
        form->pic->xRelPos = form->pic->yRelPos = 0;

        Radio("BitmapBtn")->setChecked(true);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Bitmap in Zwischenablage"));
        CompareFigures(kScreen, 96);
        QVERIFY(!SetupEnabled());
        QCOMPARE(PrintCaption(), QStringLiteral("&Kopieren"));
        QCOMPARE(GroupCaption(), QStringLiteral("&Bildschirm"));
        CompareCentred();
        // The sheet is laid out anew: a square screen gives a square preview sheet.
        QCOMPARE(form->PrevXSize, form->PrevYSize);

        // The handler of a button that is not checked does nothing.
        form->PrinterBtnClick();
        form->FaxBtnClick();
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Bitmap in Zwischenablage"));
        QCOMPARE(PrintCaption(), QStringLiteral("&Kopieren"));

        form->SelectPrinter(2);
        form->pic->xRelPos = form->pic->yRelPos = 0;
        Radio("PrinterBtn")->setChecked(true);
        QCOMPARE(form->CurrentPrinterIndex(), 1);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Laserdrucker"));
        CompareFigures(kA4, 1200);
        QCOMPARE(PrintCaption(), QStringLiteral("D&rucken"));
        QCOMPARE(GroupCaption(), QStringLiteral("&Drucker"));
        QVERIFY(SetupEnabled());
        CompareCentred();
        QVERIFY(qAbs(double(form->PrevYSize) / form->PrevXSize - 12833.0 / 9317) < 0.02);
    }

    void setupInFaxModeReadsTheListAnewAndKeepsTheStartingPrinter() {
        AddPrinters(true);
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), 1);
        form->SetTag(Radio("FaxBtn"), 2);
        Switch("FaxBtn");
        AddQueue("Zusatzdrucker", "A4");
        QVERIFY(!TPrinter::Printer().Printers().contains("Zusatzdrucker"));

        Child<QPushButton>(*form, "SetupBtn")->click(); // the recorder cancels
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::PrinterSetup), 1);
        QCOMPARE(dialogs->History.last().title, QStringLiteral("Fax auswählen und einrichten"));
        QCOMPARE(form->Tag(Radio("FaxBtn")), 2);
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 1);
        QVERIFY(TPrinter::Printer().Printers().contains("Zusatzdrucker"));
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Telefax"));
        CompareFigures(kA5, 1200);

        // An index that is no longer valid: the dialog starts with the default printer, and the
        // fax mode remembers that one from now on.
        form->SetTag(Radio("FaxBtn"), 9);
        Child<QPushButton>(*form, "SetupBtn")->click();
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::PrinterSetup), 2);
        QCOMPARE(form->Tag(Radio("FaxBtn")), 0);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Farbdrucker"));
        CompareFigures(kA4, 1200);

        // Printer mode, confirmed: its own title, its own tag.
        Switch("PrinterBtn");
        dialogs->PrinterSetupAnswers = {true};
        Child<QPushButton>(*form, "SetupBtn")->click();
        QCOMPARE(dialogs->History.last().title, QStringLiteral("Drucker auswählen und einrichten"));
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 1);
        QCOMPARE(form->Tag(Radio("FaxBtn")), 0);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Laserdrucker"));
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void setupSurvivesModeSwitches() {
        AddPrinters(true);
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), 0);
        form->SetTag(Radio("FaxBtn"), 2);
        Switch("PrinterBtn");
        CompareFigures(kA4, 1200);
        // Landscape for the printer, confirmed.
        dialogs->PrinterSetupChoice = [](QPrinter& p) {
            p.setPageOrientation(QPageLayout::Landscape);
        };
        dialogs->PrinterSetupAnswers = {true};
        Child<QPushButton>(*form, "SetupBtn")->click();
        const Area landscape = {"272 x 197 mm²", "12833 x 9317 Pixel"};
        CompareFigures(landscape, 1200);
        // Printer, fax, bitmap, printer: each mode finds its printer as it was set up.
        Switch("FaxBtn");
        CompareFigures(kA5, 1200);
        Switch("BitmapBtn");
        Switch("PrinterBtn");
        CompareFigures(landscape, 1200);
        // A setup of the fax printer, and the list read anew for it, leave the printer's alone.
        Switch("FaxBtn");
        dialogs->PrinterSetupChoice = nullptr;
        dialogs->PrinterSetupAnswers = {true};
        Child<QPushButton>(*form, "SetupBtn")->click();
        CompareFigures(kA5, 1200);
        Switch("PrinterBtn");
        CompareFigures(landscape, 1200);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void setupFromTheMenuInBitmapMode() {
        AddPrinters(true);
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), 1);
        form->SetTag(Radio("FaxBtn"), 2);
        Switch("BitmapBtn");
        form->SelectPrinter(2);
        Child<QAction>(*form, "MPrintersettings")->trigger();
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::PrinterSetup), 1);
        // The platform's own title; the dialog was for the default printer.
        QCOMPARE(dialogs->History.last().title, QString());
        QCOMPARE(form->CurrentPrinterIndex(), 0);
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 1);
        QCOMPARE(form->Tag(Radio("FaxBtn")), 2);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Bitmap in Zwischenablage"));
        CompareFigures(kScreen, 96);
    }

    void noPrinterAtAll() {
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), -1);
        Switch("BitmapBtn");
        Radio("PrinterBtn")->setChecked(true);
        QCOMPARE(form->CurrentPrinterIndex(), -2);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Kein Drucker ausgewählt"));
        // The screen's figures stay: there is no other device to show.
        CompareFigures(kScreen, 96);
        QCOMPARE(PrintCaption(), QStringLiteral("D&rucken"));

        dialogs->History.clear();
        Child<QPushButton>(*form, "SetupBtn")->click();
        QCOMPARE(dialogs->History.size(), 1);
        const MessageRequest box = dialogs->LastMessage();
        QCOMPARE(box.Text, QStringLiteral("Kein Drucker vorhanden!"));
        QCOMPARE(box.Caption, QStringLiteral("Fehler"));
        QCOMPARE(box.Icon, MsgIcon::None);
        QCOMPARE(box.Buttons, int(MsgOk));
        QCOMPARE(form->Tag(Radio("PrinterBtn")), -1);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Kein Drucker ausgewählt"));
        CompareFigures(kScreen, 96);
    }

    void printersWithoutADefaultPrinter() {
        AddPrinters(false);
        OpenForm();
        QCOMPARE(form->CurrentPrinterIndex(), -2);
        // Even an installed remembered printer is not selected: the default printer comes first.
        form->SetTag(Radio("PrinterBtn"), 1);
        Switch("PrinterBtn");
        QCOMPARE(form->CurrentPrinterIndex(), -2);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Kein Drucker ausgewählt"));
        Child<QPushButton>(*form, "SetupBtn")->click();
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::PrinterSetup), 0);
        QCOMPARE(dialogs->LastMessage().Text, QStringLiteral("Kein Drucker vorhanden!"));
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 1);
    }

    void removedRememberedPrinterFallsBackToTheDefault() {
        AddPrinters(true);
        OpenForm();
        form->SetTag(Radio("PrinterBtn"), 2);
        Switch("PrinterBtn");
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Telefax"));

        // The next run finds one printer less: the remembered index points past the list.
        QVERIFY(Run("lpadmin", {"-x", "Telefax"}));
        queues.removeAll("Telefax");
        TPrinter::Printer().Reset();
        form->UpdatePrinterInfo();
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Farbdrucker"));
        CompareFigures(kA4, 1200);
        QCOMPARE(form->CurrentPrinterIndex(), 0);
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 2);

        // The setup command stores the default printer's index.
        Child<QPushButton>(*form, "SetupBtn")->click();
        QCOMPARE(form->Tag(Radio("PrinterBtn")), 0);
        QCOMPARE(Label("PrinterLabel"), QStringLiteral("Farbdrucker"));
    }
};

VELMORA_GUI_TEST_MAIN(OutputTest)
#include "OutputTest.moc"

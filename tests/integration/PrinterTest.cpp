// The printer device against a real, private CUPS scheduler (scripts/testenv.sh starts it and
// exports CUPS_SERVER). Every test adds its own file: queues with the Generic PDF driver and
// removes them again; printed documents are checked with poppler-utils.

#include "output/Printer.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kPpd = QStringLiteral("lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd");
const QString kNoDefault = QStringLiteral(u"Zur Zeit ist kein Standarddrucker gewählt");
const QString kIndexRange = QStringLiteral(u"Druckerindex außerhalb des zulässigen Bereichs");
const QString kInvalid = QStringLiteral(u"Ausgewählter Drucker ist ungültig");

// Generic PDF driver, A4, 1200 dpi: the sheet is 9917 x 14033 pixels, the driver keeps 18 pt
// left and right and 36 pt top and bottom unprintable.
constexpr int kA4AreaW = 9317, kA4AreaH = 12833;

struct Result {
    int code = -1;
    QString out;
};

Result Exec(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Result r;
    if (p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAll());
    return r;
}

QString OutDir() {
    return qEnvironmentVariable("VELMORA_TEST_OUT");
}

// The printer call must raise EPrinter with exactly `message`.
void ExpectPrinterError(const std::function<void()>& call, const QString& message) {
    try {
        call();
        ADD_FAILURE() << "no EPrinter, expected: " << message.toStdString();
    } catch (const EPrinter& e) {
        EXPECT_EQ(e.Message(), message);
    }
}

QString PrinterErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EPrinter& e) {
        return e.Message();
    }
    return QString();
}

// A printer setup dialog that answers with a script working on the printer it is shown.
class ScriptedSetup final : public Dialogs {
public:
    std::function<bool(QPrinter&)> Answer;
    QString ShownPrinter;
    QString ShownTitle;
    QPageLayout::Orientation ShownOrientation = QPageLayout::Portrait;

    ScriptedSetup() { Dialogs::Install(this); }
    ~ScriptedSetup() override { Dialogs::Install(nullptr); }

    int Message(QWidget*, const MessageRequest&) override { return MsgOk; }
    bool OpenFile(QWidget*, FileDialogRequest&) override { return false; }
    bool SaveFile(QWidget*, FileDialogRequest&) override { return false; }
    bool ChooseColor(QWidget*, QColor&) override { return false; }
    bool PrinterSetup(QWidget*, QPrinter& printer, const QString& title) override {
        ShownPrinter = printer.printerName();
        ShownTitle = title;
        ShownOrientation = printer.pageLayout().orientation();
        return Answer(printer);
    }
};

class PrinterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The scheduler runs its filters as an unprivileged user: they must be able to pass
        // through our private temporary folder to reach the drivers and the output files.
        const QString tmp = qEnvironmentVariable("VELMORA_TEST_TMP");
        if (!tmp.isEmpty())
            QFile::setPermissions(tmp, QFile::permissions(tmp) | QFile::ExeGroup | QFile::ExeOther);
    }

    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER") || OutDir().isEmpty())
            GTEST_SKIP() << "needs the private scheduler of scripts/testenv.sh";
        TPrinter::Printer().Reset();
    }

    void TearDown() override {
        TPrinter::Printer().Reset();
        for (const QString& q : queues_) {
            Exec("lpadmin", {"-x", q});
            QFile::remove(OutFile(q));
        }
    }

    static QString OutFile(const QString& queue) { return OutDir() + "/" + queue + ".pdf"; }

    // A file: queue; `driver` false makes a queue without any driver (no margins at all).
    void AddQueue(const QString& name, const QStringList& options = {}, bool driver = true) {
        QStringList args{"-p", name, "-E", "-v", "file://" + OutFile(name)};
        if (driver)
            args << "-m" << kPpd;
        for (const QString& o : options)
            args << "-o" << o;
        const Result r = Exec("lpadmin", args);
        ASSERT_EQ(r.code, 0) << r.out.toStdString();
        queues_ << name;
    }

    static void MakeDefault(const QString& name) {
        ASSERT_EQ(Exec("lpadmin", {"-d", name}).code, 0);
    }

    // Jobs the scheduler knows of, pending or done.
    static QStringList Jobs() {
        return Exec("lpstat", {"-W", "all", "-o"}).out.split('\n', Qt::SkipEmptyParts);
    }

    // Waits until `count` jobs of `queue` are completed; returns how many are.
    static int WaitForCompleted(const QString& queue, int count) {
        QElapsedTimer t;
        t.start();
        int done = 0;
        do {
            done = int(Exec("lpstat", {"-W", "completed", "-o", queue})
                           .out.split('\n', Qt::SkipEmptyParts)
                           .size());
            if (done >= count)
                break;
            QThread::msleep(50);
        } while (t.elapsed() < 10000);
        return done;
    }

    static int PdfPages(const QString& file) {
        const Result r = Exec("pdfinfo", {file});
        for (const QString& line : r.out.split('\n'))
            if (line.startsWith("Pages:"))
                return line.mid(6).trimmed().toInt();
        return -1;
    }

    static QString PdfTitle(const QString& file) {
        const Result r = Exec("pdfinfo", {file});
        for (const QString& line : r.out.split('\n'))
            if (line.startsWith("Title:"))
                return line.mid(6).trimmed();
        return QString();
    }

    // Page `page` of `file` rendered at 72 dpi, one pixel per point.
    static QImage RenderPage(const QString& file, int page) {
        const QString prefix = OutDir() + "/render";
        const QString n = QString::number(page);
        Exec("pdftoppm", {"-r", "72", "-f", n, "-l", n, "-singlefile", "-png", file, prefix});
        QImage image(prefix + ".png");
        QFile::remove(prefix + ".png");
        return image;
    }

    QStringList queues_;
};

bool Dark(const QImage& image, int x, int y) {
    return qGray(image.pixel(x, y)) < 64;
}

TEST_F(PrinterTest, ListIsReadOnceAndLookedUpIgnoringCase) {
    AddQueue("Farbdrucker");
    AddQueue("Buero-fax");
    TPrinter& printer = TPrinter::Printer();

    const QStringList first = printer.Printers();
    ASSERT_EQ(first.size(), 2);
    EXPECT_TRUE(first.contains("Farbdrucker"));
    EXPECT_TRUE(first.contains("Buero-fax"));
    const int fax = printer.IndexOf("Buero-fax");
    ASSERT_GE(fax, 0);
    EXPECT_EQ(printer.IndexOf("BUERO-FAX"), fax);
    EXPECT_EQ(printer.IndexOf("buero-FAX"), fax);
    EXPECT_EQ(printer.IndexOf("farbdrucker"), printer.IndexOf("Farbdrucker"));
    EXPECT_EQ(printer.IndexOf("Buero"), -1);
    EXPECT_EQ(printer.IndexOf(QString()), -1);

    // A queue installed later would sort first; the list keeps its order until Reset.
    AddQueue("Aaa-neu");
    EXPECT_EQ(printer.Printers(), first);
    EXPECT_EQ(printer.IndexOf("Buero-fax"), fax);
    EXPECT_EQ(printer.IndexOf("Aaa-neu"), -1);

    printer.Reset();
    EXPECT_EQ(printer.Printers().size(), 3);
    EXPECT_GE(printer.IndexOf("aaa-NEU"), 0);
}

TEST_F(PrinterTest, DefaultPrinterIsSelectedFirst) {
    AddQueue("Farbdrucker");
    AddQueue("Buero-fax");
    MakeDefault("Farbdrucker");
    TPrinter& printer = TPrinter::Printer();
    const int colour = printer.IndexOf("Farbdrucker");
    const int fax = printer.IndexOf("Buero-fax");

    EXPECT_EQ(printer.PrinterIndex(), colour);
    printer.SetPrinterIndex(fax);
    EXPECT_EQ(printer.PrinterIndex(), fax);
    printer.SetPrinterIndex(-1);
    EXPECT_EQ(printer.PrinterIndex(), colour);

    // Out of range: an error, and the selection stays.
    printer.SetPrinterIndex(fax);
    ExpectPrinterError([&] { printer.SetPrinterIndex(2); }, kIndexRange);
    ExpectPrinterError([&] { printer.SetPrinterIndex(-2); }, kIndexRange);
    EXPECT_EQ(printer.PrinterIndex(), fax);

    // On a fresh object the default printer is selected before the index is checked.
    printer.Reset();
    ExpectPrinterError([&] { printer.SetPrinterIndex(7); }, kIndexRange);
    EXPECT_EQ(printer.PrinterIndex(), colour);
}

TEST_F(PrinterTest, WithoutDefaultPrinterNothingCanBeSelected) {
    AddQueue("Farbdrucker");
    AddQueue("Buero-fax");
    ASSERT_TRUE(Exec("lpstat", {"-d"}).out.contains("no system default"));
    TPrinter& printer = TPrinter::Printer();

    ASSERT_EQ(printer.Printers().size(), 2);
    ExpectPrinterError([&] { printer.PrinterIndex(); }, kNoDefault);
    // Selecting starts with the default printer, so even a valid index fails.
    ExpectPrinterError([&] { printer.SetPrinterIndex(0); }, kNoDefault);
    ExpectPrinterError([&] { printer.SetPrinterIndex(-1); }, kNoDefault);
    ExpectPrinterError([&] { printer.SetPrinterIndex(9); }, kNoDefault);
    ExpectPrinterError([&] { printer.Figures(); }, kNoDefault);
    ExpectPrinterError([&] { printer.BeginDoc(); }, kNoDefault);
    EXPECT_FALSE(printer.Printing());
}

TEST_F(PrinterTest, FiguresAreTheDriversPrintableArea) {
    AddQueue("A4-Drucker", {"PageSize=A4"});
    AddQueue("A5-Drucker", {"PageSize=A5"});
    AddQueue("Ohne-Treiber", {}, false);
    MakeDefault("A4-Drucker");
    TPrinter& printer = TPrinter::Printer();

    TDeviceFigures f = printer.Figures();
    EXPECT_EQ(f.AreaWidth, kA4AreaW);
    EXPECT_EQ(f.AreaHeight, kA4AreaH);
    EXPECT_EQ(f.AreaMMWidth, 197);
    EXPECT_EQ(f.AreaMMHeight, 272);
    EXPECT_EQ(f.DpiX, 1200);
    EXPECT_EQ(f.DpiY, 1200);

    // The queue's own default paper counts, not the locale's.
    printer.SetPrinterIndex(printer.IndexOf("A5-Drucker"));
    f = printer.Figures();
    EXPECT_EQ(f.AreaWidth, 6400);
    EXPECT_EQ(f.AreaHeight, 8717);
    EXPECT_EQ(f.AreaMMWidth, 135);
    EXPECT_EQ(f.AreaMMHeight, 185);

    // No driver, no margins: the whole A4 sheet (Qt alone would keep 10 pt all round).
    printer.SetPrinterIndex(printer.IndexOf("Ohne-Treiber"));
    f = printer.Figures();
    EXPECT_EQ(f.AreaWidth, 9917);
    EXPECT_EQ(f.AreaHeight, 14033);
    EXPECT_EQ(f.AreaMMWidth, 210);
    EXPECT_EQ(f.AreaMMHeight, 297);

    // Back to the first printer: none of the other printers' margins stick.
    printer.SetPrinterIndex(printer.IndexOf("A4-Drucker"));
    f = printer.Figures();
    EXPECT_EQ(f.AreaWidth, kA4AreaW);
    EXPECT_EQ(f.AreaHeight, kA4AreaH);
}

TEST_F(PrinterTest, SetupConfirmedTakesPrinterPaperAndOrientation) {
    AddQueue("Farbdrucker", {"PageSize=A4"});
    AddQueue("Buero-fax", {"PageSize=A4"});
    MakeDefault("Farbdrucker");
    TPrinter& printer = TPrinter::Printer();
    const int fax = printer.IndexOf("Buero-fax");
    const TDeviceFigures portrait = printer.Figures();

    ScriptedSetup dialog;
    dialog.Answer = [](QPrinter& p) {
        p.setPrinterName("Buero-fax");
        p.setPageOrientation(QPageLayout::Landscape);
        return true;
    };
    EXPECT_TRUE(printer.Setup(nullptr, "Fax auswählen und einrichten"));
    EXPECT_EQ(dialog.ShownPrinter, "Farbdrucker");
    EXPECT_EQ(dialog.ShownTitle, "Fax auswählen und einrichten");
    EXPECT_EQ(printer.PrinterIndex(), fax);

    // Landscape turns the driver's printable area with the sheet.
    TDeviceFigures f = printer.Figures();
    EXPECT_EQ(f.AreaWidth, portrait.AreaHeight);
    EXPECT_EQ(f.AreaHeight, portrait.AreaWidth);
    EXPECT_EQ(f.AreaMMWidth, 272);
    EXPECT_EQ(f.AreaMMHeight, 197);

    // The chosen settings stay with the printer for the run: selected again, after another
    // printer (a switch between printer and fax mode), and after the list was read anew.
    printer.SetPrinterIndex(fax);
    EXPECT_EQ(printer.Figures().AreaWidth, portrait.AreaHeight);
    printer.SetPrinterIndex(printer.IndexOf("Farbdrucker"));
    EXPECT_EQ(printer.Figures().AreaWidth, portrait.AreaWidth);
    printer.SetPrinterIndex(fax);
    EXPECT_EQ(printer.Figures().AreaWidth, portrait.AreaHeight);
    printer.ReadListAgain();
    printer.SetPrinterIndex(printer.IndexOf("Buero-fax"));
    EXPECT_EQ(printer.Figures().AreaWidth, portrait.AreaHeight);

    // The next dialog opens on the settings in force for the printer selected now.
    dialog.Answer = [](QPrinter& p) {
        p.setPageOrientation(QPageLayout::Portrait);
        p.setPageSize(QPageSize(QPageSize::A5));
        return true;
    };
    EXPECT_TRUE(printer.Setup(nullptr, QString()));
    EXPECT_EQ(dialog.ShownPrinter, "Buero-fax");
    EXPECT_EQ(dialog.ShownOrientation, QPageLayout::Landscape);
    EXPECT_EQ(printer.PrinterIndex(), fax);
    EXPECT_EQ(printer.Figures().AreaWidth, 6400);
    // A cancelled dialog keeps them.
    dialog.Answer = [](QPrinter& p) {
        p.setPageOrientation(QPageLayout::Landscape);
        return false;
    };
    printer.ReadListAgain();
    printer.SetPrinterIndex(printer.IndexOf("Buero-fax"));
    EXPECT_FALSE(printer.Setup(nullptr, QString()));
    printer.SetPrinterIndex(printer.IndexOf("Buero-fax"));
    EXPECT_EQ(printer.Figures().AreaWidth, 6400);
    // Reset starts afresh, on the printer's own paper.
    printer.Reset();
    printer.SetPrinterIndex(printer.IndexOf("Buero-fax"));
    EXPECT_EQ(printer.Figures().AreaWidth, portrait.AreaWidth);
}

TEST_F(PrinterTest, SetupCancelledChangesNothing) {
    AddQueue("Farbdrucker", {"PageSize=A4"});
    AddQueue("Buero-fax", {"PageSize=A4"});
    MakeDefault("Farbdrucker");
    TPrinter& printer = TPrinter::Printer();
    const int colour = printer.PrinterIndex();

    ScriptedSetup dialog;
    dialog.Answer = [](QPrinter& p) {
        p.setPrinterName("Buero-fax");
        p.setPageOrientation(QPageLayout::Landscape);
        p.setPageSize(QPageSize(QPageSize::A5));
        return false;
    };
    EXPECT_FALSE(printer.Setup(nullptr, "Drucker auswählen und einrichten"));
    EXPECT_EQ(printer.PrinterIndex(), colour);
    const TDeviceFigures f = printer.Figures();
    EXPECT_EQ(f.AreaWidth, kA4AreaW);
    EXPECT_EQ(f.AreaHeight, kA4AreaH);

    // Printing to a file is not a printer of the list: the choice is not taken.
    dialog.Answer = [&](QPrinter& p) {
        p.setOutputFileName(OutDir() + "/dialog.pdf");
        return true;
    };
    EXPECT_FALSE(printer.Setup(nullptr, QString()));
    EXPECT_EQ(printer.PrinterIndex(), colour);
}

TEST_F(PrinterTest, TwoPageJobReachesTheQueueWithItsTitle) {
    AddQueue("Farbdrucker", {"PageSize=A4"});
    AddQueue("Buero-fax", {"PageSize=A4"});
    MakeDefault("Buero-fax");
    TPrinter& printer = TPrinter::Printer();
    printer.SetPrinterIndex(printer.IndexOf("Farbdrucker"));

    // An abandoned document leaves no trace.
    printer.SetTitle("Velmora 1");
    printer.BeginDoc();
    printer.Canvas().fillRect(QRect(0, 0, 1200, 1200), Qt::black);
    printer.Abort();
    EXPECT_FALSE(printer.Printing());
    EXPECT_TRUE(Jobs().isEmpty());

    // Each page: a black square drawn from 600 pixels before the origin to 1200 after it, so
    // that only the part inside the printable area may appear.
    printer.SetTitle("Velmora 2");
    printer.BeginDoc();
    EXPECT_TRUE(printer.Printing());
    printer.Canvas().fillRect(QRect(-600, -600, 1800, 1800), Qt::black);
    printer.NewPage();
    printer.Canvas().fillRect(QRect(-600, -600, 1800, 1800), Qt::black);
    printer.EndDoc();
    EXPECT_FALSE(printer.Printing());

    ASSERT_EQ(WaitForCompleted("Farbdrucker", 1), 1);
    EXPECT_EQ(Jobs().size(), 1);
    const QString pdf = OutFile("Farbdrucker");
    EXPECT_EQ(PdfPages(pdf), 2);
    EXPECT_EQ(PdfTitle(pdf), "Velmora 2");
    EXPECT_FALSE(QFile::exists(OutFile("Buero-fax")));
    QFile log(qEnvironmentVariable("VELMORA_TEST_CUPS_DIR") + "/log/page_log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains("Velmora 2")) << "job name";

    // At 72 dpi the printable area starts at (18, 36) and the square ends 72 points further.
    for (int page = 1; page <= 2; ++page) {
        SCOPED_TRACE(page);
        const QImage image = RenderPage(pdf, page);
        ASSERT_EQ(image.size(), QSize(595, 842));
        EXPECT_TRUE(Dark(image, 20, 38));
        EXPECT_TRUE(Dark(image, 88, 106));
        EXPECT_FALSE(Dark(image, 14, 60)) << "left of the printable area";
        EXPECT_FALSE(Dark(image, 50, 32)) << "above the printable area";
        EXPECT_FALSE(Dark(image, 94, 60)) << "right of the square";
    }

    EXPECT_EQ(PrinterErrorOf([&] { printer.Canvas(); }).isEmpty(), false);
    EXPECT_EQ(PrinterErrorOf([&] { printer.EndDoc(); }).isEmpty(), false);
}

TEST_F(PrinterTest, QueueThatTakesNoJobsIsReportedAndNothingIsPrinted) {
    AddQueue("Farbdrucker");
    MakeDefault("Farbdrucker");
    TPrinter& printer = TPrinter::Printer();

    ASSERT_EQ(Exec("cupsreject", {"Farbdrucker"}).code, 0);
    ExpectPrinterError([&] { printer.BeginDoc(); },
                       QStringLiteral(u"Drucker Farbdrucker nimmt keine Aufträge an"));
    EXPECT_FALSE(printer.Printing());

    ASSERT_EQ(Exec("cupsaccept", {"Farbdrucker"}).code, 0);
    ASSERT_EQ(Exec("cupsdisable", {"Farbdrucker"}).code, 0);
    ExpectPrinterError([&] { printer.BeginDoc(); },
                       QStringLiteral(u"Drucker Farbdrucker ist angehalten"));
    EXPECT_FALSE(printer.Printing());

    // The queue stops taking jobs while the document is being drawn.
    ASSERT_EQ(Exec("cupsenable", {"Farbdrucker"}).code, 0);
    printer.BeginDoc();
    printer.Canvas().fillRect(QRect(0, 0, 100, 100), Qt::black);
    ASSERT_EQ(Exec("cupsreject", {"Farbdrucker"}).code, 0);
    const QString refused = PrinterErrorOf([&] { printer.EndDoc(); });
    EXPECT_TRUE(refused.startsWith("Drucker Farbdrucker hat den Druckauftrag nicht angenommen"))
        << refused.toStdString();
    EXPECT_FALSE(printer.Printing());

    EXPECT_TRUE(Jobs().isEmpty());
    EXPECT_FALSE(QFile::exists(OutFile("Farbdrucker")));
}

TEST_F(PrinterTest, RemovedPrinterIsInvalidAndNoOtherQueuePrints) {
    AddQueue("Farbdrucker", {"PageSize=A4"});
    AddQueue("Buero-fax", {"PageSize=A4"});
    MakeDefault("Farbdrucker");
    TPrinter& printer = TPrinter::Printer();
    const int fax = printer.IndexOf("Buero-fax");

    // Removed after the list was read, before its device was opened.
    ASSERT_EQ(Exec("lpadmin", {"-x", "Buero-fax"}).code, 0);
    printer.SetPrinterIndex(fax);
    EXPECT_EQ(printer.PrinterIndex(), fax);
    ExpectPrinterError([&] { printer.Figures(); }, kInvalid);
    ExpectPrinterError([&] { printer.BeginDoc(); }, kInvalid);
    EXPECT_EQ(printer.PrinterIndex(), fax);

    // Removed after its device was opened.
    printer.SetPrinterIndex(printer.IndexOf("Farbdrucker"));
    EXPECT_EQ(printer.Figures().AreaWidth, kA4AreaW);
    ASSERT_EQ(Exec("lpadmin", {"-x", "Farbdrucker"}).code, 0);
    ExpectPrinterError([&] { printer.BeginDoc(); }, kInvalid);
    EXPECT_FALSE(printer.Printing());

    EXPECT_TRUE(Jobs().isEmpty());
    EXPECT_TRUE(QDir(OutDir()).entryList({"*.pdf"}).isEmpty());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

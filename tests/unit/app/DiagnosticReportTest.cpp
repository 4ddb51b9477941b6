// The text of the report of unexpected errors: its lines, the number format, the cut at the
// buffer size and the note when a line cannot be built.

#include "app/DiagnosticReport.h"
#include "layout/PicObj.h"
#include "platform/Errors.h"

#include <QStringList>
#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* os) {
    *os << ::testing::PrintToString(text.toStdString());
}

namespace {

const QLocale German(QLocale::German, QLocale::Germany);
const QString Intro = QStringLiteral("Es ist ein unerwarteter Programmfehler aufgetreten:\r");
const QString Failed = QStringLiteral("\rFehler bei Erstellung des Fehlertextes!\r");

// A graphic whose size cannot be read.
class BrokenGraphic final : public TGraphic {
public:
    GraphicKind Kind() const override { return GraphicKind::Bitmap; }
    int Width() const override { throw EInvalidGraphic(QStringLiteral("Bitmap ist ungültig")); }
    int Height() const override { return 1; }
    void Draw(QPainter&, const QRect&) const override {}
};

class DiagnosticReportTest : public ::testing::Test {
protected:
    DiagnosticReportTest() : pic(&printer) {
        sources.ProductVersion = [] { return QStringLiteral("1.0.0.12"); };
        sources.Pic = &pic;
        sources.PrinterIndex = [] { return 0; };
        sources.PrinterCount = [] { return 2; };
    }

    QString Report(const QString& msg, const QLocale& locale = German) const {
        return DiagnosticReportText(msg, sources, locale);
    }

    TPrinterProperties printer;
    TPicProperties pic;
    TReportSources sources;
};

TEST_F(DiagnosticReportTest, FileOpenErrorOnTheEmptyFirstPage) {
    printer.PrnAreaWidth = 9317;
    printer.PrnAreaHeight = 12833;
    printer.PrnAreaMMWidth = 197;
    printer.PrnAreaMMHeight = 272;
    printer.PrnDPI = {1200, 1200};
    sources.PrevXSize = 193;
    sources.PrevYSize = 266;
    const QString text =
        Report(Intro + QStringLiteral("EFOpenError : Datei x.bmp kann nicht geöffnet werden"));
    EXPECT_EQ(text, QStringLiteral("Version 1.0.0.12 64-Bit\r"
                                   "Es ist ein unerwarteter Programmfehler aufgetreten:\r"
                                   "EFOpenError : Datei x.bmp kann nicht geöffnet werden\r"
                                   "Dieser Fehlertext wird gleichzeitig in die Zwischenablage "
                                   "geschrieben.\r"
                                   "Ich bitte um Zusendung aller Angaben "
                                   "(velmora-support@example.org).\r"
                                   "PicWidth = 0\r"
                                   "PicHeight = 0\r"
                                   "PrnAreaWidth = 9317\r"
                                   "PrnAreaHeight = 12833\r"
                                   "PrnAreaMMWidth = 197\r"
                                   "PrnAreaMMHeight = 272\r"
                                   "PrnDPI.X = 1200\r"
                                   "PrnDPI.Y = 1200\r"
                                   "ScannerDPI.X = 0\r"
                                   "ScannerDPI.Y = 0\r"
                                   "xZoom = 1\r"
                                   "yZoom = 1\r"
                                   "xRelPos = 0\r"
                                   "yRelPos = 0\r"
                                   "PrevXSize = 193\r"
                                   "PrevYSize = 266\r"
                                   "PrinterIndex = 0\r"
                                   "PrinterCount = 2\r"));
    EXPECT_FALSE(text.contains(QLatin1Char('\n')));
}

TEST_F(DiagnosticReportTest, MissingPictureAndMissingPrinterProperties) {
    pic.PrinterProperties = nullptr;
    QStringList lines = Report("x").split('\r');
    EXPECT_EQ(lines.mid(4, 4), (QStringList{"PicWidth = 0", "PicHeight = 0",
                                            "pic.PrinterProperties = Nil", "ScannerDPI.X = 0"}));

    sources.Pic = nullptr;
    lines = Report("x").split('\r');
    EXPECT_EQ(lines.mid(4), (QStringList{"pic = Nil", "PrinterIndex = 0", "PrinterCount = 2", ""}));
}

TEST_F(DiagnosticReportTest, FactorsInTheLocalesGeneralFormat) {
    struct Case {
        double value;
        const char* german;
        const char* english;
    };
    const Case cases[] = {
        {1.0, "1", "1"},
        {0.125, "0,125", "0.125"},
        {-0.5, "-0,5", "-0.5"},
        {1.0 / 3.0, "0,333333333333333", "0.333333333333333"},
        {2.0 / 3.0, "0,666666666666667", "0.666666666666667"},
        {1234567.25, "1234567,25", "1234567.25"}, // never a digit grouping
        {12.0, "12", "12"},
    };
    for (const Case& c : cases) {
        pic.xZoom = c.value;
        SCOPED_TRACE(c.german);
        EXPECT_TRUE(Report("x").contains(QStringLiteral("\rxZoom = %1\r").arg(c.german)));
        EXPECT_TRUE(
            Report("x", QLocale::c()).contains(QStringLiteral("\rxZoom = %1\r").arg(c.english)));
    }
    pic.yZoom = 1.5;
    pic.xRelPos = 0.25;
    pic.yRelPos = 0.75;
    EXPECT_TRUE(Report("x").contains("\ryZoom = 1,5\rxRelPos = 0,25\ryRelPos = 0,75\r"));
}

TEST_F(DiagnosticReportTest, HugeMessageIsCutAtTheBufferSize) {
    const QString huge(5000, QLatin1Char('a'));
    const QString text = Report(huge);
    EXPECT_EQ(text.size(), MaxReportLength);
    EXPECT_EQ(text, ("Version 1.0.0.12 64-Bit\r" + huge).left(MaxReportLength));

    // A message that just fits leaves the rest of the lines cut where the buffer ends.
    const QString long_(4000, QLatin1Char('b'));
    const QString cut = Report(long_);
    EXPECT_EQ(cut.size(), MaxReportLength);
    EXPECT_TRUE(cut.startsWith("Version 1.0.0.12 64-Bit\r" + long_ + "\rDieser Fehlertext"));
}

TEST_F(DiagnosticReportTest, CutNeverSplitsACharacter) {
    // A character outside the basic plane is two UTF-16 units; the cut drops it whole.
    const QString prefix = "Version 1.0.0.12 64-Bit\r";
    QString msg(MaxReportLength - prefix.size() - 1, QLatin1Char('c'));
    msg += QString::fromUtf8("\xF0\x9F\x96\xA8"); // printer emoji
    const QString text = Report(msg);
    EXPECT_EQ(text, prefix + msg.chopped(2));
}

TEST_F(DiagnosticReportTest, FailingLineEndsTheReportWithANote) {
    sources.PrinterCount = []() -> int { throw EPrinter(QStringLiteral("Druckerfehler")); };
    QString text = Report("x");
    EXPECT_TRUE(text.endsWith("\rPrinterIndex = 0\r" + Failed));
    EXPECT_FALSE(text.contains("PrinterCount"));

    // A picture that cannot tell its size: the four fixed lines stay, nothing after them.
    pic.Picture.SetGraphic(std::make_unique<BrokenGraphic>());
    sources.PrinterCount = [] { return 2; };
    text = Report("x");
    EXPECT_EQ(text, "Version 1.0.0.12 64-Bit\rx\r"
                    "Dieser Fehlertext wird gleichzeitig in die Zwischenablage geschrieben.\r"
                    "Ich bitte um Zusendung aller Angaben (velmora-support@example.org).\r" +
                        Failed);

    // Even the first line may fail.
    sources.ProductVersion = []() -> QString { throw std::runtime_error("kein Speicher"); };
    EXPECT_EQ(Report("x"), Failed);
}

TEST_F(DiagnosticReportTest, NoteStaysInsideTheBuffer) {
    sources.PrinterIndex = []() -> int { throw EPrinter(QStringLiteral("Druckerfehler")); };
    const QString text = Report(QString(5000, QLatin1Char('d')));
    EXPECT_EQ(text.size(), MaxReportLength);
}

} // namespace

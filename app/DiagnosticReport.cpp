#include "app/DiagnosticReport.h"

#include "app/Support.h"
#include "app/VersionInfo.h"
#include "layout/PicObj.h"

namespace {

class ReportBuffer {
public:
    // Once something was cut, the buffer counts as full: nothing follows the cut.
    void Append(const QString& s) {
        if (m_full)
            return;
        const qsizetype room = MaxReportLength - m_text.size();
        if (s.size() <= room) {
            m_text += s;
            return;
        }
        QString fitting = s.left(room);
        // Half of a surrogate pair would be no character at all.
        if (!fitting.isEmpty() && fitting.back().isHighSurrogate())
            fitting.chop(1);
        m_text += fitting;
        m_full = true;
    }

    void Line(const QString& s) { Append(s + QLatin1Char('\r')); }
    void Line(const char* label, int value) { Line(QLatin1String(label) + QString::number(value)); }

    const QString& Text() const { return m_text; }

private:
    QString m_text;
    bool m_full = false;
};

} // namespace

QString DiagnosticReportText(const QString& Msg, const TReportSources& Sources,
                             const QLocale& locale) {
    // The general number format: 1.0 is "1", no digit grouping, the locale's decimal separator.
    QLocale numbers = locale;
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    const auto factor = [&](double value) { return numbers.toString(value, 'g', 15); };

    ReportBuffer out;
    try {
        // The word size tells a 32-bit build from a 64-bit one.
        out.Line(QStringLiteral("Version ") + Sources.ProductVersion() + BuildWidthText());
        out.Line(Msg);
        out.Line(QStringLiteral("Dieser Fehlertext wird gleichzeitig in die Zwischenablage "
                                "geschrieben."));
        out.Line(QStringLiteral("Ich bitte um Zusendung aller Angaben (") +
                 QLatin1String(SupportMailAddress) + QStringLiteral(")."));
        if (const TPicProperties* pic = Sources.Pic) {
            out.Line("PicWidth = ", pic->PicWidth());
            out.Line("PicHeight = ", pic->PicHeight());
            if (const TPrinterProperties* printer = pic->PrinterProperties) {
                out.Line("PrnAreaWidth = ", printer->PrnAreaWidth);
                out.Line("PrnAreaHeight = ", printer->PrnAreaHeight);
                out.Line("PrnAreaMMWidth = ", printer->PrnAreaMMWidth);
                out.Line("PrnAreaMMHeight = ", printer->PrnAreaMMHeight);
                out.Line("PrnDPI.X = ", printer->PrnDPI.X);
                out.Line("PrnDPI.Y = ", printer->PrnDPI.Y);
            } else {
                out.Line(QStringLiteral("pic.PrinterProperties = Nil"));
            }
            out.Line("ScannerDPI.X = ", pic->ScannerDPI.X);
            out.Line("ScannerDPI.Y = ", pic->ScannerDPI.Y);
            out.Line(QStringLiteral("xZoom = ") + factor(pic->xZoom));
            out.Line(QStringLiteral("yZoom = ") + factor(pic->yZoom));
            out.Line(QStringLiteral("xRelPos = ") + factor(pic->xRelPos));
            out.Line(QStringLiteral("yRelPos = ") + factor(pic->yRelPos));
            out.Line("PrevXSize = ", Sources.PrevXSize);
            out.Line("PrevYSize = ", Sources.PrevYSize);
        } else {
            out.Line(QStringLiteral("pic = Nil"));
        }
        out.Line("PrinterIndex = ", Sources.PrinterIndex());
        out.Line("PrinterCount = ", Sources.PrinterCount());
    } catch (...) {
        // Whatever broke, the user still gets the lines built so far and the box.
        out.Append(QStringLiteral("\rFehler bei Erstellung des Fehlertextes!\r"));
    }
    return out.Text();
}

QString ReportForClipboard(const QString& report) {
    QString text = report;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The main window's report of unexpected errors: built from the window's state, put on the
// clipboard for the user to send, and shown in a warning box.

#include "app/MainForm.h"

#include "app/DiagnosticReport.h"
#include "app/VersionInfo.h"
#include "output/Printer.h"
#include "platform/Errors.h"

#include <QClipboard>
#include <QGuiApplication>

void TMainForm::HandleAppException(const Exception& E) {
    ShowDiagnosticReport(QStringLiteral("Es ist ein unerwarteter Programmfehler aufgetreten:\r") +
                         QString::fromLatin1(E.ClassName()) + QStringLiteral(" : ") + E.Message());
}

void TMainForm::ShowDiagnosticReport(const QString& Msg) {
    TReportSources sources;
    sources.ProductVersion = [] { return ProductVersionText(); };
    sources.Pic = pic;
    sources.PrevXSize = PrevXSize;
    sources.PrevYSize = PrevYSize;
    sources.PrinterIndex = [this] { return CurrentPrinterIndex(); };
    sources.PrinterCount = [] { return int(TPrinter::Printer().Printers().size()); };
    const QString report = DiagnosticReportText(Msg, sources);

    QGuiApplication::clipboard()->setText(ReportForClipboard(report));
    // No caption of its own: the platform's default caption of an error box.
    ShowMessage(this, report, QString(), MsgIcon::Warning, MsgOk);
}

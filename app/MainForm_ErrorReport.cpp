// The main window's report of unexpected errors.

#include "app/MainForm.h"

#include "platform/Errors.h"

void TMainForm::HandleAppException(const Exception& E) {
    ShowDiagnosticReport(QStringLiteral("Es ist ein unerwarteter Programmfehler aufgetreten:\r") +
                         QString::fromLatin1(E.ClassName()) + QStringLiteral(" : ") + E.Message());
}

void TMainForm::ShowDiagnosticReport(const QString& Msg) {
    // For now the message alone; the full report (version, picture and printer figures, a copy
    // on the clipboard) arrives with the error report. The box has no caption of its own.
    ShowMessage(this, Msg, QString(), MsgIcon::Warning, MsgOk);
}

#include "app/VelmoraApplication.h"

#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <QLibraryInfo>
#include <new>

namespace {

VelmoraApplication::ExceptionHandler& InstalledHandler() {
    static VelmoraApplication::ExceptionHandler handler;
    return handler;
}

QString& HelpFilePath() {
    static QString path;
    return path;
}

} // namespace

VelmoraApplication::VelmoraApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The copier speaks German whatever the desktop's language is, so its standard dialogs do
    // too.
    if (m_qtTranslator.load(QStringLiteral("qtbase_de"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&m_qtTranslator);
}

VelmoraApplication::~VelmoraApplication() = default;

bool VelmoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
    }
    return false;
}

void VelmoraApplication::SetExceptionHandler(ExceptionHandler handler) {
    InstalledHandler() = std::move(handler);
}

void VelmoraApplication::ReportCurrentException() {
    try {
        try {
            throw;
        } catch (const EAbort&) {
            // The silent error: it only abandons the handler it was raised in.
        } catch (const Exception& error) {
            Report(error);
        } catch (const std::bad_alloc&) {
            Report(EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher")));
        } catch (const std::exception& error) {
            Report(Exception(QString::fromLocal8Bit(error.what())));
        } catch (...) {
            Report(Exception(QStringLiteral("Unbekannter Fehler")));
        }
    } catch (...) {
        // The report itself failed (no memory for a message box, ...): nothing is left to tell
        // the user with, and the exception must still not reach Qt.
    }
}

void VelmoraApplication::Report(const Exception& error) {
    if (InstalledHandler())
        InstalledHandler()(error);
    else
        ShowMessage(nullptr, error.Message(), QString(), MsgIcon::Warning);
}

QString VelmoraApplication::HelpFile() {
    return HelpFilePath();
}

void VelmoraApplication::SetHelpFile(const QString& path) {
    HelpFilePath() = path;
}

#include "app/VelmoraApplication.h"

#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/VelmoraPaths.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <malloc.h>
#include <new>

// Which of its own files the program found where; enable "velmora.files.info" to see it.
Q_LOGGING_CATEGORY(lcFiles, "velmora.files", QtWarningMsg)
Q_LOGGING_CATEGORY(lcErrors, "velmora.errors", QtWarningMsg)

namespace {

VelmoraApplication::ExceptionHandler& InstalledHandler() {
    static VelmoraApplication::ExceptionHandler handler;
    return handler;
}

int g_errorsThroughQt = 0;
QStringList g_receivedArguments;

QString& HelpFilePath() {
    static QString path;
    return path;
}

} // namespace

int& VelmoraApplication::KeepArguments(int& argc, char** argv) {
    g_receivedArguments.clear();
    for (int i = 0; i < argc && argv[i]; ++i)
        g_receivedArguments << QString::fromLocal8Bit(argv[i]);
    return argc;
}

QStringList VelmoraApplication::ReceivedArguments() {
    return g_receivedArguments;
}

VelmoraApplication::VelmoraApplication(int& argc, char** argv)
    : QApplication(KeepArguments(argc, argv), argv) {
    // Pages and pictures are tens of megabytes each and come and go with every scan. Left to
    // itself the C library raises its mapping threshold past the first page it frees, and the
    // pages after it then stay in the process when freed: a batch would hold freed pages as
    // well as kept ones. Blocks above a few megabytes are always mapped and returned on free;
    // the smaller ones of drawing and printing (bands of a page) are still reused.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    // The copier speaks German whatever the desktop's language is, so its standard dialogs do
    // too: from its own copy of Qt's translations, else from Qt's.
    const QString folders[] = {VelmoraFolder(TVelmoraFiles::Translations),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    for (const QString& folder : folders) {
        if (m_qtTranslator.load(QStringLiteral("qtbase_de"), folder)) {
            installTranslator(&m_qtTranslator);
            qCInfo(lcFiles) << "translations:" << m_qtTranslator.filePath();
            return;
        }
    }
    qCWarning(lcFiles) << "no German translations (qtbase_de.qm) found";
}

VelmoraApplication::~VelmoraApplication() = default;

bool VelmoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // Qt's widgets are built without exception support: getting here means an error has
        // already unwound through Qt's frames, which only happens to work. The handler that let
        // it out must catch it itself.
        ++g_errorsThroughQt;
        qCCritical(lcErrors) << "an error crossed Qt's frames on its way from"
                             << receiver->metaObject()->className() << "event" << event->type();
        ReportCurrentException();
    }
    return false;
}

int VelmoraApplication::ErrorsThroughQt() {
    return g_errorsThroughQt;
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
    if (QFileInfo(path).isAbsolute())
        qCInfo(lcFiles) << "help file:" << path << (QFileInfo::exists(path) ? "" : "(missing)");
}

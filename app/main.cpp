// Velmora, a colour copier: the program entry.

#include "app/MainForm.h"
#include "app/TerminationSignals.h"
#include "app/VelmoraApplication.h"

#include <QByteArray>
#include <QEvent>
#include <cstdio>

namespace {

// Without a display Qt would abort with a message about platform plugins that helps nobody.
bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "velmora: Keine grafische Anzeige gefunden (DISPLAY ist nicht gesetzt). "
                     "Starten Sie Velmora z. B. mit: xvfb-run %s\n",
                     argc > 0 ? argv[0] : "velmora");
        return 1;
    }

    VelmoraApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    VelmoraApplication::SetHelpFile(QStringLiteral("velmorix.hlp"));

    // `kill`, a shutting-down system and logout end the copier as its close button does. The
    // request is posted like any quit request: during a scan the window carries it out once the
    // scanner is closed.
    const TTerminationSignals quitSignals(
        [](int) { QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit)); }, QuitSignals());

    try {
        TMainForm form;
        form.show();
        return app.exec();
    } catch (...) {
        // Only creating the window can get here; everything later is caught by the application.
        // The window is incomplete, so the program ends after the message.
        VelmoraApplication::ReportCurrentException();
        return 1;
    }
}

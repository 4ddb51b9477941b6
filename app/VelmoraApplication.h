#pragma once
// The application object. It is the one place where errors that escape an event handler end:
// Qt must never see an exception, so notify() catches everything, drops the silent EAbort and
// hands the rest to the handler the main window installs (the diagnostic report). Until that
// handler is installed, and after it is removed, a plain warning box shows the message alone.
//
// It also holds the application-wide help file path and loads Qt's German translations, so
// standard buttons and dialogs read "Ja", "Nein", "Abbrechen".

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <functional>

class Exception;

class VelmoraApplication : public QApplication {
    Q_OBJECT

public:
    VelmoraApplication(int& argc, char** argv);
    ~VelmoraApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Errors that reached notify() through Qt's own frames since the start: every hook, filter,
    // timer and signal handler of Velmora catches its errors itself, so this stays 0 unless one
    // of them forgot (which is then reported on the "velmora.errors" category as well).
    static int ErrorsThroughQt();

    // The command line as the program received it, the program name first. Qt takes its own
    // options (-style, -title, -reverse, -platform, -display, ...) out of argv and out of
    // arguments(); Velmora's command line has no such options, so every word counts.
    static QStringList ReceivedArguments();

    using ExceptionHandler = std::function<void(const Exception&)>;
    // Installs the handler of unhandled errors; an empty function removes it.
    static void SetExceptionHandler(ExceptionHandler handler);

    // To be called inside a catch block: reports the exception being handled as an unhandled
    // error (through the installed handler, or the plain box). EAbort is dropped silently.
    // Never throws.
    static void ReportCurrentException();

    // The application's help file: a bare name at start, made absolute by the main window.
    static QString HelpFile();
    static void SetHelpFile(const QString& path);

private:
    static void Report(const Exception& error);
    // Keeps the words of argv before QApplication's constructor removes Qt's options from it.
    static int& KeepArguments(int& argc, char** argv);

    QTranslator m_qtTranslator;
};

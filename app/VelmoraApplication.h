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
#include <QTranslator>
#include <functional>

class Exception;

class VelmoraApplication : public QApplication {
    Q_OBJECT

public:
    VelmoraApplication(int& argc, char** argv);
    ~VelmoraApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

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

    QTranslator m_qtTranslator;
};

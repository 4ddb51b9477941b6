#pragma once
// Runs a QtTest object the way Velmora runs: in a VelmoraApplication, with the German locale,
// and never touching the user's files. HOME, the XDG folders and APPDATA point into a temporary
// folder, and the program's own command line is "-i <that folder>/velmora.ini".

#include "app/VelmoraApplication.h"

#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QLocale>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <vector>

// The window's control `name`; a missing control ends the test program at once.
template <class T> T* Child(QWidget& form, const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("control %s missing", name);
    return w;
}

// Runs a helper program (lpadmin, cupsreject...); false, with its output as a warning, when it
// fails.
inline bool Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok =
        p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning("%s %s: %s", qPrintable(program), qPrintable(args.join(' ')),
                 p.readAll().constData());
    return ok;
}

inline QString GuiTestIniFile() {
    return QDir(qEnvironmentVariable("HOME")).filePath("velmora.ini");
}

// `extraArguments` follow the settings option on the program's command line.
inline int RunGuiTest(QObject& test, int argc, char** argv,
                      const QStringList& extraArguments = {}) {
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QDir dir(home.path());
    for (const char* sub : {"config", "data", "cache", "runtime", "appdata"})
        dir.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.filePath("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", dir.filePath("cache").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.filePath("runtime").toLocal8Bit());
    qputenv("APPDATA", dir.filePath("appdata").toLocal8Bit());
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // The application sees only its own command line; QtTest gets the real one.
    std::vector<QByteArray> words = {QByteArray(argv[0]), QByteArray("-i"),
                                     GuiTestIniFile().toLocal8Bit()};
    for (const QString& word : extraArguments)
        words.push_back(word.toLocal8Bit());
    std::vector<char*> appArgv;
    for (QByteArray& word : words)
        appArgv.push_back(word.data());
    appArgv.push_back(nullptr);
    int appArgc = static_cast<int>(words.size());

    VelmoraApplication app(appArgc, appArgv.data());
    app.setQuitOnLastWindowClosed(false);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    VelmoraApplication::SetHelpFile(QStringLiteral("velmorix.hlp"));
    return QTest::qExec(&test, argc, argv);
}

#define VELMORA_GUI_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char** argv) {                                                              \
        TestClass test;                                                                            \
        return RunGuiTest(test, argc, argv);                                                       \
    }

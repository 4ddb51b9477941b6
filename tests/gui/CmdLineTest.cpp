// The command line: picture files and "-i" with the settings file.

#include "app/CmdLine.h"
#include "app/IniHelp.h"
#include "tests/gui/GuiTestEnv.h"

#include <QCoreApplication>
#include <QTest>

namespace {

// Words Qt takes for its own options; on Velmora's command line they are picture names.
const QStringList QtOptionWords = {"-title", "seite.bmp",     "-reverse",  "-style",
                                   "fusion", "-platform",     "offscreen", "-display",
                                   ":0",     "-qwindowtitle", "x.jpg"};

// The default settings path of this program under the test environment's APPDATA.
QString DefaultIniPath() {
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return qEnvironmentVariable("APPDATA") + "/Velmora/" + name + "/" + name + ".ini";
}

} // namespace

class CmdLineTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void defaultSettingsPathIsUnderAppData();
    void parsesFilesAndSettingsPath_data();
    void parsesFilesAndSettingsPath();
    void readsTheProgramsOwnArguments();
};

void CmdLineTest::init() {
    // Forget any path an earlier case set, so that the default is worked out anew.
    SetIniFileName(QString());
}

void CmdLineTest::defaultSettingsPathIsUnderAppData() {
    // The test environment sets APPDATA; the rules themselves are tested in test_inihelp.
    QCOMPARE(GetIniFileName(), DefaultIniPath());
}

void CmdLineTest::parsesFilesAndSettingsPath_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("iniFile"); // empty: the default path
    QTest::addColumn<QStringList>("files");
    QTest::newRow("no arguments") << QStringList{} << QString() << QStringList{};
    QTest::newRow("pictures around the option")
        << QStringList{"a.bmp", "-i", "x.ini", "b.jpg"} << "x.ini" << QStringList{"a.bmp", "b.jpg"};
    QTest::newRow("second -i wins")
        << QStringList{"-i", "one.ini", "-i", "two.ini"} << "two.ini" << QStringList{};
    QTest::newRow("-i at the end") << QStringList{"-i"} << QString() << QStringList{};
    QTest::newRow("-i twice, one path")
        << QStringList{"-i", "-i", "p.ini"} << "p.ini" << QStringList{};
    QTest::newRow("-I is a file name")
        << QStringList{"-I", "p.ini"} << QString() << QStringList{"-I", "p.ini"};
    QTest::newRow("blanks in a name")
        << QStringList{"mein bild.bmp"} << QString() << QStringList{"mein bild.bmp"};
    QTest::newRow("relative path kept as written")
        << QStringList{"-i", "../x/y.ini"} << "../x/y.ini" << QStringList{};
}

void CmdLineTest::parsesFilesAndSettingsPath() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, iniFile);
    QFETCH(QStringList, files);
    const TCommandLineHandler handler(arguments);
    QCOMPARE(handler.FileNames, files);
    QCOMPARE(handler.IniFileName, iniFile.isEmpty() ? DefaultIniPath() : iniFile);
    // The path given with "-i" becomes the one every later lookup answers.
    QCOMPARE(GetIniFileName(), handler.IniFileName);
}

void CmdLineTest::readsTheProgramsOwnArguments() {
    // The program was started with "-i <settings>" and Qt's option words after it (see main):
    // Qt has taken some of them for itself (-title and -display only on X11), the command line
    // keeps them all as picture names.
    for (const char* taken : {"-reverse", "-style", "-platform", "-qwindowtitle"})
        QVERIFY2(!QCoreApplication::arguments().contains(QLatin1String(taken)), taken);
    const TCommandLineHandler handler;
    QCOMPARE(handler.IniFileName, GuiTestIniFile());
    QCOMPARE(handler.FileNames, QtOptionWords);
}

int main(int argc, char** argv) {
    CmdLineTest test;
    return RunGuiTest(test, argc, argv, QtOptionWords);
}
#include "CmdLineTest.moc"

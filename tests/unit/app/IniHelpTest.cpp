// Where the settings file lives: beside the program, under APPDATA, or in the XDG configuration
// folder, and what a folder that cannot be made does.

#include "app/IniHelp.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

void PrintTo(const QString& text, std::ostream* os) {
    *os << ::testing::PrintToString(text.toStdString());
}

namespace {

// Sets or removes an environment variable for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<QByteArray> value) : m_name(name) {
        if (qEnvironmentVariableIsSet(name))
            m_old = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            qputenv(m_name, *m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<QByteArray> m_old;
};

class IniHelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_tmp.isValid());
        QDir(m_tmp.path()).mkpath("bin");
        QDir(m_tmp.path()).mkpath("home");
        // Nothing of the real user's folders is ever created.
        m_home.emplace("HOME", Path("home").toLocal8Bit());
        SetIniFileName(QString());
    }
    void TearDown() override { SetIniFileName(QString()); }

    QString Path(const QString& relative) const { return m_tmp.filePath(relative); }
    QString Program() const { return Path("bin/velmora"); }
    QByteArray Folder(const QString& relative) const {
        QDir(m_tmp.path()).mkpath(relative);
        return Path(relative).toLocal8Bit();
    }

    QTemporaryDir m_tmp;
    std::optional<ScopedEnv> m_home;
};

TEST_F(IniHelpTest, AppDataGetsVendorAndProgramFolders) {
    ScopedEnv appData("APPDATA", Folder("appdata"));
    const QString expected = Path("appdata/Velmora/velmora/velmora.ini");
    EXPECT_EQ(GetIniFileName(Program()), expected);
    EXPECT_TRUE(QFileInfo(Path("appdata/Velmora/velmora")).isDir());
    // The file itself is made by the first write, not here.
    EXPECT_FALSE(QFileInfo::exists(expected));
}

TEST_F(IniHelpTest, FileBesideTheProgramWins) {
    ScopedEnv appData("APPDATA", Folder("appdata"));
    QFile beside(Program() + ".ini");
    ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
    beside.close();
    EXPECT_EQ(GetIniFileName(Program()), Program() + ".ini");
    EXPECT_FALSE(QFileInfo::exists(Path("appdata/Velmora"))) << "APPDATA was not looked at";
}

TEST_F(IniHelpTest, EmptyAppDataMeansBesideTheProgram) {
    ScopedEnv appData("APPDATA", QByteArray());
    ScopedEnv xdg("XDG_CONFIG_HOME", Folder("config"));
    EXPECT_EQ(GetIniFileName(Program()), Program() + ".ini");
    EXPECT_FALSE(QFileInfo::exists(Path("config/Velmora")));
}

TEST_F(IniHelpTest, WithoutAppDataTheXdgConfigFolderIsUsed) {
    ScopedEnv appData("APPDATA", std::nullopt);
    ScopedEnv xdg("XDG_CONFIG_HOME", Folder("config"));
    EXPECT_EQ(GetIniFileName(Program()), Path("config/Velmora/velmora/velmora.ini"));
    EXPECT_TRUE(QFileInfo(Path("config/Velmora/velmora")).isDir());
}

TEST_F(IniHelpTest, WithoutXdgConfigHomeDotConfigIsMadeInHome) {
    ScopedEnv appData("APPDATA", std::nullopt);
    for (const std::optional<QByteArray>& xdgValue :
         {std::optional<QByteArray>(), std::optional<QByteArray>(""),
          std::optional<QByteArray>("relative/config")}) {
        SCOPED_TRACE(xdgValue ? xdgValue->toStdString() : "unset");
        SetIniFileName(QString());
        QDir(Path("home/.config")).removeRecursively();
        ScopedEnv xdg("XDG_CONFIG_HOME", xdgValue);
        EXPECT_EQ(GetIniFileName(Program()), Path("home/.config/Velmora/velmora/velmora.ini"));
        EXPECT_TRUE(QFileInfo(Path("home/.config/Velmora/velmora")).isDir());
        // A configuration folder we make ourselves is private, as XDG asks.
        EXPECT_EQ(QFile::permissions(Path("home/.config")) & 0x0077, 0);
    }
}

TEST_F(IniHelpTest, PathIsWorkedOutOnceAndRemembered) {
    ScopedEnv appData("APPDATA", Folder("appdata"));
    const QString first = GetIniFileName(Program());
    ScopedEnv other("APPDATA", Folder("elsewhere"));
    EXPECT_EQ(GetIniFileName(Program()), first);
    EXPECT_EQ(GetIniFileName(Path("bin/another")), first);
    EXPECT_FALSE(QFileInfo::exists(Path("elsewhere/Velmora")));
}

TEST_F(IniHelpTest, SetPathIsKeptUnchanged) {
    ScopedEnv appData("APPDATA", Folder("appdata"));
    SetIniFileName("../eigene/Einstellungen.INI");
    EXPECT_EQ(GetIniFileName(Program()), "../eigene/Einstellungen.INI");
    EXPECT_FALSE(QFileInfo::exists(Path("appdata/Velmora")));
}

TEST_F(IniHelpTest, ADotBelongsToTheProgramName) {
    ScopedEnv appData("APPDATA", Folder("appdata"));
    EXPECT_EQ(GetIniFileName(Path("bin/velmora.bin")),
              Path("appdata/Velmora/velmora.bin/velmora.bin.ini"));
}

TEST_F(IniHelpTest, FolderThatCannotBeMadeIsAnInputOutputError) {
    // APPDATA names a folder that is not there: only the two sub-folders are ever made.
    ScopedEnv appData("APPDATA", Path("missing").toLocal8Bit());
    try {
        GetIniFileName(Program());
        FAIL() << "no EInOutError";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Ordner " + Path("missing/Velmora") + " kann nicht angelegt werden");
    }
    EXPECT_FALSE(QFileInfo::exists(Path("missing")));
    // The file beside the program was remembered before the failure and is the answer now.
    EXPECT_EQ(GetIniFileName(Program()), Program() + ".ini");
}

} // namespace

// The settings file: names without case, first-written order, the whole-number rule for
// integers, 2047-character values, preserved foreign lines and encodings, refused writes that
// leave the file alone, and atomic replacement under SIGKILL.

#include "platform/IniFile.h"
#include "platform/Errors.h"
#include "tests/unit/platform/ini_writer_child.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

// Readable failure messages for Qt's strings.
void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << ::testing::PrintToString(bytes.toStdString());
}
void PrintTo(const QString& text, std::ostream* os) {
    *os << ::testing::PrintToString(text.toStdString());
}

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

mode_t Mode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString Path(const QString& name = QStringLiteral("velmora.ini")) const {
        return m_dir.filePath(name);
    }
    QTemporaryDir m_dir;
};

TEST_F(IniFileTest, FileWrittenFromScratchKeepsFirstWrittenOrder) {
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Source", "XDPI", 300), 300) << "no file: defaults";
    EXPECT_FALSE(ini.SectionExists("Window"));
    ini.WriteInteger("Window", "State", 0);
    ini.WriteInteger("Window", "Left", 261);
    ini.WriteInteger("Output", "Selected", 2);
    ini.WriteString("Output", "Title", "Velmora");
    ini.WriteString("Printer", "Name", "Farbdrucker");
    ini.WriteString("Fax", "Name", "Office-FAX");
    ini.WriteBool("Source", "AutoDPI", true);
    ini.WriteInteger("Source", "XDPI", 300);
    ini.WriteBool("Special", "Mustek", false);
    // A later key of an earlier section joins that section, not the end of the file.
    ini.WriteInteger("Window", "Top", 127);
    EXPECT_EQ(ReadBytes(Path()), "[Window]\nState=0\nLeft=261\nTop=127\n"
                                 "\n[Output]\nSelected=2\nTitle=Velmora\n"
                                 "\n[Printer]\nName=Farbdrucker\n"
                                 "\n[Fax]\nName=Office-FAX\n"
                                 "\n[Source]\nAutoDPI=1\nXDPI=300\n"
                                 "\n[Special]\nMustek=0\n");
}

TEST_F(IniFileTest, NamesCompareWithoutCase) {
    TIniFile ini(Path());
    ini.WriteString("Printer", "Name", "Farbdrucker");
    ini.WriteString("PRINTER", "name", "Laser");
    EXPECT_EQ(ini.ReadString("printer", "NAME", ""), "Laser");
    EXPECT_TRUE(ini.SectionExists("pRiNtEr"));
    EXPECT_TRUE(ini.ValueExists("PRINTER", "nAmE"));
    // One key, still spelt as first written.
    EXPECT_EQ(ReadBytes(Path()), "[Printer]\nName=Laser\n");
}

TEST_F(IniFileTest, IntegersFollowTheWholeNumberRule) {
    struct Case {
        const char* text;
        int expected;
    };
    const int def = -99;
    const Case cases[] = {
        {"42", 42},
        {"+7", 7},
        {"-15", -15},
        {"0x1F", 31},
        {"0X1f", 31},
        {"$1f", 31},
        {"-$10", -16},
        {"0x", def},
        {"$", def},
        {"0x1G", def},
        {"12abc", def},
        {"1.5", def},
        {"", def},
        {"-", def},
        {"\" 42\"", 42},  // leading blanks are allowed...
        {"\"42 \"", def}, // ...trailing ones are not
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", def},
        {"0x7FFFFFFF", INT_MAX},
        {"0x80000000", def},
        {"99999999999999999999", def},
    };
    QByteArray file = "[S]\n";
    for (std::size_t i = 0; i < std::size(cases); ++i)
        file += "K" + QByteArray::number(qulonglong(i)) + "=" + cases[i].text + "\n";
    WriteBytes(Path(), file);
    const TIniFile ini(Path());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text);
        EXPECT_EQ(ini.ReadInteger("S", QStringLiteral("K%1").arg(i), def), cases[i].expected);
    }
}

TEST_F(IniFileTest, BooleansAreIntegers) {
    WriteBytes(Path(), "[S]\nOne=1\nZero=0\nMinus=-1\nHex=$10\nWord=yes\n");
    const TIniFile ini(Path());
    for (const bool def : {false, true}) {
        EXPECT_TRUE(ini.ReadBool("S", "One", def));
        EXPECT_FALSE(ini.ReadBool("S", "Zero", def));
        EXPECT_TRUE(ini.ReadBool("S", "Minus", def));
        EXPECT_TRUE(ini.ReadBool("S", "Hex", def));
        EXPECT_EQ(ini.ReadBool("S", "Word", def), def);
        EXPECT_EQ(ini.ReadBool("S", "Missing", def), def);
    }
}

TEST_F(IniFileTest, TextValuesReadBackAsWritten) {
    const QString values[] = {
        "",   "Velmora",    " leading", "trailing ", "  both  ", "\"quoted\"",         "'single'",
        "\"", "a=b;c#d[e]", "Grüße €",  "0x1F",      "\tTab",    "with \"in\" quotes",
    };
    TIniFile ini(Path());
    for (const QString& v : values) {
        ini.WriteString("Output", "Title", v);
        EXPECT_EQ(ini.ReadString("Output", "Title", "-"), v);
    }
    // A line break would start a new line of the file.
    ini.WriteString("Output", "Title", "two\r\nlines");
    EXPECT_EQ(ini.ReadString("Output", "Title", ""), "two  lines");
    EXPECT_EQ(ReadBytes(Path()).count('\n'), 2);
}

TEST_F(IniFileTest, LongValuesAreCutAt2047Characters) {
    TIniFile ini(Path());
    ini.WriteString("S", "Long", QString(3000, 'x'));
    EXPECT_EQ(ini.ReadString("S", "Long", ""), QString(2047, 'x'));
    // The cut never leaves half of a character outside the basic plane.
    ini.WriteString("S", "Emoji", QString(2046, 'z') + QString::fromUtf8("😀"));
    EXPECT_EQ(ini.ReadString("S", "Emoji", ""), QString(2046, 'z'));
    // The whole value stays in the file.
    EXPECT_TRUE(ReadBytes(Path()).contains(QByteArray(3000, 'x')));
}

TEST_F(IniFileTest, HandWrittenFileKeepsEveryOtherLineByteForByte) {
    // CR LF endings, a Latin-1 title, comments, unknown keys, blanks around '=', a duplicate
    // section and a last line without line ending.
    const QByteArray original = "; Velmora\r\n"
                                "[Window]\r\n"
                                "Left = 100\r\n"
                                "Extra=unknown\r\n"
                                "\r\n"
                                "# printers\r\n"
                                "[Output]\r\n"
                                "Title=Kopie f\xFCr B\xFCro\r\n"
                                "[Window]\r\n"
                                "Left=5\r\n"
                                "Top=7";
    WriteBytes(Path(), original);
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Window", "Left", 0), 100) << "the first occurrence counts";
    EXPECT_EQ(ini.ReadInteger("Window", "Top", 0), 7);
    EXPECT_EQ(ini.ReadString("Output", "Title", ""), QString::fromUtf8("Kopie für Büro"));

    ini.WriteInteger("Window", "Left", 261);
    ini.WriteInteger("Window", "Height", 418);
    ini.WriteString("Special", "Mustek", "1");
    EXPECT_EQ(ReadBytes(Path()), "; Velmora\r\n"
                                 "[Window]\r\n"
                                 "Left = 261\r\n"
                                 "Extra=unknown\r\n"
                                 "Height=418\r\n"
                                 "\r\n"
                                 "# printers\r\n"
                                 "[Output]\r\n"
                                 "Title=Kopie f\xFCr B\xFCro\r\n"
                                 "[Window]\r\n"
                                 "Left=5\r\n"
                                 "Top=7\r\n"
                                 "\r\n"
                                 "[Special]\r\n"
                                 "Mustek=1\r\n");
}

TEST_F(IniFileTest, Latin1AndUtf8LinesLiveSideBySide) {
    WriteBytes(Path(), "[Output]\nTitle=Stra\xDF"
                       "e\n[Printer]\nName=B\xFCro\n");
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("Output", "Title", ""), QString::fromUtf8("Straße"));
    ini.WriteString("Fax", "Name", QString::fromUtf8("Büro-Fax"));
    ini.WriteString("Printer", "Name", QString::fromUtf8("Farbdrucker Süd"));
    EXPECT_EQ(ReadBytes(Path()), "[Output]\nTitle=Stra\xDF"
                                 "e\n"
                                 "[Printer]\nName=Farbdrucker S\xC3\xBC"
                                 "d\n"
                                 "\n[Fax]\nName=B\xC3\xBCro-Fax\n");
    EXPECT_EQ(ini.ReadString("Output", "Title", ""), QString::fromUtf8("Straße"));
    EXPECT_EQ(ini.ReadString("Fax", "Name", ""), QString::fromUtf8("Büro-Fax"));
    EXPECT_EQ(ini.ReadString("Printer", "Name", ""), QString::fromUtf8("Farbdrucker Süd"));
}

TEST_F(IniFileTest, DeleteKeyRemovesOnlyThatKey) {
    const QByteArray original = "[Printer]\nName=A\n; keep\nOther=1\n[Fax]\nName=B\n";
    WriteBytes(Path(), original);
    TIniFile ini(Path());
    ini.DeleteKey("printer", "NAME");
    EXPECT_FALSE(ini.ValueExists("Printer", "Name"));
    EXPECT_TRUE(ini.SectionExists("Printer"));
    EXPECT_EQ(ini.ReadString("Fax", "Name", ""), "B");
    EXPECT_EQ(ReadBytes(Path()), "[Printer]\n; keep\nOther=1\n[Fax]\nName=B\n");

    // Deleting what is not there writes nothing, so it succeeds even on a read-only file.
    ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0444), 0);
    ini.DeleteKey("Printer", "Name");
    ini.DeleteKey("Nowhere", "Name");
    EXPECT_EQ(ReadBytes(Path()), "[Printer]\n; keep\nOther=1\n[Fax]\nName=B\n");
    TIniFile(m_dir.filePath("missing/velmora.ini")).DeleteKey("Printer", "Name");
}

TEST_F(IniFileTest, RefusedWritesRaiseAndLeaveTheFileAlone) {
    const QByteArray original = "[Window]\nLeft=1\n";
    struct Case {
        const char* what;
        QString path;
        mode_t fileMode;   // 0 = no file
        mode_t folderMode; // 0 = no folder
    };
    const Case cases[] = {
        {"read-only file", Path("a/velmora.ini"), 0444, 0755},
        {"file without any write bit, writable folder", Path("b/velmora.ini"), 0400, 0777},
        {"read-only folder", Path("c/velmora.ini"), 0644, 0555},
        {"missing folder", Path("d/velmora.ini"), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = QFileInfo(c.path).absolutePath();
        if (c.folderMode) {
            ASSERT_TRUE(QDir().mkpath(folder));
            if (c.fileMode) {
                WriteBytes(c.path, original);
                ASSERT_EQ(::chmod(QFile::encodeName(c.path).constData(), c.fileMode), 0);
            }
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.folderMode), 0);
        }
        TIniFile ini(c.path);
        try {
            // Even a write that would change nothing is refused.
            ini.WriteInteger("Window", "Left", 1);
            ADD_FAILURE() << "no error";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.Message(), "In " + c.path + " kann nicht geschrieben werden");
        }
        EXPECT_THROW(ini.WriteInteger("Window", "Left", 2), EIniFileException);
        // A deletion writes only when there is something to delete.
        if (c.fileMode)
            EXPECT_THROW(ini.DeleteKey("Window", "Left"), EIniFileException);
        else
            EXPECT_NO_THROW(ini.DeleteKey("Window", "Left"));
        if (c.fileMode) {
            EXPECT_EQ(ReadBytes(c.path), original);
            EXPECT_EQ(Mode(c.path), c.fileMode);
        } else {
            EXPECT_FALSE(QFile::exists(c.path));
        }
        if (c.folderMode)
            EXPECT_EQ(QDir(folder)
                          .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                          .size(),
                      c.fileMode ? 1 : 0)
                << "no temporary file left behind";
        else
            EXPECT_FALSE(QFileInfo::exists(folder));
        if (c.folderMode)
            ::chmod(QFile::encodeName(folder).constData(), 0755);
    }
}

TEST_F(IniFileTest, ReplacementKeepsPermissionsAndSymbolicLinks) {
    WriteBytes(Path("real.ini"), "[Window]\nLeft=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(Path("real.ini")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(Path("real.ini"), Path("link.ini")));
    TIniFile(Path("link.ini")).WriteInteger("Window", "Left", 2);
    EXPECT_TRUE(QFileInfo(Path("link.ini")).isSymLink());
    EXPECT_EQ(ReadBytes(Path("real.ini")), "[Window]\nLeft=2\n");
    EXPECT_EQ(Mode(Path("real.ini")), mode_t(0600));
}

// Kills a writer process at random moments. After every kill the file must be absent (nothing
// written yet) or parse completely, hold exactly keys 0 … n-1 with their full values, and n must
// be the number of writes the child reported finished, or one more (the write in flight had
// renamed its file but not yet reported).
TEST_F(IniFileTest, KilledWriterLeavesAPrefixOfItsWrites) {
    constexpr int Kills = 200;
    constexpr int KeysPerChild = 100000;
    std::mt19937 random(20260101);
    std::uniform_int_distribution<int> delayUs(0, 12000);
    int killedMidway = 0;
    for (int round = 0; round < Kills; ++round) {
        SCOPED_TRACE(round);
        const QString folder = m_dir.filePath(QStringLiteral("kill%1").arg(round));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/velmora.ini");

        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const QByteArray pathBytes = QFile::encodeName(path);
        const QByteArray count = QByteArray::number(KeysPerChild);
        char* const argv[] = {const_cast<char*>(INI_WRITER_CHILD),
                              const_cast<char*>(pathBytes.constData()),
                              const_cast<char*>(count.constData()), nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, INI_WRITER_CHILD, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);

        // Every other round waits for the first finished write, so that a slow start (a
        // sanitizer build, a busy machine) cannot make all kills land before the first write.
        int reported = 0;
        char buffer[4096];
        if (round % 2 == 1) {
            pollfd ready{out[0], POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 10000), 1);
            ASSERT_EQ(::read(out[0], buffer, 1), 1);
            reported = 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended before it was killed";
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;)
            if (n > 0)
                reported += int(n);
        ::close(out[0]);

        if (!QFile::exists(path)) {
            ASSERT_EQ(reported, 0) << "a finished write left no file";
            continue;
        }
        const QByteArray bytes = ReadBytes(path);
        ASSERT_FALSE(bytes.isEmpty());
        ASSERT_TRUE(bytes.endsWith('\n')) << "torn file";
        const int written = int(bytes.count("\nK"));
        ASSERT_TRUE(written == reported || written == reported + 1)
            << written << " keys in the file, " << reported << " writes reported";
        const TIniFile ini(path);
        for (int i = 0; i < written; ++i)
            ASSERT_EQ(ini.ReadString(IniWriterSection(i), IniWriterKey(i), {}), IniWriterValue(i))
                << "key " << i;
        ASSERT_FALSE(ini.ValueExists(IniWriterSection(written), IniWriterKey(written)));
        // At most the one write in flight can have left its temporary file.
        EXPECT_LE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);
        if (written > 0)
            ++killedMidway;
    }
    // Most kills must land while the child is writing, or the test proves little.
    EXPECT_GE(killedMidway, Kills / 2);
}

} // namespace

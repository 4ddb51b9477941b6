// Version information read back from this test program's own executable, which carries a
// version section made by velmora_add_version_resource() with product version 1.0.0.12, file
// version 2.3.4.5, a German and an English string table (see tests/unit/CMakeLists.txt).

#include "app/VersionInfo.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failure messages for Qt's strings.
void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << ::testing::PrintToString(bytes.toStdString());
}
void PrintTo(const QString& text, std::ostream* os) {
    *os << ::testing::PrintToString(text.toStdString());
}

namespace {

const QString German = QString::fromUtf8("Ein Prüfprogramm für Velmoras Versionsangaben.");
const QString English = QStringLiteral("A test program for Velmora's version information.");

QString Self() {
    return RunningProgramPath();
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

TEST(VersionInfoTest, VersionNumbersOfThisProgram) {
    VS_FIXEDFILEINFO info{};
    ASSERT_TRUE(ReadFixedFileInfo(Self(), info));
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwProductVersionMS, 1u << 16 | 0u);
    EXPECT_EQ(info.dwProductVersionLS, 0u << 16 | 12u);
    EXPECT_EQ(VersionNumberText(Self(), 2), "1.0.0.12");
    EXPECT_EQ(VersionNumberText(Self(), 1), "2.3.4.5");
    for (int which : {0, 3, -1})
        EXPECT_EQ(VersionNumberText(Self(), which), "") << which;
    EXPECT_EQ(ProductVersionText(), "1.0.0.12");
}

TEST(VersionInfoTest, NamedStringsByLanguage) {
    struct Case {
        const char* language;
        const char* name;
        QString expected;
    };
    const Case cases[] = {
        {"", "Comments", German},
        {"040704E4", "Comments", German},
        {"040704e4", "COMMENTS", German},
        {"", "LegalCopyright", QString::fromUtf8("© 2026 Velmora-Entwickler")},
        {"040904E4", "Comments", English},
        {"040904E4", "LegalCopyright", ""}, // only in the German table
        {"041004E4", "Comments", ""},       // no such table
        {"", "ProductName", ""},
        {"", "", ""},
        {"0407", "Comments", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.language) + "/" + c.name);
        EXPECT_EQ(VersionInfoString(c.language, c.name), c.expected);
    }
}

TEST(VersionInfoTest, FilesWithoutUsableVersionInformation) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray self = ReadBytes(Self());
    ASSERT_TRUE(self.startsWith("\x7F"
                                "ELF\x02\x01"))
        << "offsets below are ELF64 LSB";
    // A copy whose section header table (offset at byte 0x28) lies beyond the end of the file.
    QByteArray damaged = self;
    const quint64 beyond = quint64(self.size()) + 1000;
    for (int i = 0; i < 8; ++i)
        damaged[0x28 + i] = char(beyond >> (8 * i));
    WriteBytes(dir.filePath("damaged"), damaged);
    WriteBytes(dir.filePath("half"), self.left(self.size() / 2));
    WriteBytes(dir.filePath("text.txt"), "[Window]\nLeft=1\n");
    WriteBytes(dir.filePath("empty"), "");
    WriteBytes(dir.filePath("copy"), self);

    const QString files[] = {
        QStringLiteral("/bin/true"),
        dir.filePath("damaged"),
        dir.filePath("half"),
        dir.filePath("text.txt"),
        dir.filePath("empty"),
        dir.filePath("missing"),
        dir.path(),
        QString(),
    };
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        VS_FIXEDFILEINFO info{};
        EXPECT_FALSE(ReadFixedFileInfo(file, info));
        EXPECT_EQ(VersionNumberText(file, 2), "");
        EXPECT_EQ(FileVersionInfoString(file, "", "Comments"), "");
    }
    // The undamaged copy reads, so the failures above come from the files themselves.
    EXPECT_EQ(VersionNumberText(dir.filePath("copy"), 2), "1.0.0.12");
    EXPECT_EQ(FileVersionInfoString(dir.filePath("copy"), "", "Comments"), German);
}

TEST(VersionInfoTest, PathsAreCutAt255Characters) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A copy of this program at the end of a path of more than 255 characters is not found,
    // because the path is cut first.
    QString folder = dir.path();
    while (folder.size() < 260)
        folder += QLatin1Char('/') + QString(40, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString longPath = folder + QStringLiteral("/velmora");
    ASSERT_TRUE(QFile::copy(Self(), longPath));
    EXPECT_EQ(VersionNumberText(longPath, 2), "");
    // A path of exactly 255 characters is still whole.
    const QString shortFolder = dir.path() + QLatin1Char('/');
    const QString exact = shortFolder + QString(255 - shortFolder.size(), QLatin1Char('v'));
    ASSERT_EQ(exact.size(), 255);
    ASSERT_TRUE(QFile::copy(Self(), exact));
    EXPECT_EQ(VersionNumberText(exact, 2), "1.0.0.12");
}

} // namespace

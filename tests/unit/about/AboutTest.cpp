// The widget-free parts of the about box: the system figures from the kernel's memory
// report, the texts the box shows, the program file's time stamp and the extra text pages.

#include "about/AboutText.h"
#include "about/InfoAdd.h"
#include "about/SysComp.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

void PrintTo(const QString& text, std::ostream* os) {
    *os << ::testing::PrintToString(text.toStdString());
}

namespace {

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
constexpr std::uint64_t GiB = 1024 * MiB;

const QString Bits = QStringLiteral(" %1-Bit").arg(int(sizeof(void*) * 8));

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

TEST(MemInfo, FiguresFromTheKernelReport) {
    struct Case {
        const char* what;
        QByteArray text;
        std::uint64_t availPhys, availSwap;
        int load;
    };
    const Case cases[] = {
        {"MemAvailable is the available memory",
         "MemTotal:        8000000 kB\nMemFree:         1000000 kB\nMemAvailable:    6000000 kB\n"
         "Buffers:          100000 kB\nCached:          2000000 kB\nSwapTotal:       2097152 kB\n"
         "SwapFree:        1048576 kB\n",
         6000000 * KiB, 1 * GiB, 25},
        {"old kernels: free memory plus buffers and page cache",
         "MemTotal:        1000 kB\nMemFree:          100 kB\nBuffers:           50 kB\n"
         "Cached:           200 kB\n",
         350 * KiB, 0, 65},
        {"figures beyond 32 bits are kept whole",
         "MemTotal:       67108864 kB\nMemAvailable:   50331648 kB\nSwapTotal:      16777216 kB\n"
         "SwapFree:       16777216 kB\n",
         48 * GiB, 16 * GiB, 25},
        {"field order and spacing do not matter; no swap",
         "SwapFree: 0 kB\nMemAvailable:\t0 kB\nMemTotal: 4096 kB\n", 0, 0, 100},
        {"available above the total is cut to the total",
         "MemTotal: 100 kB\nMemAvailable: 200 kB\n", 100 * KiB, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto status = ParseMemInfo(c.text);
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(status->AvailPhys, c.availPhys);
        EXPECT_EQ(status->AvailPageFile, c.availSwap);
        EXPECT_EQ(status->MemoryLoad, c.load);
    }
    EXPECT_FALSE(ParseMemInfo("MemFree: 100 kB\n").has_value());
    EXPECT_FALSE(ParseMemInfo("MemTotal: 0 kB\nMemFree: 0 kB\n").has_value());
    EXPECT_FALSE(ParseMemInfo("").has_value());
}

TEST(MemInfo, TSystemReadsTheFileAnewOnEveryAccess) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("meminfo");
    ASSERT_TRUE(WriteFile(file, "MemTotal: 2097152 kB\nMemAvailable: 1572864 kB\n"
                                "SwapFree: 524288 kB\n"));
    TSystem system(nullptr, file);
    EXPECT_EQ(FreeMemoryText(system.AvailPhysMemory(), system.AvailPageFile()),
              QStringLiteral("2048.00 Mb"));
    EXPECT_EQ(system.MemoryLoad(), 25);

    ASSERT_TRUE(WriteFile(file, "MemTotal: 2097152 kB\nMemAvailable: 1048576 kB\n"));
    EXPECT_EQ(system.AvailPhysMemory(), 1 * GiB);
    EXPECT_EQ(system.AvailPageFile(), 0u);
    EXPECT_EQ(system.MemoryLoad(), 50);

    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(system.AvailPhysMemory(), 0u);
    EXPECT_EQ(system.MemoryLoad(), 0);
}

TEST(MemInfo, TSystemAgreesWithTheKernel) {
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    ASSERT_TRUE(meminfo.open(QIODevice::ReadOnly));
    const auto kernel = ParseMemInfo(meminfo.readAll());
    ASSERT_TRUE(kernel.has_value());
    TSystem system;
    // The figures move between the two reads; a few percent of the total is plenty.
    const double slack = double(kernel->TotalPhys) * 0.05;
    EXPECT_NEAR(double(system.AvailPhysMemory()), double(kernel->AvailPhys), slack);
    EXPECT_NEAR(double(system.AvailPageFile()), double(kernel->AvailPageFile), slack);
    EXPECT_GT(system.AvailPhysMemory(), 0u);
    EXPECT_NEAR(system.MemoryLoad(), kernel->MemoryLoad, 5);
}

TEST(SystemClock, MeasuredInTheBackground) {
#if defined(__x86_64__) || defined(__i386__)
    TSystem system;
    // The first call only starts the measurement: nothing is known yet.
    EXPECT_EQ(system.Mhz(), -1);
    double mhz = -1;
    for (int i = 0; i < 100 && mhz <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        mhz = system.Mhz();
    }
    EXPECT_GT(mhz, 100.0);
    EXPECT_LT(mhz, 20000.0);
#else
    GTEST_SKIP() << "no time-stamp counter on this processor";
#endif
}

TEST(AboutText, FreeMemory) {
    EXPECT_EQ(FreeMemoryText(3 * GiB / 2, GiB / 2), QStringLiteral("2048.00 Mb"));
    EXPECT_EQ(FreeMemoryText(0, 0), QStringLiteral("0.00 Mb"));
    EXPECT_EQ(FreeMemoryText(5 * MiB + MiB / 100 + 1, 0), QStringLiteral("5.01 Mb"));
    // Well beyond the 4 GiB a 32-bit figure could hold.
    EXPECT_EQ(FreeMemoryText(48 * GiB, 16 * GiB + MiB / 4), QStringLiteral("65536.25 Mb"));
}

TEST(AboutText, VersionLine) {
    EXPECT_EQ(AboutVersionLine(QStringLiteral("Version"), QStringLiteral("1.4.0.7")),
              QStringLiteral("Version 1.4.0.7 (6)") + Bits);
    // No version information: the number is left out, the blanks stay.
    EXPECT_EQ(AboutVersionLine(QStringLiteral("Version"), QString()),
              QStringLiteral("Version  (6)") + Bits);
}

TEST(AboutText, LinkTarget) {
    const struct {
        const char* caption;
        const char* target;
    } cases[] = {
        {"http://www.velmora.example.org", "http://www.velmora.example.org"},
        {"HTTP://www.velmora.example.org", "HTTP://www.velmora.example.org"},
        {"hTtP://Velmora.example.org/faq", "hTtP://Velmora.example.org/faq"},
        {"https://www.velmora.example.org", "https://www.velmora.example.org"},
        {"HTTPS://www.velmora.example.org", "HTTPS://www.velmora.example.org"},
        {"www.velmora.example.org", "http://www.velmora.example.org"},
        {"http:/www.velmora.example.org", "http://http:/www.velmora.example.org"},
        {"", "http://"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LinkTarget(QString::fromLatin1(c.caption)), QString::fromLatin1(c.target))
            << c.caption;
}

TEST(AboutText, MailAddressWithSubject) {
    const QUrl url = SupportMailUrl(QStringLiteral("velmora-support@example.org"),
                                    QStringLiteral("Velmora"), QStringLiteral("1.4.0.7"));
    EXPECT_EQ(
        url.toString(QUrl::FullyEncoded),
        QStringLiteral("mailto:velmora-support@example.org?subject=Velmora:%20Version%201.4.0.7"));
    EXPECT_EQ(url.scheme(), QStringLiteral("mailto"));
}

TEST(AboutText, Mhz) {
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(MhzText(2893.456, german), QStringLiteral("2893,50"));
    EXPECT_EQ(MhzText(2893.456, english), QStringLiteral("2893.50"));
    // Five significant digits, no digit grouping.
    EXPECT_EQ(MhzText(12345.678, german), QStringLiteral("12346,00"));
    EXPECT_EQ(MhzText(999.996, german), QStringLiteral("1000,00"));
    EXPECT_EQ(MhzText(0.0, german), QStringLiteral("0,00"));
    EXPECT_EQ(MhzText(-1.0, german), QString());
    EXPECT_EQ(MhzText(std::nan(""), german), QString());
}

TEST(AboutText, TimeStamp) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("velmora");
    ASSERT_TRUE(WriteFile(path, "x"));
    const QDateTime written(QDate(2026, 12, 8), QTime(23, 56, 55));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(written, QFileDevice::FileModificationTime));
    }
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(TimeStampText(path, TDisplay::dtString, german),
              QStringLiteral("08.12.2026 23:56:55"));
    EXPECT_EQ(FileAge(path), written.toSecsSinceEpoch());
    EXPECT_EQ(TimeStampText(path, TDisplay::dtNumber, german),
              QString::number(written.toSecsSinceEpoch()));
    // Some other locale: its own order, still a four-digit year and seconds.
    const QString us =
        TimeStampText(path, TDisplay::dtString, QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.contains(QStringLiteral("2026"))) << us.toStdString();
    EXPECT_TRUE(us.contains(QStringLiteral(":56:55"))) << us.toStdString();

    EXPECT_EQ(FileAge(dir.filePath("fehlt")), -1);
    EXPECT_EQ(TimeStampText(dir.filePath("fehlt"), TDisplay::dtString, german), QString());
    EXPECT_EQ(TimeStampText(dir.filePath("fehlt"), TDisplay::dtNumber, german), QString());
}

TEST(InfoAdds, SeventeenParagraphsOneOfThemALink) {
    const TInfoAdds& list = ApplicationInfoAdds();
    EXPECT_EQ(&list, &ApplicationInfoAdds());
    ASSERT_EQ(list.Count(), 17);
    int links = 0;
    for (const QString& text : list.Paragraphs()) {
        EXPECT_GE(text.size(), 60) << text.toStdString();
        EXPECT_EQ(text, text.trimmed());
        if (!InfoTextLink(text).isEmpty())
            ++links;
    }
    EXPECT_EQ(links, 1);
    // The page list syntax the print command really accepts.
    EXPECT_TRUE(list.Paragraphs().filter(QStringLiteral("1,3-5")).size() == 1);
}

TEST(InfoAdds, LinkRule) {
    EXPECT_EQ(InfoTextLink(QStringLiteral("Mehr unter www.velmora.example.org.")),
              QStringLiteral("http://www.velmora.example.org/"));
    EXPECT_EQ(InfoTextLink(QStringLiteral("Mehr unter WWW.Velmora.Example.org")),
              QStringLiteral("http://www.velmora.example.org/"));
    EXPECT_EQ(InfoTextLink(QStringLiteral("Kein Verweis hier.")), QString());
}

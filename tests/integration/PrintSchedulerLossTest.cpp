// Printing when the scheduler goes away in the middle of a job of several copies. The test owns
// a scheduler of its own (the test environment's one must live on for the other tests), points
// this process at it before anything asks for printers, and stops it between two copies.

#include "layout/Graphic.h"
#include "layout/PicObj.h"
#include "output/PrintJob.h"
#include "output/Printer.h"
#include "platform/Errors.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <pwd.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString g_dir;      // the scheduler's folder
qint64 g_cupsd = 0; // its process

bool WriteFile(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0;
}

int Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(20000) ? p.exitCode() : -1;
}

// Starts a scheduler in `dir` with one file: queue "Verlust" writing into dir/out.
bool StartScheduler(const QString& dir) {
    const QDir d(dir);
    for (const char* sub : {"etc/ppd", "spool/tmp", "cache", "run", "sock", "log", "out"})
        d.mkpath(QString::fromLatin1(sub));
    // Like the test environment's scheduler, it serves the tester and root alone: it runs as
    // root in CI and writes file: queues as root.
    QFile::setPermissions(dir + "/sock", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const passwd* me = getpwuid(getuid());
    if (!me)
        return false;
    const QString user = QString::fromLocal8Bit(me->pw_name);
    const QString files = QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\n"
                                         "TempDir %1/spool/tmp\nCacheDir %1/cache\n"
                                         "StateDir %1/run\nAccessLog %1/log/access_log\n"
                                         "ErrorLog %1/log/error_log\nPageLog %1/log/page_log\n"
                                         "Printcap %1/etc/printcap\nFileDevice Yes\n"
                                         "SystemGroup root\nLogFileGroup root\n")
                              .arg(dir);
    const QString conf =
        QStringLiteral("Listen %1/sock/cups.sock\nLogLevel info\nBrowsing No\n"
                       "BrowseLocalProtocols none\nWebInterface No\nDefaultShared No\n"
                       "ErrorPolicy abort-job\n<Location />\n  AuthType Default\n"
                       "  Require user %2 root\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Location /admin>\n  AuthType Default\n  Require user %2 root\n"
                       "  Order allow,deny\n  Allow all\n</Location>\n<Policy default>\n"
                       "  <Limit All>\n    AuthType Default\n    Require user %2 root\n"
                       "    Order deny,allow\n  </Limit>\n</Policy>\n")
            .arg(dir, user);
    if (!WriteFile(dir + "/etc/cups-files.conf", files) ||
        !WriteFile(dir + "/etc/cupsd.conf", conf))
        return false;
    // The scheduler's filters run as an unprivileged user and must reach the output folder.
    for (QString p = dir; p.size() > 1; p = QFileInfo(p).path())
        QFile::setPermissions(p, QFile::permissions(p) | QFile::ExeOther | QFile::ReadOther);
    QFile::setPermissions(dir + "/out", QFile::permissions(dir + "/out") | QFile::WriteOther);
    if (!QProcess::startDetached(
            "cupsd", {"-f", "-c", dir + "/etc/cupsd.conf", "-s", dir + "/etc/cups-files.conf"},
            QString(), &g_cupsd))
        return false;
    qputenv("CUPS_SERVER", (dir + "/sock/cups.sock").toLocal8Bit());
    QElapsedTimer t;
    t.start();
    while (Run("lpstat", {"-r"}) != 0) {
        if (t.elapsed() > 30000) {
            QFile log(dir + "/log/error_log");
            log.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "scheduler did not start:\n%s\n", log.readAll().constData());
            return false;
        }
        QThread::msleep(100);
    }
    // A scheduler that has just started answers lpstat, yet may still drop the first
    // connections of a client ("Unable to connect to server: Bad file descriptor"): try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (Run("lpadmin",
                {"-p", "Verlust", "-E", "-v", "file://" + dir + "/out/verlust.pdf", "-m",
                 "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd", "-o", "PageSize=A4"}) == 0 &&
            Run("lpadmin", {"-d", "Verlust"}) == 0)
            return true;
        QThread::msleep(250);
    }
    return false;
}

void StopScheduler() {
    if (g_cupsd > 0) {
        ::kill(static_cast<pid_t>(g_cupsd), SIGTERM);
        for (int i = 0; i < 100 && ::kill(static_cast<pid_t>(g_cupsd), 0) == 0; ++i) {
            ::waitpid(static_cast<pid_t>(g_cupsd), nullptr, WNOHANG);
            QThread::msleep(50);
        }
        g_cupsd = 0;
    }
}

} // namespace

// A one-picture record laid out on the selected printer.
struct Copy {
    TPrinterProperties device;
    TPicProperties pic{&device};
};

void LayOut(Copy& c) {
    auto bmp = std::make_unique<TBitmap>();
    QImage img(300, 300, QImage::Format_RGB888);
    img.fill(Qt::black);
    bmp->SetImage(img);
    c.pic.Picture.SetGraphic(std::move(bmp));
    c.pic.ScannerDPI = {300, 300};
    TPrinter& printer = TPrinter::Printer();
    printer.SetPrinterIndex(0);
    const TDeviceFigures f = printer.Figures();
    c.device.PrnAreaWidth = f.AreaWidth;
    c.device.PrnAreaHeight = f.AreaHeight;
    c.device.PrnDPI = {f.DpiX, f.DpiY};
}

int CompletedJobs() {
    QProcess p;
    p.start("lpstat", {"-W", "completed", "-o", "Verlust"});
    p.waitForFinished(10000);
    return static_cast<int>(
        QString::fromLocal8Bit(p.readAll()).split('\n', Qt::SkipEmptyParts).size());
}

// Runs first, while the scheduler is still there.
TEST(PrintSchedulerLoss, StoppingBetweenPagesAbandonsTheDocumentInProgress) {
    if (qEnvironmentVariableIsEmpty("VELMORA_TEST_TMP"))
        GTEST_SKIP() << "needs the test environment of scripts/testenv.sh";
    ASSERT_FALSE(g_dir.isEmpty()) << "the test's own scheduler did not start";
    Copy c;
    LayOut(c);
    TPrinter& printer = TPrinter::Printer();
    printer.SetTitle(QStringLiteral("Velmora 1"));
    const bool completed =
        PrintCopies(printer, {&c.pic, &c.pic}, 3, [](int copy, int, int page, int) {
            return !(copy == 2 && page == 2); // "Abbrechen"
        });
    EXPECT_FALSE(completed);
    EXPECT_FALSE(printer.Printing());
    // The first copy was printed, the second abandoned, the third never begun.
    QElapsedTimer t;
    t.start();
    while (CompletedJobs() < 1 && t.elapsed() < 20000)
        QThread::msleep(50);
    QThread::msleep(500);
    EXPECT_EQ(CompletedJobs(), 1);
}

TEST(PrintSchedulerLoss, RemainingCopiesAreNotPrintedAndTheErrorIsRaised) {
    if (qEnvironmentVariableIsEmpty("VELMORA_TEST_TMP"))
        GTEST_SKIP() << "needs the test environment of scripts/testenv.sh";
    ASSERT_FALSE(g_dir.isEmpty()) << "the test's own scheduler did not start";
    Copy c;
    LayOut(c);
    TPrinter& printer = TPrinter::Printer();
    printer.SetTitle(QStringLiteral("Velmora 2"));

    int pagesAsked = 0;
    QElapsedTimer t;
    t.start();
    EXPECT_THROW(PrintCopies(printer, {&c.pic, &c.pic}, 3,
                             [&](int copy, int, int page, int) {
                                 ++pagesAsked;
                                 if (copy == 2 && page == 1)
                                     StopScheduler(); // gone while the second copy is built
                                 return true;
                             }),
                 EPrinter);
    EXPECT_LT(t.elapsed(), 30000);
    // The second copy was begun and ended; the third was never started.
    EXPECT_EQ(pagesAsked, 4);
    EXPECT_FALSE(printer.Printing());
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir dir(qEnvironmentVariable("VELMORA_TEST_TMP", QDir::tempPath()) +
                      "/velmora-loss-XXXXXX");
    if (qEnvironmentVariableIsSet("VELMORA_TEST_TMP") && dir.isValid() &&
        StartScheduler(dir.path()))
        g_dir = dir.path();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    StopScheduler();
    return result;
}

// The printer device when no scheduler can be reached. libcups and Qt read CUPS_SERVER once per
// process, so this runs as a program of its own that points it at a socket nobody listens on
// before anything asks for printers.

#include "output/Printer.h"
#include "platform/Errors.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kNoDefault = QStringLiteral(u"Zur Zeit ist kein Standarddrucker gewählt");

QString PrinterErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EPrinter& e) {
        return e.Message();
    }
    return QString();
}

bool g_skip = false;
QByteArray g_scheduler; // the test environment's own scheduler

// lpadmin on the test environment's scheduler, which this process cannot see.
int Lpadmin(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CUPS_SERVER", QString::fromLocal8Bit(g_scheduler));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start("lpadmin", args);
    return p.waitForFinished(10000) ? p.exitCode() : -1;
}

TEST(PrinterNoServer, EmptyListAndNoDefaultWithoutWaiting) {
    if (g_skip)
        GTEST_SKIP() << "needs the private test environment of scripts/testenv.sh";
    // A default printer exists, but only on a scheduler this process does not reach.
    const QString out = qEnvironmentVariable("VELMORA_TEST_OUT");
    ASSERT_EQ(Lpadmin({"-p", "Farbdrucker", "-E", "-v", "file://" + out + "/farbdrucker.pdf"}), 0);
    ASSERT_EQ(Lpadmin({"-d", "Farbdrucker"}), 0);

    TPrinter& printer = TPrinter::Printer();
    QElapsedTimer t;
    t.start();

    EXPECT_TRUE(printer.Printers().isEmpty());
    EXPECT_EQ(printer.IndexOf("Farbdrucker"), -1);
    EXPECT_EQ(PrinterErrorOf([&] { printer.PrinterIndex(); }), kNoDefault);
    EXPECT_EQ(PrinterErrorOf([&] { printer.SetPrinterIndex(0); }), kNoDefault);
    EXPECT_EQ(PrinterErrorOf([&] { printer.Figures(); }), kNoDefault);
    EXPECT_EQ(PrinterErrorOf([&] { printer.BeginDoc(); }), kNoDefault);
    EXPECT_FALSE(printer.Printing());
    printer.Reset();
    EXPECT_TRUE(printer.Printers().isEmpty());

    EXPECT_LT(t.elapsed(), 3000) << "a missing scheduler must not stall the program";
    Lpadmin({"-x", "Farbdrucker"});
}

} // namespace

int main(int argc, char** argv) {
    // Only inside the test environment: elsewhere a default printer of the user's own
    // settings (~/.cups/lpoptions) could name a printer.
    const QByteArray tmp = qgetenv("VELMORA_TEST_TMP");
    g_skip = qEnvironmentVariableIsEmpty("CUPS_SERVER") || tmp.isEmpty();
    if (!g_skip) {
        g_scheduler = qgetenv("CUPS_SERVER");
        qputenv("CUPS_SERVER", tmp + "/no-scheduler/cups.sock");
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

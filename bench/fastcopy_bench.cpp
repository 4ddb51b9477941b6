// What a fast copy costs: "Schnellkopie" on the real window (offscreen) with SANE's test scanner
// feeding A4 colour sheets at 300 dpi, every page printed to a CUPS file: queue, against
// `scanimage --batch` of the same sheets with the same options in the same run. Prints the
// time to the third job accepted and to the end of the command, the scan alone, their ratios,
// and the peak memory above the idle window in units of one page's raw pixel bytes, at the third
// job and at the end, in all and above the pictures the copy keeps by then.
//   fastcopy_bench [delay]
// With a delay (microseconds, 1000..200000) the test scanner is held back after every block it
// reads, which makes it as slow as a real one; both runs use the same options for scanimage.
//   fastcopy_bench escl
// scans from the driverless test scanner (tests/support/escl-scanner.py through sane-airscan)
// that SANE_CONFIG_DIR announces instead, its feeder holding three sheets.
// Needs the private scheduler and SANE configuration of scripts/testenv.sh: run
// bench/fastcopy_bench.sh or bench/escl_fastcopy_bench.sh.

#include "app/MainForm.h"
#include "app/VelmoraApplication.h"
#include "layout/PicObj.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const QString Queue = QStringLiteral("Bench-Kopie");
constexpr double PageBytes = 2480.0 * 3508 * 3; // A4 at 300 dpi, 24-bit

int Run(const QString& program, const QStringList& args, int timeoutMs = 60000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    p.waitForFinished(timeoutMs);
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// scanimage with `args`, timed in ms. SANE's test backend now and then never ends a page (its
// reader thread is cancelled inside free()); such a run is given up after `timeoutMs`, counted
// in `hangs` and repeated.
double TimedScan(const QStringList& args, int& hangs, int timeoutMs = 30000) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral("scanimage"), args);
        if (p.waitForFinished(timeoutMs))
            return t.nsecsElapsed() / 1e6;
        p.kill();
        p.waitForFinished(5000);
        ++hangs;
    }
    return -1;
}

// Resident memory of this process in bytes: now ("VmRSS") or its peak ("VmHWM").
double Memory(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(static_cast<int>(qstrlen(key)) + 1)
                       .trimmed()
                       .split(' ')
                       .value(0)
                       .toDouble() *
                   1024.0;
    return 0;
}

// The peak is counted from here on.
void ResetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Each print of the fast copy runs inside its own progress box, a child of the window that
// goes when the job has been accepted: its end marks the job.
class JobClock final : public QObject {
public:
    JobClock(const QElapsedTimer& clock, const TMainForm& form) : m_clock(clock), m_form(form) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ChildAdded && event->type() != QEvent::ChildRemoved)
            return false;
        // A child that is going is a mere QObject by the time its removal is told.
        auto* child = static_cast<QChildEvent*>(event)->child();
        if (event->type() == QEvent::ChildAdded && child->isWidgetType())
            m_boxes.insert(child);
        else if (event->type() == QEvent::ChildRemoved && m_boxes.remove(child)) {
            Ends.push_back(m_clock.nsecsElapsed() / 1e6);
            Peaks.push_back(Memory("VmHWM:"));
            Kept.push_back(static_cast<int>(m_form.PicRecords.size()));
        }
        return false;
    }
    std::vector<double> Ends;
    std::vector<double> Peaks; // the process's peak memory when each job was accepted
    std::vector<int> Kept;     // the pictures the window holds by then

private:
    const QElapsedTimer& m_clock;
    const TMainForm& m_form;
    QSet<QObject*> m_boxes;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("CUPS_SERVER") ||
        qEnvironmentVariableIsEmpty("SANE_CONFIG_DIR")) {
        std::fprintf(stderr,
                     "fastcopy_bench: needs scripts/testenv.sh; run bench/fastcopy_bench.sh\n");
        return 1;
    }
    const bool escl = argc > 1 && QByteArray(argv[1]) == "escl";
    const int delay = argc > 1 && !escl ? std::atoi(argv[1]) : 0;
    const QString device =
        escl ? QStringLiteral("airscan:e0:Velmora Testscanner") : QStringLiteral("test:0");
    const QString feeder =
        escl ? QStringLiteral("ADF") : QStringLiteral("Automatic Document Feeder");
    QTemporaryDir dir;
    if (delay > 0) {
        // The test scanner's own defaults, so that scanimage and Velmora both scan held back.
        const QString from = qEnvironmentVariable("SANE_CONFIG_DIR");
        const QString to = dir.filePath("sane");
        QDir().mkpath(to);
        QFile::copy(from + "/dll.conf", to + "/dll.conf");
        QFile in(from + "/test.conf");
        QFile out(to + "/test.conf");
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "fastcopy_bench: no test.conf in %s\n", qPrintable(from));
            return 1;
        }
        for (const QByteArray& line : in.readAll().split('\n'))
            if (!line.startsWith("read-"))
                out.write(line + '\n');
        out.write("read-limit true\nread-limit-size 65536\nread-delay true\n"
                  "read-delay-duration " +
                  QByteArray::number(delay) + "\n");
        out.close();
        qputenv("SANE_CONFIG_DIR", QFile::encodeName(to));
    }
    // The bridge scans the way its dialog was left: the feeder, in colour.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    QDir().mkpath(dir.filePath("config/velmora/sane-options"));
    {
        QFile options(dir.filePath("config/velmora/sane-options/" + device));
        options.open(QIODevice::WriteOnly);
        options.write("source=" + feeder.toUtf8() + "\nmode=Color\nresolution=300\n");
    }
    qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
    qputenv("VELMORA_TWAIN_SOURCES", SANE_SOURCES);

    // The window would open the delay as a picture file.
    int appArgc = 1;
    VelmoraApplication app(appArgc, argv);
    const QString out = dir.filePath("kopie.pdf");
    Run("lpadmin", {"-p", Queue, "-E", "-v", "file://" + out, "-m",
                    "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd", "-o", "PageSize=A4"});
    Run("lpadmin", {"-d", Queue});

    // The scan alone: scanimage's batch of the same sheets, same options.
    QStringList scanOptions = {"-d",    device,         "--source", feeder,        "--mode",
                               "Color", "--resolution", "300",      "--format=pnm"};
    // The test backend's area is set; the eSCL scanner's default is its whole A4 platen.
    if (!escl)
        scanOptions << "-x"
                    << "210"
                    << "-y"
                    << "297";
    int hangs = 0;
    const double scanAll =
        TimedScan(scanOptions + QStringList{"--batch=" + dir.filePath("all%d.pnm")}, hangs);
    const int sheets =
        static_cast<int>(QDir(dir.path()).entryList({"all*.pnm"}, QDir::Files).size());
    const double scanThree = TimedScan(
        scanOptions + QStringList{"--batch=" + dir.filePath("three%d.pnm"), "--batch-count=3"},
        hangs);
    if (scanAll < 0 || scanThree < 0) {
        std::fprintf(stderr, "fastcopy_bench: scanimage never finished\n");
        return 1;
    }
    QElapsedTimer t;

    TMainForm form;
    form.show();
    // Only the page just scanned is printed after each page: "Seiten" with the current page,
    // which the window presets to every new picture.
    form.findChild<QRadioButton*>(QStringLiteral("SelPagesBtn"))->setChecked(true);
    form.findChild<QLineEdit*>(QStringLiteral("PagesEdit"))->setText(QStringLiteral("1"));
    form.pic->ScannerDPI = {300, 300};
    QCoreApplication::processEvents();
    QThread::msleep(200);
    QCoreApplication::processEvents();
    const double idle = Memory("VmRSS:");
    ResetPeak();

    JobClock jobs(t, form);
    form.installEventFilter(&jobs);
    t.start();
    form.GetPicBtnClick(form.findChild<QPushButton*>(QStringLiteral("FastCopyBtn")));
    const double command = t.nsecsElapsed() / 1e6;
    form.removeEventFilter(&jobs);
    const double peak = Memory("VmHWM:");
    const int pages = static_cast<int>(form.PicRecords.size());

    if (escl)
        std::printf("driverless (eSCL) test scanner through sane-airscan\n");
    else if (delay > 0)
        std::printf("test scanner held back %d us per block: as slow as a real scanner\n", delay);
    else
        std::printf("test scanner at memory speed\n");
    std::printf("sheets in the test scanner's feeder   %d (scanimage), %d (Velmora)\n", sheets,
                pages);
    std::printf("print jobs seen                       %zu\n", jobs.Ends.size());
    if (!jobs.Ends.empty())
        std::printf("Schnellkopie to first job accepted    %8.0f ms\n", jobs.Ends[0]);
    if (jobs.Ends.size() >= 3)
        std::printf("Schnellkopie to third job accepted    %8.0f ms\n", jobs.Ends[2]);
    std::printf("Schnellkopie, whole command           %8.0f ms\n", command);
    std::printf("scanimage --batch, 3 sheets           %8.0f ms\n", scanThree);
    std::printf("scanimage --batch, all sheets         %8.0f ms\n", scanAll);
    if (hangs > 0)
        std::printf("scanimage runs that never ended       %8d (given up and run again)\n", hangs);
    if (jobs.Ends.size() >= 3)
        std::printf("ratio third job / 3-sheet scan        %8.2f (target <= %s)\n",
                    jobs.Ends[2] / scanThree, escl ? "1.15" : "1.5");
    std::printf("ratio whole command / whole scan      %8.2f\n", command / scanAll);
    auto pagesAboveIdle = [&](const char* when, double bytes) {
        std::printf("peak memory above idle, %-13s %8.0f MiB = %.2f pages of %.1f MiB "
                    "(target <= 3)\n",
                    when, (bytes - idle) / 1048576.0, (bytes - idle) / PageBytes,
                    PageBytes / 1048576.0);
    };
    if (jobs.Peaks.size() >= 3) {
        pagesAboveIdle("third job", jobs.Peaks[2]);
        const double working = jobs.Peaks[2] - idle - jobs.Kept[2] * PageBytes;
        std::printf("  of which above the %d pictures kept   %8.0f MiB = %.2f pages\n",
                    jobs.Kept[2], working / 1048576.0, working / PageBytes);
    }
    pagesAboveIdle("end", peak);
    form.close();
    Run("lpadmin", {"-x", Queue});
    return 0;
}

// What printing costs: three 300-dpi A4 colour pages at 100 % from the print command until the
// scheduler has accepted the job, against the floor Qt gives us: the same three images drawn with
// a bare QPainter on a QPdfWriter. Needs a scheduler (run it through bench/print_bench.sh, which
// uses the private one of scripts/testenv.sh); prints medians, their ratio and the PDF size per
// page.

#include "app/MainForm.h"
#include "app/VelmoraApplication.h"
#include "layout/Graphic.h"
#include "layout/PicObj.h"
#include "output/Printer.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Runs = 5;
const QString Queue = QStringLiteral("Bench");

// A 300-dpi A4 colour scan with photo-like content (smooth gradients and some fine detail), so
// that its compressed size is that of a real scan.
QImage MakeScan(int seed) {
    QImage img(2480, 3508, QImage::Format_RGB888);
    for (int y = 0; y < img.height(); ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < img.width(); ++x) {
            row[3 * x] = uchar((x / 10 + seed * 40) & 0xFF);
            row[3 * x + 1] = uchar((y / 14) & 0xFF);
            row[3 * x + 2] = uchar(((x ^ y) & 0x1F) + 128 + ((x * y / 1000 + seed) & 0x3F));
        }
    }
    return img;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(20000);
    return p.exitCode();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("CUPS_SERVER")) {
        std::fprintf(stderr, "print_bench: needs a scheduler; run bench/print_bench.sh\n");
        return 1;
    }
    VelmoraApplication app(argc, argv);
    QTemporaryDir dir;
    const QString out = dir.filePath("bench.pdf");
    Run("lpadmin", {"-p", Queue, "-E", "-v", "file://" + out, "-m",
                    "lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd", "-o", "PageSize=A4", "-o",
                    "Resolution=600dpi"});
    Run("lpadmin", {"-d", Queue});
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther |
                                          QFile::WriteOther | QFile::ReadOther);

    const std::vector<QImage> scans = {MakeScan(0), MakeScan(1), MakeScan(2)};

    // Velmora: the print command on the real window.
    TMainForm form;
    form.show();
    for (const QImage& scan : scans) {
        if (!form.pic->IsEmpty())
            form.AddNewPic();
        auto bmp = std::make_unique<TBitmap>();
        bmp->SetImage(scan);
        form.pic->Picture.SetGraphic(std::move(bmp));
        form.pic->ScannerDPI = {300, 300};
        form.ShowZoomValues();
        form.UpdatePicInfo(true);
    }
    const int dpi = form.PrinterProps->PrnDPI.X;
    std::vector<double> ours;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer t;
        t.start();
        form.PrintBtnClick(nullptr); // returns once the scheduler accepted the job
        ours.push_back(t.nsecsElapsed() / 1e6);
    }
    // The last job's file, as the queue wrote it.
    for (int i = 0; i < 200 && QFile(out).size() == 0; ++i)
        QThread::msleep(50);
    QThread::msleep(500);
    const double oursPerPage = QFile(out).size() / 3.0 / 1024.0;

    // The floor: a bare QPainter on a QPdfWriter, same images, same resolution, same rectangles.
    std::vector<double> floor;
    const QString bare = dir.filePath("bare.pdf");
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer t;
        t.start();
        QPdfWriter writer(bare);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(dpi);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        for (size_t p = 0; p < scans.size(); ++p) {
            if (p > 0)
                writer.newPage();
            const int w = scans[p].width() * dpi / 300, h = scans[p].height() * dpi / 300;
            painter.drawImage(QRect(0, 0, w, h), scans[p]);
        }
        painter.end();
        floor.push_back(t.nsecsElapsed() / 1e6);
    }
    const double barePerPage = QFile(bare).size() / 3.0 / 1024.0;

    const double o = Median(ours), f = Median(floor);
    std::printf("printer resolution            %d dpi\n", dpi);
    std::printf("print command to accepted job %8.1f ms (median of %d)\n", o, Runs);
    std::printf("bare QPainter on QPdfWriter   %8.1f ms (median of %d)\n", f, Runs);
    std::printf("ratio                         %8.2f\n", o / f);
    std::printf("PDF per page: printed %.0f KiB, bare %.0f KiB, raw pixels %.0f KiB\n", oursPerPage,
                barePerPage, 2480.0 * 3508 * 3 / 1024);
    form.close();
    Run("lpadmin", {"-x", Queue});
    return 0;
}

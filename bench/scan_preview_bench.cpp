// The scanner dialog's preview with SANE's test scanner at memory speed (the private SANE
// configuration of scripts/testenv.sh, A4 bed): the time from "Vorschau" to the whole preview on
// screen, against scanimage scanning the same preview, and the cost of one mouse step of
// dragging the scan area in the shown dialog, fields included. Run bench/scan_preview_bench.sh.

#include "dsm/sane/PreviewPane.h"
#include "dsm/sane/SaneDialog.h"
#include "dsm/sane/SaneSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace sanebridge;

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("SANE_CONFIG_DIR")) {
        std::fprintf(stderr, "needs the SANE configuration of scripts/testenv.sh\n");
        return 2;
    }
    SaneSession session(
        {[](std::size_t n) { return std::calloc(n, 1); }, [](void* b) { std::free(b); }});
    if (session.Open("test:0") != Status::Good) {
        std::fprintf(stderr, "cannot open test:0\n");
        return 2;
    }
    SaneDialog dialog(session, QStringLiteral("test:0"), [](const QString& m) {
        std::fprintf(stderr, "message: %s\n", qPrintable(m));
    });
    QObject::connect(&dialog, &SaneDialog::PreviewRequested, &dialog,
                     [&dialog] { dialog.StartPreview(); });
    dialog.resize(900, 700);
    dialog.show();
    QApplication::processEvents();
    QPushButton* preview = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Vorschau"))
            preview = b;
    PreviewPane* pane = dialog.Pane();
    const QRectF bed = pane->Bed();

    std::vector<double> previewMs;
    for (int run = 0; run < 11; ++run) {
        QElapsedTimer t;
        t.start();
        preview->click();
        while (dialog.PreviewRunning())
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        pane->repaint();
        previewMs.push_back(t.nsecsElapsed() / 1e6);
    }
    const QImage image = pane->Image();

    // The same preview without Velmora.
    std::vector<double> scanimageMs;
    for (int run = 0; run < 5; ++run) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral("scanimage"),
                {QStringLiteral("-d"), QStringLiteral("test:0"), QStringLiteral("--mode"),
                 QStringLiteral("Color"), QStringLiteral("--depth"), QStringLiteral("8"),
                 QStringLiteral("--resolution"), QStringLiteral("50"), QStringLiteral("-l"),
                 QString::number(bed.left()), QStringLiteral("-t"), QString::number(bed.top()),
                 QStringLiteral("-x"), QString::number(bed.width()), QStringLiteral("-y"),
                 QString::number(bed.height())});
        p.waitForFinished(60000);
        scanimageMs.push_back(t.nsecsElapsed() / 1e6);
    }

    // Dragging the area's bottom-right corner to and fro, one repaint per step.
    const QPoint corner = pane->ToView(pane->Area().bottomRight()).toPoint();
    QTest::mousePress(pane, Qt::LeftButton, {}, corner);
    const int steps = 400;
    QElapsedTimer drag;
    drag.start();
    for (int i = 0; i < steps; ++i) {
        QTest::mouseMove(pane, corner - QPoint(i % 100, (i % 100) / 2));
        pane->repaint();
    }
    const double stepMs = drag.nsecsElapsed() / 1e6 / steps;
    QTest::mouseRelease(pane, Qt::LeftButton, {}, corner);

    const double median = Median(previewMs);
    std::printf("preview of the %.0f x %.0f mm bed, %d x %d px\n", bed.width(), bed.height(),
                image.width(), image.height());
    std::printf("  Vorschau to the whole preview on screen: median %.1f ms, max %.1f ms "
                "(target 300 ms: %.2f of it)\n",
                median, *std::max_element(previewMs.begin(), previewMs.end()), median / 300);
    std::printf("  scanimage of the same preview: median %.1f ms (Velmora / scanimage %.2f)\n",
                Median(scanimageMs), median / Median(scanimageMs));
    std::printf("drag step in the dialog, repaint and fields included: %.3f ms (target 2 ms: "
                "%.3f of it)\n",
                stepMs, stepMs / 2);
    return 0;
}

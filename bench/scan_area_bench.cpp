// The scanner dialog's preview pane: one mouse step of dragging the scan area, with the repaint it
// causes, over the preview of an A4 bed at 50 and 150 dpi (target: 2 ms per step); taking a new
// preview image, as happens again and again while a preview arrives; and finding the document on
// the glass in a whole preview.
// Run the Release build: QT_QPA_PLATFORM=offscreen ./scan_area_bench

#include "dsm/sane/PreviewPane.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <benchmark/benchmark.h>

namespace {

using sanebridge::PreviewPane;

const QRectF A4Bed(0, 0, 210, 297);

// What a scan delivers: 24-bit lines with some detail, so the scaling has work to do.
QImage A4Preview(int dpi) {
    const int width = int(210 / 25.4 * dpi), height = int(297 / 25.4 * dpi);
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < height; y += 6)
        painter.fillRect(width / 10, y, width * 8 / 10, 2, QColor(40, 40, 40 + y % 200));
    return image;
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void Send(PreviewPane& pane, QEvent::Type type, const QPointF& at, Qt::MouseButton button,
          Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, pane.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&pane, &event);
}

// The area moved by its inside, back and forth, with the left button held.
void DragStep(benchmark::State& state) {
    PreviewPane pane;
    pane.resize(420, 600);
    pane.SetBed(A4Bed);
    pane.SetImage(A4Preview(int(state.range(0))));
    pane.SetArea(QRectF(30, 40, 100, 150));
    pane.show();
    QApplication::processEvents();
    PaintCounter counter;
    pane.installEventFilter(&counter);

    const QPointF grab = pane.ToView(QPointF(80, 115));
    Send(pane, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    int step = 0;
    for (auto _ : state) {
        const QPointF to = grab + QPointF(step % 60, (step % 60) / 2);
        ++step;
        Send(pane, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        QApplication::processEvents();
    }
    Send(pane, QEvent::MouseButtonRelease, grab, Qt::LeftButton, Qt::NoButton);
    state.counters["paints/step"] = double(counter.paints) / std::max(1, step);
    state.SetLabel(std::to_string(state.range(0)) + " dpi");
}

// A new preview image: the whole of it scaled to the pane again.
void SetImage(benchmark::State& state) {
    PreviewPane pane;
    pane.resize(420, 600);
    pane.SetBed(A4Bed);
    const QImage image = A4Preview(int(state.range(0)));
    for (auto _ : state)
        pane.SetImage(image);
    state.SetLabel(std::to_string(state.range(0)) + " dpi");
}

// The document on the glass, found in a whole preview.
void FindDocument(benchmark::State& state) {
    const QImage image = A4Preview(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(sanebridge::DocumentArea(image, A4Bed, 3));
    state.SetLabel(std::to_string(state.range(0)) + " dpi");
}

} // namespace

BENCHMARK(DragStep)
    ->Arg(50)
    ->Arg(150)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(SetImage)
    ->Arg(50)
    ->Arg(150)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK(FindDocument)
    ->Arg(50)
    ->Arg(72)
    ->Arg(150)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

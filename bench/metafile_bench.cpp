// Drawing a one-page metafile: into the preview (a bitmap of preview size on paper colour) and
// onto a 300-dpi A4 print page, both as a raster page and as the vector page a printer driver
// gets (PDF). The samples are the outside encoder's test pages (about 2,700 EMF and 1,300 WMF
// records, far more than a typical page) and a small page of a few dozen records. Targets:
// preview <= 5 ms, print page <= 100 ms (median). Run the Release build: ./metafile_bench

#include "pictures/metafile/Metafile.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

const char* const Samples[] = {"ref_libuemf.emf", "ref_libuemfw.wmf", "ref_mm_himetric.emf"};

std::unique_ptr<TMetafile> Load(int index) {
    QFile file(QStringLiteral(VELMORA_METAFILE_SAMPLES "/") + QLatin1String(Samples[index]));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    return std::make_unique<TMetafile>(file.readAll());
}

// The preview shows an A4 landscape picture about 300 pixels wide.
void Preview(benchmark::State& state) {
    const auto metafile = Load(int(state.range(0)));
    if (!metafile) {
        state.SkipWithError("sample missing");
        return;
    }
    state.SetLabel(Samples[state.range(0)]);
    QImage bitmap(300, 212, QImage::Format_RGB32);
    for (auto _ : state) {
        bitmap.fill(QColor(255, 255, 240));
        QPainter painter(&bitmap);
        metafile->Draw(painter, bitmap.rect());
    }
}

// A4 at 300 dpi, the picture across the printable width.
void PrintRaster(benchmark::State& state) {
    const auto metafile = Load(int(state.range(0)));
    if (!metafile) {
        state.SkipWithError("sample missing");
        return;
    }
    state.SetLabel(Samples[state.range(0)]);
    QImage page(2480, 3508, QImage::Format_RGB32);
    for (auto _ : state) {
        page.fill(Qt::white);
        QPainter painter(&page);
        metafile->Draw(painter, QRect(100, 100, 2280, 1604));
    }
}

void PrintVector(benchmark::State& state) {
    const auto metafile = Load(int(state.range(0)));
    if (!metafile) {
        state.SkipWithError("sample missing");
        return;
    }
    state.SetLabel(Samples[state.range(0)]);
    for (auto _ : state) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&out);
        pdf.setResolution(300);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        QPainter painter(&pdf);
        metafile->Draw(painter, QRect(100, 100, 2280, 1604));
        painter.end();
        benchmark::DoNotOptimize(out.data().size());
    }
}

} // namespace

BENCHMARK(Preview)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(PrintRaster)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(PrintVector)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // fonts need it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

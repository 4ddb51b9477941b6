// Picture files at the size users meet them: a 300-dpi A4 colour page (2480 × 3508 pixels).
// bench/codec_bench.sh makes the page, runs these next to djpeg and cjpeg on the same files and
// prints the ratios; run by hand:
//
//   VELMORA_BENCH_JPEG=page.jpg VELMORA_BENCH_DIR=/tmp/x ./codec_bench
//
// The JPEG file is a quality-90 baseline page; the folder receives the files saved.

#include "pictures/Jpeg.h"
#include "pictures/PictureFiles.h"
#include "pictures/SaveAll.h"

#include <QDir>
#include <QFile>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

QString Setting(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) {
        std::fprintf(stderr, "%s is not set\n", name);
        std::exit(2);
    }
    return QString::fromLocal8Bit(value);
}

const QImage& PageImage() {
    static const QImage page = [] {
        QFile file(Setting("VELMORA_BENCH_JPEG"));
        file.open(QIODevice::ReadOnly);
        return DecodeJpeg(file.readAll());
    }();
    return page;
}

void ClearFolder(const QString& folder) {
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        dir.remove(name);
}

// Opening the file: read, decode, keep the original bytes.
void BM_LoadJpegFile(benchmark::State& state) {
    const QString path = Setting("VELMORA_BENCH_JPEG");
    for (auto _ : state) {
        auto graphic = LoadPictureFile(path);
        benchmark::DoNotOptimize(graphic.get());
    }
}
BENCHMARK(BM_LoadJpegFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// Encoding alone, into memory.
void BM_EncodeJpeg(benchmark::State& state) {
    const QImage& page = PageImage();
    for (auto _ : state) {
        QByteArray jpeg = EncodeJpeg(page);
        benchmark::DoNotOptimize(jpeg.data());
    }
}
BENCHMARK(BM_EncodeJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// "Bild sichern" of a bitmap as .jpg: encoding, writing and syncing a new file.
void BM_SaveBitmapAsJpeg(benchmark::State& state) {
    const QImage& page = PageImage();
    const QString path = Setting("VELMORA_BENCH_DIR") + QStringLiteral("/single.jpg");
    for (auto _ : state)
        SaveBitmapToFile(page, path);
}
BENCHMARK(BM_SaveBitmapAsJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

// "Alle Bilder sichern..." of 20 pages as Pic001.jpg to Pic020.jpg.
void BM_SaveAll20AsJpeg(benchmark::State& state) {
    const std::vector<QImage> pages(20, PageImage());
    const QString folder = Setting("VELMORA_BENCH_DIR") + QStringLiteral("/all");
    QDir().mkpath(folder);
    for (auto _ : state) {
        state.PauseTiming();
        ClearFolder(folder);
        state.ResumeTiming();
        SaveAllPictures(pages, folder + QStringLiteral("/Pic.jpg"));
    }
    ClearFolder(folder);
}
BENCHMARK(BM_SaveAll20AsJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

long long ResidentBytes() {
    long long pages = 0;
    long long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lld %lld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Twenty opened pages held at once: resident memory they add against their raw RGB pixels.
void BM_Memory20Pages(benchmark::State& state) {
    const QString path = Setting("VELMORA_BENCH_JPEG");
    for (auto _ : state) {
        const long long before = ResidentBytes();
        std::vector<std::unique_ptr<TGraphic>> pages;
        for (int i = 0; i < 20; ++i)
            pages.push_back(LoadPictureFile(path));
        const long long after = ResidentBytes();
        long long raw = 0;
        long long jpeg = 0;
        for (const auto& page : pages) {
            raw += 3LL * page->Width() * page->Height();
            jpeg += static_cast<const TJpegImage&>(*page).OriginalBytes().size();
        }
        state.counters["raw_MB"] = double(raw) / 1e6;
        state.counters["jpeg_MB"] = double(jpeg) / 1e6;
        state.counters["rss_MB"] = double(after - before) / 1e6;
        state.counters["rss_per_raw"] = double(after - before) / double(raw);
    }
}
BENCHMARK(BM_Memory20Pages)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();

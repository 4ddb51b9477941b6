// What one refresh of the preview costs with a 600-dpi A4 scan. The main window renders the
// preview bitmap again on every mouse move over the picture, so this is the cost of a mouse step;
// WindowDragMove and WindowDragResize measure a real drag step, mouse events through the box's
// event path, moving the copy and resizing it.
//
// Each benchmark is one "step" registered through RegisterStep (milliseconds, median of five
// runs); a step over the real main window registers the same way from main().

#include "app/MainForm.h"
#include "layout/Graphic.h"
#include "layout/PicObj.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int PageWidth = 4960; // A4 at 600 dpi
constexpr int PageHeight = 7016;
constexpr int PreviewWidth = 300;
constexpr int PreviewHeight = 420;

// A scanned page: paper white with lines of "text" (strokes 3 to 6 pixels wide, 1-pixel
// hairlines between them) and a grey-to-colour photo block, so no row is uniform.
QImage MakePage(QImage::Format format) {
    QImage rgb(PageWidth, PageHeight, QImage::Format_RGB888);
    rgb.fill(Qt::white);
    for (int y = 0; y < PageHeight; ++y) {
        uchar* row = rgb.scanLine(y);
        const bool inPhoto = y >= 4000 && y < 5500;
        const int line = y % 120;
        for (int x = 0; x < PageWidth; ++x) {
            uchar* px = row + 3 * x;
            if (inPhoto && x >= 600 && x < 4300) {
                px[0] = uchar(x * 255 / PageWidth);
                px[1] = uchar((y - 4000) * 255 / 1500);
                px[2] = uchar(128 + (x ^ y) % 64);
            } else if (line < 60 && x >= 500 && x < 4460 && (x % 37 < 3 + line % 4 || line < 4)) {
                std::memset(px, 0, 3);
            } else if (line == 90 && x % 5 == 0) {
                std::memset(px, 0, 3);
            }
        }
    }
    if (format == QImage::Format_RGB888)
        return rgb;
    if (format == QImage::Format_Indexed8) {
        // An 8-bit greyscale scan as a DIB delivers it: palette of 256 greys.
        QList<QRgb> greys;
        for (int i = 0; i < 256; ++i)
            greys << qRgb(i, i, i);
        QImage grey = rgb.convertToFormat(QImage::Format_Grayscale8);
        QImage indexed(PageWidth, PageHeight, QImage::Format_Indexed8);
        indexed.setColorTable(greys);
        for (int y = 0; y < PageHeight; ++y)
            std::memcpy(indexed.scanLine(y), grey.constScanLine(y), PageWidth);
        return indexed;
    }
    return rgb.convertToFormat(format, Qt::ThresholdDither);
}

// Pages are made once per format and shared (implicitly) by every benchmark.
const QImage& Page(QImage::Format format) {
    static std::map<QImage::Format, QImage> pages;
    auto it = pages.find(format);
    if (it == pages.end())
        it = pages.emplace(format, MakePage(format)).first;
    return it->second;
}

std::unique_ptr<TPicProperties> MakePic(QImage::Format format) {
    auto pic = std::make_unique<TPicProperties>(nullptr);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetImage(Page(format));
    pic->Picture.SetGraphic(std::move(bitmap));
    return pic;
}

// Step 4 of the preview's resize handler: paper colour over the whole bitmap (the outline of the
// filled rectangle lies outside it), then the picture stretched to the whole bitmap.
void RenderPreview(const TPicProperties& pic, QImage& bitmap, const QColor& paper) {
    QPainter painter(&bitmap);
    painter.fillRect(QRect(-1, -1, bitmap.width() + 2, bitmap.height() + 2), paper);
    pic.Draw(painter, 0, 0, bitmap.width(), bitmap.height());
}

double CopyFraction(const TPicProperties& pic) {
    const auto* raster = static_cast<const TRasterGraphic*>(pic.Picture.Graphic());
    return double(raster->ReducedCopyBytes()) / double(raster->Image().sizeInBytes());
}

void RegisterStep(const std::string& name, std::function<void(benchmark::State&)> run) {
    benchmark::RegisterBenchmark(name.c_str(), std::move(run))
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

// Qt's own area-averaging scale of the full picture per step: what drawing without a reduced
// copy would cost at the same quality.
void QtScaledSmooth(benchmark::State& state, QImage::Format format) {
    const QImage& page = Page(format);
    for (auto _ : state) {
        QImage preview = page.scaled(PreviewWidth, PreviewHeight, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
        benchmark::DoNotOptimize(preview.constBits());
    }
}

// The preview step with the reduced copy already built, as on every mouse move after the first.
void DrawPreview(benchmark::State& state, QImage::Format format) {
    const auto pic = MakePic(format);
    QImage bitmap(PreviewWidth, PreviewHeight, QImage::Format_RGB32);
    RenderPreview(*pic, bitmap, Qt::white);
    for (auto _ : state) {
        RenderPreview(*pic, bitmap, Qt::white);
        benchmark::DoNotOptimize(bitmap.constBits());
    }
    state.counters["copy_fraction"] = CopyFraction(*pic);
}

// The first preview step after the pixels changed: builds the reduced copy, then draws.
void FirstDrawPreview(benchmark::State& state, QImage::Format format) {
    const auto pic = MakePic(format);
    auto* bitmapGraphic = static_cast<TBitmap*>(pic->Picture.Graphic());
    QImage bitmap(PreviewWidth, PreviewHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        state.PauseTiming();
        bitmapGraphic->SetImage(Page(format)); // shares the pixels, drops the copy
        state.ResumeTiming();
        RenderPreview(*pic, bitmap, Qt::white);
        benchmark::DoNotOptimize(bitmap.constBits());
    }
    state.counters["copy_fraction"] = CopyFraction(*pic);
}

// One mouse step over the copy in the real main window: the figures and the preview bitmap
// are refreshed (UpdatePicInfo, then PaintPanelResize), with a 600-dpi A4 colour scan at 100 %
// on an A4 printable area of a 600-dpi printer and a preview of about 300 x 420 pixels.
void WindowMouseStep(benchmark::State& state) {
    TMainForm form;
    form.resize(800, 650);
    form.show();
    TPrinterProperties& device = *form.PrinterProps;
    device.PrnAreaWidth = 4760;
    device.PrnAreaHeight = 6779;
    device.PrnAreaMMWidth = 201;
    device.PrnAreaMMHeight = 287;
    device.PrnDPI = {600, 600};
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetImage(Page(QImage::Format_RGB888));
    form.pic->Picture.SetGraphic(std::move(bitmap));
    form.pic->ScannerDPI = {600, 600};
    form.ShowZoomValues();
    form.FormResize();
    form.UpdatePicInfo(true);
    form.PaintPanelResize();
    for (auto _ : state) {
        form.UpdatePicInfo(false);
        form.PaintPanelResize();
        benchmark::DoNotOptimize(form.PreviewBitmap->constBits());
    }
    state.counters["preview_w"] = form.PreviewBitmap->width();
    state.counters["preview_h"] = form.PreviewBitmap->height();
    state.counters["copy_fraction"] = CopyFraction(*form.pic);
    form.close();
}

// Lays the window out as WindowMouseStep does and returns the preview box.
QWidget* LayOutWindow(TMainForm& form) {
    form.resize(800, 650);
    form.show();
    TPrinterProperties& device = *form.PrinterProps;
    device.PrnAreaWidth = 4760;
    device.PrnAreaHeight = 6779;
    device.PrnAreaMMWidth = 201;
    device.PrnAreaMMHeight = 287;
    device.PrnDPI = {600, 600};
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetImage(Page(QImage::Format_RGB888));
    form.pic->Picture.SetGraphic(std::move(bitmap));
    form.pic->ScannerDPI = {600, 600};
    form.pic->xZoom = form.pic->yZoom = 0.6; // the copy lies inside the printable area
    form.ShowZoomValues();
    form.FormResize();
    form.UpdatePicInfo(true);
    form.PaintPanelResize();
    return form.findChild<QWidget*>(QStringLiteral("PreviewPaintBox"));
}

void SendMouse(QWidget* box, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), QPointF(box->mapToGlobal(at)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(box, &event);
}

// One step of a real drag: a mouse move sent to the preview box while the left button is held,
// through the application's event delivery and the box's hooks, as the user's mouse does. Each
// step moves the copy (or its right edge, with both zooms coupled) by 2 preview pixels, back
// and forth, so every step lays out, renders and repaints a changed preview.
void WindowDragStep(benchmark::State& state, bool resize) {
    TMainForm form;
    QWidget* box = LayOutWindow(form);
    const QPoint grab = resize ? QPoint(box->width() - 2, box->height() / 2)
                               : QPoint(box->width() / 2, box->height() / 2);
    SendMouse(box, QEvent::MouseMove, grab, Qt::NoButton, Qt::NoButton);
    SendMouse(box, QEvent::MouseButtonPress, grab, Qt::LeftButton, Qt::LeftButton);
    if (!form.Dragging || (form.DragEdges != 0) != resize) {
        state.SkipWithError("the press did not start the drag");
        return;
    }
    const QRect start = box->geometry();
    int sign = 1;
    for (auto _ : state) {
        // Moving: the box follows the mouse, so the offset is relative to the grabbed point.
        // Resizing the right edge: the box's left edge stays, so the offset is from the press.
        SendMouse(box, QEvent::MouseMove, grab + QPoint(2 * sign, sign), Qt::NoButton,
                  Qt::LeftButton);
        sign = resize ? -sign : (box->x() > start.x() + 40 ? -1 : box->x() < start.x() ? 1 : sign);
        benchmark::DoNotOptimize(form.PreviewBitmap->constBits());
    }
    SendMouse(box, QEvent::MouseButtonRelease, grab, Qt::LeftButton, Qt::NoButton);
    state.counters["preview_w"] = form.PreviewBitmap->width();
    state.counters["preview_h"] = form.PreviewBitmap->height();
    state.counters["moved_px"] = box->x() - start.x();
    form.close();
}

void RegisterPreviewSteps() {
    RegisterStep("WindowMouseStep/RGB888", WindowMouseStep);
    RegisterStep("WindowDragMove/RGB888", [](benchmark::State& s) { WindowDragStep(s, false); });
    RegisterStep("WindowDragResize/RGB888", [](benchmark::State& s) { WindowDragStep(s, true); });
    const std::pair<const char*, QImage::Format> formats[] = {
        {"RGB888", QImage::Format_RGB888},
        {"Grey8", QImage::Format_Indexed8},
        {"Mono", QImage::Format_Mono},
    };
    for (const auto& [label, format] : formats) {
        const std::string suffix = std::string("/") + label;
        const QImage::Format f = format;
        RegisterStep("QtScaledSmooth" + suffix, [f](benchmark::State& s) { QtScaledSmooth(s, f); });
        RegisterStep("PreviewDraw" + suffix, [f](benchmark::State& s) { DrawPreview(s, f); });
        RegisterStep("PreviewFirstDraw" + suffix,
                     [f](benchmark::State& s) { FirstDrawPreview(s, f); });
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterPreviewSteps();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

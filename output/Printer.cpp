#include "output/Printer.h"

#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMarginsF>
#include <QPageLayout>
#include <QPainter>
#include <QPair>
#include <QPrintEngine>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRect>
#include <QTemporaryFile>

#include <cups/cups.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

namespace {

const QString kNoDefault = QStringLiteral(u"Zur Zeit ist kein Standarddrucker gewählt");
const QString kIndexRange = QStringLiteral(u"Druckerindex außerhalb des zulässigen Bereichs");
const QString kInvalid = QStringLiteral(u"Ausgewählter Drucker ist ungültig");
const QString kNotPrinting = QStringLiteral(u"Es wird gerade nicht gedruckt");
const QString kAlreadyPrinting = QStringLiteral(u"Es wird bereits gedruckt");
const QString kBusy =
    QStringLiteral(u"Der Drucker kann während des Druckens nicht gewechselt werden");
const QString kNoSpool = QStringLiteral(u"Die Druckdatei kann nicht angelegt werden");
const QString kNotEnded = QStringLiteral(u"Das Druckdokument kann nicht abgeschlossen werden");
const QString kNoNewPage = QStringLiteral(u"Die nächste Seite kann nicht begonnen werden");

// Qt's print dialog leaves the queue options it collected (pages per sheet, banners, the driver's
// own options) in this engine property; the print engine would pass them to the queue, and so
// must we, since we hand the job over ourselves. Qt's key for it is private (its CUPS support
// defines it as 0xfe00, below the custom keys); Qt's print engine ignores keys it does not know,
// so anything stored under another key is lost.
const auto kCupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);

using JobOptions = QList<QPair<QByteArray, QByteArray>>;

// ---- libcups --------------------------------------------------------------------------------
// The only place that talks to the scheduler directly. Names may carry an instance after a
// slash ("Queue/instance"); the scheduler knows only the queue.

QString LastCupsError() {
    return QString::fromUtf8(cupsLastErrorString());
}

// Empty when `name` can take a job right now, else the reason. Qt's print engine reports success
// for a queue that rejects jobs and spools into a stopped one, so we ask first.
QString QueueProblem(const QString& name) {
    const int slash = name.indexOf(QLatin1Char('/'));
    const QByteArray queue = name.left(slash).toUtf8();
    const QByteArray instance = slash < 0 ? QByteArray() : name.mid(slash + 1).toUtf8();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(),
                                         instance.isEmpty() ? nullptr : instance.constData());
    if (!dest) {
        if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
            return kInvalid;
        return QStringLiteral(u"Das Drucksystem ist nicht erreichbar: %1").arg(LastCupsError());
    }
    const char* accepting =
        cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
    const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
    QString problem;
    if (accepting && std::strcmp(accepting, "false") == 0)
        problem = QStringLiteral(u"Drucker %1 nimmt keine Aufträge an").arg(name);
    else if (state && std::atoi(state) == IPP_PSTATE_STOPPED)
        problem = QStringLiteral(u"Drucker %1 ist angehalten").arg(name);
    cupsFreeDests(1, dest);
    return problem;
}

// Hands the spooled document to the scheduler; empty on success, else the scheduler's reason.
QString SubmitJob(const QString& name, const QString& file, const QString& title,
                  const JobOptions& options) {
    const QByteArray queue = name.section(QLatin1Char('/'), 0, 0).toUtf8();
    cups_option_t* cupsOptions = nullptr;
    int count = 0;
    for (const auto& option : options)
        count =
            cupsAddOption(option.first.constData(), option.second.constData(), count, &cupsOptions);
    const int job =
        cupsPrintFile2(CUPS_HTTP_DEFAULT, queue.constData(), QFile::encodeName(file).constData(),
                       title.toUtf8().constData(), count, cupsOptions);
    cupsFreeOptions(count, cupsOptions);
    return job > 0 ? QString() : LastCupsError();
}

// ---- Qt's printer device ----------------------------------------------------------------------

// The options Qt's print engine would send with the job. The number of copies is never among
// them: every copy is a document of its own.
JobOptions OptionsOf(QPrinter& printer) {
    const QPageLayout layout = printer.pageLayout();
    const bool portrait = layout.orientation() == QPageLayout::Portrait;
    JobOptions options;
    options.append({"media", layout.pageSize().key().toUtf8()});
    QByteArray sides = "one-sided";
    switch (printer.duplex()) {
    case QPrinter::DuplexNone:
        break;
    case QPrinter::DuplexAuto:
        sides = portrait ? "two-sided-long-edge" : "two-sided-short-edge";
        break;
    case QPrinter::DuplexLongSide:
        sides = "two-sided-long-edge";
        break;
    case QPrinter::DuplexShortSide:
        sides = "two-sided-short-edge";
        break;
    }
    options.append({"sides", sides});
    if (!portrait)
        options.append({"landscape", QByteArray()});
    const QStringList extra = printer.printEngine()->property(kCupsOptions).toStringList();
    for (int i = 0; i + 1 < extra.size(); i += 2)
        options.append({extra[i].toUtf8(), extra[i + 1].toUtf8()});
    return options;
}

// A device for printer `name` with the paper the printer's driver defaults to, in portrait.
std::unique_ptr<QPrinter> OpenDevice(const QString& name) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPrinterName(name);
    // Qt ignores a name it does not know and keeps the printer it had: the job would go there.
    if (printer->outputFormat() != QPrinter::NativeFormat ||
        printer->printerName().compare(name, Qt::CaseInsensitive) != 0)
        throw EPrinter(kInvalid);
    // Qt starts every printer on the locale's paper; the queue's own default is what the user
    // configured for it.
    const QPageSize paper = QPrinterInfo(*printer).defaultPageSize();
    if (paper.isValid())
        printer->setPageSize(paper);
    printer->setPageOrientation(QPageLayout::Portrait);
    printer->setCopyCount(1);
    return printer;
}

// Paper, orientation and the dialog's other choices, from one device to another.
void CopySettings(QPrinter& from, QPrinter& to) {
    const QPageLayout layout = from.pageLayout();
    to.setPageOrientation(layout.orientation());
    to.setPageSize(layout.pageSize());
    to.setDuplex(from.duplex());
    to.setColorMode(from.colorMode());
    to.printEngine()->setProperty(kCupsOptions, from.printEngine()->property(kCupsOptions));
    to.setCopyCount(1);
}

// The driver's printable area on the current paper and orientation, in device pixels relative to
// the paper's top-left corner; leaves the device in full-page mode so that painting starts at
// the paper's corner and the area is placed by us.
//
// Qt's own page rectangle is not the driver's: for a queue without margins in its driver Qt
// keeps its default 10-point margins, after a change of printer it keeps the previous printer's
// margins, and in landscape it keeps the portrait margins unrotated.
QRect PrintableArea(QPrinter& printer) {
    const QPageLayout::Orientation orientation = printer.pageLayout().orientation();
    const QPageSize paper = printer.pageLayout().pageSize();
    // Setting the paper makes the engine fetch the driver's margins for it, as the paper stands
    // in portrait.
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageSize(paper);
    QPageLayout portrait = printer.pageLayout();
    portrait.setUnits(QPageLayout::Point);
    QMarginsF margins = portrait.minimumMargins();
    printer.setPageOrientation(orientation);
    // The queue turns a landscape page a quarter turn anticlockwise onto the paper: the page's
    // top lies on the paper's left edge.
    if (orientation == QPageLayout::Landscape)
        margins = QMarginsF(margins.bottom(), margins.left(), margins.top(), margins.right());
    printer.setFullPage(true);
    const QPageLayout area(paper, orientation, margins, QPageLayout::Point);
    return area.paintRectPixels(printer.resolution());
}

int Millimetres(int pixels, int dpi) {
    return RoundHalfEven(pixels * 25.4 / dpi);
}

} // namespace

struct TPrinter::Impl {
    bool listRead = false;
    QStringList names;
    int index = -1;                   // -1: nothing selected yet
    std::unique_ptr<QPrinter> device; // opened on first use, for names[index]
    QRect area;                       // printable area of `device`, see PrintableArea
    // The devices of the printers selected before, with the settings chosen for them, by
    // printer name: switching between the printer and the fax printer, or reading the list
    // anew, must not lose the paper and orientation the user chose for either.
    struct KeptDevice {
        std::unique_ptr<QPrinter> device;
        QRect area;
    };
    std::map<QString, KeptDevice> kept;
    QString title;
    QPainter painter;
    std::unique_ptr<QTemporaryFile> spool; // the document in progress

    const QStringList& Names() {
        if (!listRead) {
            names = QPrinterInfo::availablePrinterNames();
            listRead = true;
        }
        return names;
    }

    int Find(const QString& name) {
        const QStringList& list = Names();
        for (int i = 0; i < list.size(); ++i)
            if (list[i].compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    }

    int DefaultIndex() {
        const QString name = QPrinterInfo::defaultPrinterName();
        const int i = name.isEmpty() ? -1 : Find(name);
        if (i < 0)
            throw EPrinter(kNoDefault);
        return i;
    }

    void Select(int i) {
        if (i == index)
            return;
        if (spool)
            throw EPrinter(kBusy);
        Keep();
        index = i;
    }

    // Puts the open device aside with its settings, for when its printer is selected again.
    void Keep() {
        if (device && index >= 0 && index < names.size())
            kept[names[index]] = KeptDevice{std::move(device), area};
        device.reset();
        area = QRect();
    }

    void EnsureSelection() {
        if (index < 0)
            Select(DefaultIndex());
    }

    QPrinter& Device() {
        EnsureSelection();
        if (!device) {
            const auto it = kept.find(names[index]);
            if (it != kept.end()) {
                device = std::move(it->second.device);
                area = it->second.area;
                kept.erase(it);
                return *device;
            }
            auto opened = OpenDevice(names[index]);
            area = PrintableArea(*opened);
            device = std::move(opened);
        }
        return *device;
    }

    bool Printing() const { return spool != nullptr; }

    // Closes the document in progress; returns the spool file (removed when released) and
    // whether the painter closed cleanly.
    std::pair<std::unique_ptr<QTemporaryFile>, bool> Close() {
        auto file = std::move(spool);
        const bool ended = painter.end();
        device->setOutputFileName(QString());
        return {std::move(file), ended};
    }
};

TPrinter::TPrinter() : d(std::make_unique<Impl>()) {}

TPrinter::~TPrinter() = default;

TPrinter& TPrinter::Printer() {
    static TPrinter* const printer = new TPrinter;
    return *printer;
}

void TPrinter::Reset() {
    ReadListAgain();
    d->kept.clear();
}

void TPrinter::ReadListAgain() {
    Abort();
    d->Keep();
    d->listRead = false;
    d->names.clear();
    d->index = -1;
    d->title.clear();
}

const QStringList& TPrinter::Printers() {
    return d->Names();
}

int TPrinter::IndexOf(const QString& name) {
    return d->Find(name);
}

int TPrinter::PrinterIndex() {
    d->EnsureSelection();
    return d->index;
}

void TPrinter::SetPrinterIndex(int index) {
    d->EnsureSelection();
    if (index == -1)
        d->Select(d->DefaultIndex());
    else if (index < 0 || index >= d->names.size())
        throw EPrinter(kIndexRange);
    else
        d->Select(index);
}

TDeviceFigures TPrinter::Figures() {
    QPrinter& printer = d->Device();
    TDeviceFigures f;
    f.AreaWidth = d->area.width();
    f.AreaHeight = d->area.height();
    f.DpiX = printer.logicalDpiX();
    f.DpiY = printer.logicalDpiY();
    f.AreaMMWidth = Millimetres(f.AreaWidth, f.DpiX);
    f.AreaMMHeight = Millimetres(f.AreaHeight, f.DpiY);
    return f;
}

bool TPrinter::Setup(QWidget* parent, const QString& title) {
    if (d->Printing())
        throw EPrinter(kBusy);
    QPrinter& current = d->Device();
    // The dialog opens on the settings in force and works on a copy, so that a cancelled
    // dialog cannot leave anything behind.
    QPrinter choice(QPrinter::HighResolution);
    choice.setPrinterName(current.printerName());
    CopySettings(current, choice);
    if (!Dialogs::Get().PrinterSetup(parent, choice, title))
        return false;
    const bool toQueue =
        choice.outputFormat() == QPrinter::NativeFormat && choice.outputFileName().isEmpty();
    const int chosen = toQueue ? d->Find(choice.printerName()) : -1;
    if (chosen < 0)
        return false;
    auto device = OpenDevice(d->names[chosen]);
    CopySettings(choice, *device);
    const QRect area = PrintableArea(*device);
    // The printer the dialog started on keeps its own settings when another one was chosen.
    d->Keep();
    d->kept.erase(d->names[chosen]);
    d->device = std::move(device);
    d->area = area;
    d->index = chosen;
    return true;
}

void TPrinter::SetTitle(const QString& title) {
    d->title = title;
}

QString TPrinter::Title() const {
    return d->title;
}

void TPrinter::BeginDoc() {
    if (d->Printing())
        throw EPrinter(kAlreadyPrinting);
    QPrinter& printer = d->Device();
    const QString problem = QueueProblem(printer.printerName());
    if (!problem.isEmpty())
        throw EPrinter(problem);

    // Qt's engine would hand the document to the queue itself when the painter ends and cannot
    // abandon it; we let it write into a file of ours and submit that, or drop it on Abort.
    auto spool =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/velmora-XXXXXX.job"));
    if (!spool->open())
        throw EPrinter(kNoSpool);
    spool->close();
    printer.setDocName(d->title);
    printer.setOutputFileName(spool->fileName());
    if (!d->painter.begin(&printer)) {
        printer.setOutputFileName(QString());
        throw EPrinter(kInvalid);
    }
    d->painter.translate(d->area.topLeft());
    d->painter.setClipRect(QRect(QPoint(0, 0), d->area.size()));
    d->spool = std::move(spool);
}

void TPrinter::NewPage() {
    if (!d->Printing())
        throw EPrinter(kNotPrinting);
    if (!d->device->newPage())
        throw EPrinter(kNoNewPage);
}

void TPrinter::EndDoc() {
    if (!d->Printing())
        throw EPrinter(kNotPrinting);
    QPrinter& printer = *d->device;
    const auto [spool, ended] = d->Close();
    if (!ended)
        throw EPrinter(kNotEnded);
    const QString problem =
        SubmitJob(printer.printerName(), spool->fileName(), d->title, OptionsOf(printer));
    if (!problem.isEmpty())
        throw EPrinter(QStringLiteral(u"Drucker %1 hat den Druckauftrag nicht angenommen: %2")
                           .arg(printer.printerName(), problem));
}

void TPrinter::Abort() {
    if (d->Printing())
        d->Close();
}

bool TPrinter::Printing() const {
    return d->Printing();
}

QPainter& TPrinter::Canvas() {
    if (!d->Printing())
        throw EPrinter(kNotPrinting);
    return d->painter;
}

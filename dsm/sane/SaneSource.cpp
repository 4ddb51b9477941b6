// The SANE bridge: a data source of Velmora's TWAIN source manager that reaches every SANE
// device. The SANE session lives on its worker thread (SaneSession); this file is the TWAIN
// side: identity, the source's own states 4 to 7, ICAP_XRESOLUTION, native transfers of packed
// DIBs, the scanner dialog and the progress window. Every triplet arrives on the GUI thread
// (dsm/README.md); page results of the worker come back to it through queued calls.

#include "dsm/VelmoraDsm.h"
#include "dsm/sane/ButtonWatch.h"
#include "dsm/sane/DeviceChoice.h"
#include "dsm/sane/Resolution.h"
#include "dsm/sane/SaneBridge.h"
#include "dsm/sane/SaneDialog.h"
#include "dsm/sane/SaneSession.h"
#include "twain/twainh.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace sanebridge;

constexpr const char* ProductName = "SANE-Scanner";
// How long a backend gets to end a scan the user has cancelled before the bridge stops waiting
// for it: sane-airscan waits up to 10 s for a device that has stopped answering in the middle
// of a page. The page is dropped whenever the backend is done with it.
constexpr auto CancelGrace = std::chrono::milliseconds(500);

struct Bridge {
    TW_IDENTITY self{};
    TW_IDENTITY app{};
    TW_ENTRYPOINT entry{};
    TW_UINT16 condition = TWCC_SUCCESS;
    int state = 3; // 3: closed; 4 open; 5 enabled; 6 page ready; 7 transferring
    std::unique_ptr<SaneSession> session;
    Device device;
    bool showUI = false;
    bool feeder = false;
    int pagesDelivered = 0; // in this enable
    std::optional<PageJob> job;
    // A page given up on after the user cancelled, until the worker is done with it.
    std::optional<PageJob> abandoned;
    // The resolution as the batch began; while a feeder reads its next sheet the worker is busy,
    // and asking it would hold the application up until that sheet is in.
    std::optional<ResolutionCap> batchResolution;
    unsigned jobSerial = 0;
    void* readyPage = nullptr;
    // The resolution the page ready or in hand was scanned at, as its DIB header says too.
    double pageDpiX = 0;
    double pageDpiY = 0;
    std::unique_ptr<QObject> context; // target of the worker's queued calls
    // The session of the last acquisition while it closes (see Close).
    std::thread closing;
    // When the user cancelled the scan running now, if so.
    std::optional<std::chrono::steady_clock::time_point> cancelledAt;
    QPointer<SaneDialog> dialog;
    // Without the dialog, the one progress window of the acquisition: made when its first page
    // starts, shown while a batch runs, dropped when the source is disabled or closed. A window
    // per page would pile up: a deleteLater() inside the application's nested loops only takes
    // effect once the acquisition is over.
    QPointer<ScanProgress> progressWindow;
    QTimer* progressTimer = nullptr;
};

Bridge& B() {
    static Bridge* bridge = [] {
        // A session still closing when the process ends finishes before SANE's libraries go.
        std::atexit([] {
            if (bridge->closing.joinable())
                bridge->closing.join();
        });
        return new Bridge;
    }();
    return *bridge;
}

// The device listing of the selection dialog runs on a thread of the manager's. SANE must not be
// initialised twice at once, so the listing and the opening and closing of the bridge's own
// session take turns; while the bridge is open the listing reports its device without asking
// SANE.
std::mutex sessionUse;
std::optional<Device> openDevice;

// The closing session's thread is started on the GUI thread and waited for there and by the
// device listing, whose thread would otherwise be quicker to take `sessionUse`.
std::mutex closingUse;

// Waits until the last acquisition's session has closed.
void JoinClosing() {
    std::lock_guard<std::mutex> lock(closingUse);
    if (B().closing.joinable())
        B().closing.join();
}

// The watch of the scanner's buttons while the bridge is closed (VelmoraDS_WatchButtons). Its
// session takes the same turns as the bridge's own; opening the bridge and listing the devices
// end it first, since the device and SANE are then wanted elsewhere.
std::mutex watchUse;
std::unique_ptr<ButtonWatch> buttonWatch; // under watchUse

SessionTurn TakeSessionTurn() {
    JoinClosing();
    SessionTurn turn{std::unique_lock<std::mutex>(sessionUse), false};
    turn.deviceInUse = openDevice.has_value();
    return turn;
}

// Joined under the lock: a watch started next must find the device free.
void StopButtonWatch() {
    std::lock_guard<std::mutex> lock(watchUse);
    buttonWatch.reset();
}

VelmoraSane_MessageFn messageHook = nullptr;
void* messageContext = nullptr;

void ShowMessage(const QString& text) {
    if (text.isEmpty())
        return;
    if (messageHook) {
        messageHook(messageContext, text.toUtf8().constData());
        return;
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QMessageBox::warning(B().dialog, QStringLiteral("Fehler beim Scannen"), text);
}

// Pages belong to the application once transferred: they come from the manager's memory.
void* AllocatePage(std::size_t size) {
    const TW_ENTRYPOINT& e = B().entry;
    if (!e.DSM_MemAllocate || size > 0xFFFFFFFFu)
        return nullptr;
    return e.DSM_MemAllocate(static_cast<TW_UINT32>(size));
}
void ReleasePage(void* block) {
    if (B().entry.DSM_MemFree && block)
        B().entry.DSM_MemFree(block);
}

void Notify(TW_UINT16 msg) {
    Bridge& b = B();
    if (b.entry.DSM_Entry)
        b.entry.DSM_Entry(&b.self, &b.app, DG_CONTROL, DAT_NULL, msg, nullptr);
}

TW_UINT16 Fail(TW_UINT16 cc) {
    B().condition = cc;
    return TWRC_FAILURE;
}

void FillIdentity(TW_IDENTITY& id) {
    const TW_UINT32 keepId = id.Id;
    std::memset(&id, 0, sizeof id);
    id.Id = keepId;
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_GERMAN;
    id.Version.Country = TWCY_GERMANY;
    std::strcpy(id.Version.Info, "Velmora SANE-Brücke");
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(id.Manufacturer, "Velmora");
    std::strcpy(id.ProductFamily, "SANE");
    std::strcpy(id.ProductName, ProductName);
}

// ---- scanning -----------------------------------------------------------------------------

// The progress of the batch: the dialog's own, else the acquisition's progress window.
ScanProgress* Progress() {
    Bridge& b = B();
    return b.dialog ? b.dialog->Progress() : b.progressWindow.data();
}

// The batch has ended: its progress is hidden, the window kept for the next batch.
void StopProgress() {
    Bridge& b = B();
    if (b.progressTimer)
        b.progressTimer->stop();
    if (b.dialog)
        b.dialog->SetScanning(false);
    else if (b.progressWindow)
        b.progressWindow->hide();
}

// The acquisition has ended: its progress window disappears at once, and is deleted as soon as
// the application's own loop runs again.
void EndProgress() {
    Bridge& b = B();
    StopProgress();
    if (b.progressWindow) {
        b.progressWindow->hide();
        b.progressWindow->deleteLater();
    }
    b.progressWindow = nullptr;
}

void KeepPageResolution(const PageJob& job) {
    job.Resolution(&B().pageDpiX, &B().pageDpiY);
}

// Lets go of the page being scanned; its notices stop, and its memory goes once the worker is
// done with it.
void AbandonJob() {
    Bridge& b = B();
    if (!b.job)
        return;
    b.job->SetNotifier(nullptr);
    b.abandoned = std::move(b.job);
    b.job.reset();
    ++b.jobSerial;
}

// Whether the worker is still busy with a page given up on: every session call would wait for
// it.
bool WorkerBusy() {
    const Bridge& b = B();
    return b.abandoned && b.abandoned->CurrentPhase() != PageJob::Phase::Done;
}

bool CancelGraceOver() {
    const Bridge& b = B();
    return b.cancelledAt && std::chrono::steady_clock::now() - *b.cancelledAt > CancelGrace;
}

void DropJob() {
    Bridge& b = B();
    if (b.job) {
        b.session->Cancel();
        if (b.job->WaitFor(PageJob::Phase::Done,
                           static_cast<int>(std::chrono::milliseconds(CancelGrace).count())))
            ReleasePage(b.job->TakeDib());
        AbandonJob();
    }
    ReleasePage(b.readyPage);
    b.readyPage = nullptr;
    StopProgress();
}

// A preview still running when its dialog goes is cancelled; one the backend does not give up
// within the grace is left to it, like a cancelled page.
void StopPreview() {
    Bridge& b = B();
    if (!b.dialog)
        return;
    std::optional<PageJob> preview = b.dialog->StopPreview();
    if (preview &&
        !preview->WaitFor(PageJob::Phase::Done,
                          static_cast<int>(std::chrono::milliseconds(CancelGrace).count())))
        b.abandoned = std::move(preview);
}

void OnFirstPageDone(unsigned serial);
void UserCancel();

// Handlers bound to Qt signals run inside Qt's frames, which must never see an exception: an
// error there becomes the bridge's message.
template <class F> auto Guarded(F f) {
    return [f] {
        try {
            f();
        } catch (const std::exception& e) {
            ShowMessage(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            ShowMessage(QStringLiteral("Unbekannter Fehler beim Scannen"));
        }
    };
}

// A page starts: the progress shows it, from its first line on.
void StartProgress() {
    Bridge& b = B();
    if (b.dialog) {
        b.dialog->SetScanning(true);
    } else if (!b.progressWindow && qobject_cast<QApplication*>(QCoreApplication::instance())) {
        b.progressWindow = new ScanProgress;
        QObject::connect(b.progressWindow, &ScanProgress::CancelRequested, b.context.get(),
                         Guarded(UserCancel));
    }
    if (ScanProgress* progress = Progress()) {
        progress->SetPage(b.pagesDelivered + 1);
        progress->SetProgress(0, 0);
        if (!b.dialog)
            progress->show();
    }
    if (!b.progressTimer) {
        b.progressTimer = new QTimer(b.context.get());
        QObject::connect(b.progressTimer, &QTimer::timeout, b.context.get(), [] {
            Bridge& br = B();
            ScanProgress* progress = Progress();
            if (progress && br.job) {
                long long done, total;
                br.job->Progress(&done, &total);
                progress->SetProgress(done, total);
            }
        });
    }
    b.progressTimer->start(100);
}

// Starts the next page on the worker; with `first`, its end is reported by OnFirstPageDone.
void StartPage(bool first) {
    Bridge& b = B();
    if (first) {
        b.cancelledAt.reset();
        b.batchResolution = DescribeResolution(b.session->Options());
    }
    b.job = b.session->ScanPage();
    const unsigned serial = ++b.jobSerial;
    if (first) {
        // Called on the worker at each phase change; the GUI thread looks at the job itself.
        QObject* ctx = b.context.get();
        auto post = [ctx, serial] {
            QMetaObject::invokeMethod(ctx, Guarded([serial] { OnFirstPageDone(serial); }),
                                      Qt::QueuedConnection);
        };
        b.job->SetNotifier(post);
        // A phase reached before the notifier was set would go unnoticed.
        post();
    }
    StartProgress();
}

// The first page of a batch has ended (state 5): announce it, or report why not.
void OnFirstPageDone(unsigned serial) {
    Bridge& b = B();
    if (serial != b.jobSerial || !b.job || b.state != 5 ||
        b.job->CurrentPhase() != PageJob::Phase::Done)
        return;
    const Status status = b.job->Result();
    // A feeder goes on with the next sheet once this one is taken: its progress stays up.
    if (status != Status::Good || !b.feeder)
        StopProgress();
    if (status == Status::Good) {
        b.readyPage = b.job->TakeDib();
        KeepPageResolution(*b.job);
        b.job.reset();
        b.state = 6;
        Notify(MSG_XFERREADY);
        return;
    }
    b.job.reset();
    b.session->EndBatch();
    // An empty feeder at the first page is an error the user must mend; later it only ends the
    // batch (see MSG_ENDXFER).
    ShowMessage(QString::fromStdString(StatusMessage(status)));
    // Without a dialog there is nothing to try again from: the application gets its window back.
    if (!b.dialog)
        Notify(MSG_CLOSEDSREQ);
}

// The first page has ended in cancelling, or the backend has not let go of it in time.
void EndFirstPageCancelled() {
    Bridge& b = B();
    AbandonJob();
    StopProgress();
    b.session->EndBatch();
    if (!b.dialog)
        Notify(MSG_CLOSEDSREQ);
}

// "Abbrechen" in the progress: the scanner is told at once; a page the backend does not give up
// within the grace is left to it.
void UserCancel() {
    Bridge& b = B();
    if (!b.session)
        return;
    b.session->Cancel();
    if (!b.job)
        return;
    b.cancelledAt = std::chrono::steady_clock::now();
    // Nobody on this side waits for a first page: its end is looked at after the grace.
    if (b.state == 5)
        QTimer::singleShot(CancelGrace + std::chrono::milliseconds(50), b.context.get(),
                           Guarded([serial = b.jobSerial] {
                               const Bridge& br = B();
                               if (serial == br.jobSerial && br.job && br.state == 5)
                                   EndFirstPageCancelled();
                           }));
}

// Runs the GUI thread's events until the job has reached `phase`, so that the progress window
// and its "Abbrechen" stay alive while the GUI thread waits for the scanner. False when the user
// has cancelled and the backend has not come back within the grace.
bool WaitPumping(PageJob& job, PageJob::Phase phase) {
    while (!job.WaitFor(phase, 10)) {
        if (CancelGraceOver())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// ---- capabilities -------------------------------------------------------------------------

TW_FIX32 ToFix32(double v) {
    const auto x = static_cast<TW_INT32>(std::lround(v * 65536.0));
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(x >> 16);
    f.Frac = static_cast<TW_UINT16>(x & 0xFFFF);
    return f;
}
double FromFix32(TW_FIX32 f) {
    return f.Whole + f.Frac / 65536.0;
}
TW_UINT32 Fix32Bits(double v) {
    const TW_FIX32 f = ToFix32(v);
    TW_UINT32 bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

template <class T> T* NewContainer(TW_CAPABILITY& cap, TW_UINT16 type, std::size_t size) {
    cap.hContainer = B().entry.DSM_MemAllocate
                         ? B().entry.DSM_MemAllocate(static_cast<TW_UINT32>(size))
                         : nullptr;
    cap.ConType = type;
    return static_cast<T*>(cap.hContainer);
}

TW_UINT16 OneValue(TW_CAPABILITY& cap, TW_UINT16 itemType, TW_UINT32 item) {
    auto* one = NewContainer<TW_ONEVALUE>(cap, TWON_ONEVALUE, sizeof(TW_ONEVALUE));
    if (!one)
        return Fail(TWCC_LOWMEMORY);
    one->ItemType = itemType;
    one->Item = item;
    return TWRC_SUCCESS;
}

TW_UINT16 GetResolution(TW_CAPABILITY& cap, TW_UINT16 msg) {
    Bridge& b = B();
    // With a page ready or in hand, the resolution is the one that page was scanned at, which
    // the user may have set in the dialog; nothing can be negotiated any more.
    if (b.state >= 6 && b.pageDpiX > 0)
        return OneValue(cap, TWTY_FIX32,
                        Fix32Bits(cap.Cap == ICAP_YRESOLUTION ? b.pageDpiY : b.pageDpiX));
    const ResolutionCap r = b.state >= 6 && b.batchResolution
                                ? *b.batchResolution
                                : DescribeResolution(b.session->Options());
    if (r.kind == ResolutionCap::Kind::None)
        return Fail(TWCC_CAPUNSUPPORTED);
    if (msg != MSG_GET || r.kind == ResolutionCap::Kind::OneValue)
        return OneValue(cap, TWTY_FIX32, Fix32Bits(r.current));
    if (r.kind == ResolutionCap::Kind::Range) {
        auto* range = NewContainer<TW_RANGE>(cap, TWON_RANGE, sizeof(TW_RANGE));
        if (!range)
            return Fail(TWCC_LOWMEMORY);
        range->ItemType = TWTY_FIX32;
        range->MinValue = Fix32Bits(r.min);
        range->MaxValue = Fix32Bits(r.max);
        range->StepSize = Fix32Bits(r.step);
        range->DefaultValue = Fix32Bits(r.current);
        range->CurrentValue = Fix32Bits(r.current);
        return TWRC_SUCCESS;
    }
    const std::size_t n = r.values.size();
    auto* list = NewContainer<TW_ENUMERATION>(cap, TWON_ENUMERATION,
                                              offsetof(TW_ENUMERATION, ItemList) + 4 * n);
    if (!list)
        return Fail(TWCC_LOWMEMORY);
    list->ItemType = TWTY_FIX32;
    list->NumItems = static_cast<TW_UINT32>(n);
    list->CurrentIndex = static_cast<TW_UINT32>(r.currentIndex);
    list->DefaultIndex = static_cast<TW_UINT32>(r.currentIndex);
    for (std::size_t i = 0; i < n; ++i) {
        const TW_UINT32 bits = Fix32Bits(r.values[i]);
        std::memcpy(list->ItemList + 4 * i, &bits, 4);
    }
    return TWRC_SUCCESS;
}

// A wanted resolution from a TW_ONEVALUE of any numeric item type.
bool ReadWanted(const TW_CAPABILITY& cap, double* dpi) {
    if (cap.ConType != TWON_ONEVALUE || !cap.hContainer)
        return false;
    TW_ONEVALUE one;
    std::memcpy(&one, cap.hContainer, sizeof one);
    switch (one.ItemType) {
    case TWTY_FIX32: {
        TW_FIX32 f;
        std::memcpy(&f, &one.Item, 4);
        *dpi = FromFix32(f);
        return true;
    }
    case TWTY_INT16:
        *dpi = static_cast<TW_INT16>(one.Item);
        return true;
    case TWTY_UINT16:
        *dpi = static_cast<TW_UINT16>(one.Item);
        return true;
    case TWTY_INT32:
        *dpi = static_cast<TW_INT32>(one.Item);
        return true;
    case TWTY_UINT32:
        *dpi = one.Item;
        return true;
    default:
        return false;
    }
}

TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
    Bridge& b = B();
    if (!cap)
        return Fail(TWCC_BADVALUE);
    if (b.state < 4)
        return Fail(TWCC_SEQERROR);
    switch (cap->Cap) {
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
        if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT)
            return GetResolution(*cap, msg);
        if (msg == MSG_SET || msg == MSG_RESET) {
            if (b.state != 4)
                return Fail(TWCC_SEQERROR);
            double wanted = 0;
            if (msg == MSG_SET && !ReadWanted(*cap, &wanted))
                return Fail(TWCC_BADVALUE);
            if (msg == MSG_RESET)
                wanted = 300;
            if (wanted <= 0)
                return Fail(TWCC_BADVALUE);
            double actual = 0;
            if (b.session->SetResolution(wanted, &actual) != Status::Good)
                return Fail(TWCC_BADVALUE);
            // The scanner took a nearby value: the application must read it back.
            return std::fabs(actual - wanted) < 0.01 ? TWRC_SUCCESS : TWRC_CHECKSTATUS;
        }
        return Fail(TWCC_BADPROTOCOL);
    case ICAP_XFERMECH:
        if (msg == MSG_SET) {
            TW_ONEVALUE one{};
            if (cap->hContainer)
                std::memcpy(&one, cap->hContainer, sizeof one);
            return one.Item == 0 ? TWRC_SUCCESS : Fail(TWCC_BADVALUE); // native only
        }
        return OneValue(*cap, TWTY_UINT16, 0);
    case CAP_XFERCOUNT:
        if (msg == MSG_SET)
            return TWRC_SUCCESS;
        return OneValue(*cap, TWTY_INT16, static_cast<TW_UINT16>(-1));
    default:
        return Fail(TWCC_CAPUNSUPPORTED);
    }
}

// ---- states -------------------------------------------------------------------------------

// The scan settings the user left in the dialog last time; a value the device no longer takes
// is skipped.
void RestoreOptions() {
    Bridge& b = B();
    const std::vector<OptionDesc> options = b.session->Options();
    for (const auto& [name, value] : ReadSavedOptions(b.device.name)) {
        for (const OptionDesc& o : options) {
            if (o.name != name)
                continue;
            if (o.type == OptionType::String) {
                b.session->SetOption(name, value);
            } else {
                char* end = nullptr;
                const double v = std::strtod(value.c_str(), &end);
                if (end && *end == '\0' && end != value.c_str())
                    b.session->SetOption(name, v);
            }
        }
    }
}

void SaveOptions() {
    Bridge& b = B();
    SavedOptions saved;
    for (const OptionDesc& o : b.session->Options()) {
        if (!IsKeptOption(o.name) || !o.active || !o.settable)
            continue;
        if (o.type == OptionType::String)
            saved.emplace_back(o.name, o.text);
        else if (!o.numbers.empty())
            saved.emplace_back(o.name, QString::number(o.numbers.front(), 'g', 10).toStdString());
    }
    WriteSavedOptions(b.device.name, saved);
}

TW_UINT16 Open(TW_IDENTITY* id) {
    Bridge& b = B();
    if (b.state != 3)
        return Fail(TWCC_SEQERROR);
    if (id)
        b.self.Id = id->Id;
    StopButtonWatch();
    JoinClosing();
    std::lock_guard<std::mutex> turn(sessionUse);
    b.session = std::make_unique<SaneSession>(DibMemory{AllocatePage, ReleasePage});
    const std::vector<Device> devices = b.session->Devices();
    const int chosen = ChooseDevice(devices, ReadDefaultDevice());
    if (chosen < 0) {
        b.session.reset();
        ShowMessage(QStringLiteral("Es wurde kein Scanner gefunden. Bitte schließen Sie einen "
                                   "Scanner an und schalten Sie ihn ein."));
        return Fail(TWCC_NODS);
    }
    b.device = devices[static_cast<std::size_t>(chosen)];
    const Status s = b.session->Open(b.device.name);
    if (s != Status::Good) {
        b.session.reset();
        ShowMessage(QString::fromStdString(StatusMessage(s)));
        return Fail(TWCC_OPERATIONERROR);
    }
    openDevice = b.device;
    RestoreOptions();
    b.context = std::make_unique<QObject>();
    b.state = 4;
    return TWRC_SUCCESS;
}

void CloseDialog() {
    Bridge& b = B();
    StopPreview();
    if (b.dialog) {
        b.dialog->hide();
        b.dialog->deleteLater();
    }
    b.dialog = nullptr;
}

TW_UINT16 Close() {
    Bridge& b = B();
    if (b.state < 4)
        return Fail(TWCC_SEQERROR);
    StopPreview();
    DropJob();
    b.abandoned.reset();
    CloseDialog();
    {
        std::lock_guard<std::mutex> turn(sessionUse);
        openDevice.reset();
    }
    // A backend may need as long as the page it is fetching to close a cancelled batch
    // (sane-airscan waits for the device's answer to the request in flight). The user has
    // cancelled and gets the window back at once: the session closes on a thread of its own,
    // which the next opening and the device listing wait for.
    JoinClosing();
    {
        std::lock_guard<std::mutex> lock(closingUse);
        b.closing = std::thread([session = std::move(b.session)]() mutable {
            std::lock_guard<std::mutex> turn(sessionUse);
            session.reset(); // joins the worker after sane_close and sane_exit
        });
    }
    EndProgress();
    b.progressTimer = nullptr;
    b.context.reset();
    b.state = 3;
    return TWRC_SUCCESS;
}

TW_UINT16 Enable(TW_USERINTERFACE* ui) {
    Bridge& b = B();
    if (b.state != 4 || !ui)
        return Fail(b.state != 4 ? TWCC_SEQERROR : TWCC_BADVALUE);
    b.showUI = ui->ShowUI != 0;
    b.pagesDelivered = 0;
    b.pageDpiX = b.pageDpiY = 0;
    b.feeder = b.session->FeederSelected();
    b.state = 5;
    if (!b.showUI) {
        // Fast copy: the batch starts at once, on the worker; MSG_ENABLEDS returns now.
        StartPage(true);
        return TWRC_SUCCESS;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // No GUI to show a dialog in: scan without it, as the standard allows.
        StartPage(true);
        return TWRC_CHECKSTATUS;
    }
    b.dialog =
        new SaneDialog(*b.session, QString::fromStdString(DeviceLabel(b.device)), ShowMessage);
    QObject::connect(b.dialog, &SaneDialog::ScanRequested, b.context.get(), Guarded([] {
                         Bridge& br = B();
                         if (br.state == 5 && !br.job && !WorkerBusy() &&
                             !br.dialog->PreviewRunning()) {
                             SaveOptions();
                             br.pagesDelivered = 0;
                             br.feeder = br.session->FeederSelected();
                             StartPage(true);
                         }
                     }));
    // The preview waits, like a scan, until the scanner has let go of a page given up on.
    QObject::connect(b.dialog, &SaneDialog::PreviewRequested, b.context.get(), Guarded([] {
                         Bridge& br = B();
                         if (br.state == 5 && !br.job && !WorkerBusy() && br.dialog)
                             br.dialog->StartPreview();
                     }));
    QObject::connect(b.dialog, &SaneDialog::CloseRequested, b.context.get(), Guarded([] {
                         if (B().job)
                             B().session->Cancel();
                         Notify(MSG_CLOSEDSREQ);
                     }));
    QObject::connect(b.dialog->Progress(), &ScanProgress::CancelRequested, b.context.get(),
                     Guarded(UserCancel));
    b.dialog->show();
    return TWRC_SUCCESS;
}

TW_UINT16 Disable() {
    Bridge& b = B();
    if (b.state != 5)
        return Fail(TWCC_SEQERROR);
    StopPreview();
    DropJob();
    b.session->EndBatch();
    // What the user set in the dialog holds for the next acquisition, fast copy included (kept
    // as the scan started, when the scanner still holds on to a cancelled page).
    if (b.dialog && !WorkerBusy())
        SaveOptions();
    CloseDialog();
    EndProgress();
    b.state = 4;
    return TWRC_SUCCESS;
}

TW_UINT16 NativeTransfer(TW_HANDLE* out) {
    Bridge& b = B();
    if (b.state != 6 || !out)
        return Fail(b.state != 6 ? TWCC_SEQERROR : TWCC_BADVALUE);
    *out = nullptr;
    if (!b.readyPage && b.job) {
        // A later page of a feeder batch: it is being read now, its progress shown since it
        // started.
        if (!WaitPumping(*b.job, PageJob::Phase::Done)) {
            AbandonJob();
            StopProgress();
            b.session->EndBatch();
            b.condition = TWCC_SUCCESS;
            return TWRC_CANCEL;
        }
        const Status s = b.job->Result();
        b.readyPage = b.job->TakeDib();
        KeepPageResolution(*b.job);
        b.job.reset();
        if (s != Status::Good) {
            StopProgress();
            b.session->EndBatch();
            if (s != Status::Cancelled)
                ShowMessage(QString::fromStdString(StatusMessage(s)));
            b.condition = s == Status::Cancelled ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
            return s == Status::Cancelled ? TWRC_CANCEL : TWRC_FAILURE;
        }
    }
    if (!b.readyPage)
        return Fail(TWCC_SEQERROR);
    *out = b.readyPage;
    b.readyPage = nullptr;
    ++b.pagesDelivered;
    b.state = 7;
    // The scanner feeds the next sheet while the application handles this one.
    if (b.feeder)
        StartPage(false);
    return TWRC_XFERDONE;
}

TW_UINT16 PendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending) {
    Bridge& b = B();
    if (!pending)
        return Fail(TWCC_BADVALUE);
    if (msg == MSG_GET) {
        pending->Count = b.state == 6 ? (b.feeder ? 0xFFFF : 1) : 0;
        return TWRC_SUCCESS;
    }
    if (msg == MSG_RESET) {
        if (b.state != 6)
            return Fail(TWCC_SEQERROR);
        DropJob();
        b.session->EndBatch();
        pending->Count = 0;
        b.state = 5;
        return TWRC_SUCCESS;
    }
    if (msg != MSG_ENDXFER)
        return Fail(TWCC_BADPROTOCOL);
    if (b.state != 7)
        return Fail(TWCC_SEQERROR);
    pending->Count = 0;
    b.state = 5;
    if (b.job) {
        // Whether another sheet is there is known once the scanner has tried to feed it.
        const bool answered = WaitPumping(*b.job, PageJob::Phase::Reading);
        const Status s = answered ? b.job->Result() : Status::Cancelled;
        if (s == Status::Good) {
            pending->Count = 0xFFFF; // a feeder: the number of sheets left is unknown
            b.state = 6;
        } else {
            if (answered && WaitPumping(*b.job, PageJob::Phase::Done))
                ReleasePage(b.job->TakeDib());
            AbandonJob();
            b.session->EndBatch();
            // An empty feeder after the first page is the batch's normal end; anything else
            // ends it too, keeping the pages already delivered.
            if (s != Status::NoDocs && s != Status::Cancelled)
                ShowMessage(QString::fromStdString(StatusMessage(s)));
        }
    }
    if (b.state == 5)
        StopProgress();
    return TWRC_SUCCESS;
}

TW_UINT16 Entry(TW_IDENTITY* origin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, void* data) {
    Bridge& b = B();
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_GET) {
        if (!data)
            return Fail(TWCC_BADVALUE);
        FillIdentity(*static_cast<TW_IDENTITY*>(data));
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_ENTRYPOINT && MSG == MSG_SET) {
        if (!data)
            return Fail(TWCC_BADVALUE);
        std::memcpy(&b.entry, data,
                    std::min<std::size_t>(sizeof b.entry, static_cast<TW_ENTRYPOINT*>(data)->Size));
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_STATUS && MSG == MSG_GET) {
        if (!data)
            return TWRC_FAILURE;
        auto* status = static_cast<TW_STATUS*>(data);
        status->ConditionCode = b.condition;
        status->Reserved = 0;
        b.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_OPENDS) {
        if (origin)
            b.app = *origin;
        FillIdentity(b.self);
        return Open(static_cast<TW_IDENTITY*>(data));
    }
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_CLOSEDS)
        return Close();
    if (DG == DG_CONTROL && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {
        // Notices travel through the manager's mailbox; events of our windows through Qt.
        if (auto* event = static_cast<TW_EVENT*>(data))
            event->TWMessage = MSG_NULL;
        return TWRC_NOTDSEVENT;
    }
    if (DG == DG_CONTROL && DAT == DAT_CAPABILITY)
        return Capability(MSG, static_cast<TW_CAPABILITY*>(data));
    if (DG == DG_CONTROL && DAT == DAT_USERINTERFACE && MSG == MSG_ENABLEDS)
        return Enable(static_cast<TW_USERINTERFACE*>(data));
    if (DG == DG_CONTROL && DAT == DAT_USERINTERFACE && MSG == MSG_DISABLEDS)
        return Disable();
    if (DG == DG_IMAGE && DAT == DAT_IMAGENATIVEXFER && MSG == MSG_GET)
        return NativeTransfer(static_cast<TW_HANDLE*>(data));
    if (DG == DG_CONTROL && DAT == DAT_PENDINGXFERS)
        return PendingTransfers(MSG, static_cast<TW_PENDINGXFERS*>(data));
    return Fail(TWCC_BADPROTOCOL);
}

} // namespace

extern "C" __attribute__((visibility("default"))) TW_UINT16
DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData) {
    // Nothing may unwind into the manager.
    try {
        return Entry(pOrigin, DG, DAT, MSG, pData);
    } catch (const std::bad_alloc&) {
        return Fail(TWCC_LOWMEMORY);
    } catch (...) {
        return Fail(TWCC_BUMMER);
    }
}

extern "C" __attribute__((visibility("default"))) void
VelmoraSane_SetMessageHook(VelmoraSane_MessageFn fn, void* context) {
    messageHook = fn;
    messageContext = context;
}

extern "C" __attribute__((visibility("default"))) int VelmoraDS_ListDevices(VelmoraDS_DeviceFn fn,
                                                                            void* context) {
    if (!fn)
        return -1;
    try {
        std::vector<Device> devices;
        StopButtonWatch();
        JoinClosing();
        {
            std::lock_guard<std::mutex> turn(sessionUse);
            if (openDevice) {
                devices.push_back(*openDevice);
            } else {
                SaneSession session(DibMemory{AllocatePage, ReleasePage});
                if (session.InitStatus() != Status::Good)
                    return -1;
                devices = session.Devices();
            }
        }
        const int chosen = ChooseDevice(devices, ReadDefaultDevice());
        const std::vector<std::string> labels = DeviceLabels(devices);
        for (std::size_t i = 0; i < devices.size(); ++i)
            fn(context, devices[i].name.c_str(), labels[i].c_str(), static_cast<int>(i) == chosen);
        return static_cast<int>(devices.size());
    } catch (...) {
        return -1;
    }
}

extern "C" __attribute__((visibility("default"))) int VelmoraDS_SetDefaultDevice(const char* name) {
    try {
        return name && WriteDefaultDevice(name) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" __attribute__((visibility("default"))) void VelmoraDS_WatchButtons(VelmoraDS_ButtonFn fn,
                                                                              void* context) {
    try {
        static const bool stopAtExit = [] {
            // The watch's session ends before SANE's libraries go.
            std::atexit(StopButtonWatch);
            return true;
        }();
        static_cast<void>(stopAtExit);
        std::lock_guard<std::mutex> lock(watchUse);
        buttonWatch.reset();
        if (!fn)
            return;
        buttonWatch = std::make_unique<ButtonWatch>(
            TakeSessionTurn, [fn, context](ButtonWatch::Event event, const std::string& detail) {
                int code = VelmoraDS_ButtonPressed;
                switch (event) {
                case ButtonWatch::Event::Watching:
                    code = VelmoraDS_ButtonWatching;
                    break;
                case ButtonWatch::Event::NoButton:
                    code = VelmoraDS_ButtonNone;
                    break;
                case ButtonWatch::Event::NoDevice:
                    code = VelmoraDS_ButtonNoDevice;
                    break;
                case ButtonWatch::Event::Pressed:
                    break;
                }
                fn(context, code, detail.c_str());
            });
    } catch (...) {
        if (fn)
            fn(context, VelmoraDS_ButtonNoDevice,
               "Die Scannertasten können nicht überwacht werden.");
    }
}

extern "C" __attribute__((visibility("default"))) void VelmoraDS_StopButtons() {
    StopButtonWatch();
}

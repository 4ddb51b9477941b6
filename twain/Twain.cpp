#include "twain/Twain.h"

#include "dsm/VelmoraDsm.h"
#include "platform/Dialogs.h"
#include "platform/VelmoraPaths.h"
#include "twain/TwainData.h"
#include "twain/twainh.h"

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <malloc.h>
#include <thread>
#include <utility>

// How the session reaches the loaded manager's memory. Our own manager hands out its functions
// (DAT_ENTRYPOINT) and tells the size of each of its blocks; the official Linux manager's blocks
// are plain C heap blocks.
struct TManagerMemory {
    DSM_MEMALLOCATE Allocate = nullptr;
    DSM_MEMFREE Free = nullptr;
    DSM_MEMLOCK Lock = nullptr;
    DSM_MEMUNLOCK Unlock = nullptr;
    std::size_t (*BlockSize)(void*) = nullptr;

    void* Alloc(std::size_t size) const {
        return Allocate ? Allocate(static_cast<TW_UINT32>(size)) : std::calloc(size, 1);
    }
    void Release(void* handle) const {
        if (Free)
            Free(handle);
        else
            std::free(handle);
    }
    void* Access(void* handle) const { return Lock ? Lock(handle) : handle; }
    void Done(void* handle) const {
        if (Unlock)
            Unlock(handle);
    }
    // 0 when the handle is not a block the manager knows.
    std::size_t Size(void* handle) const {
        return BlockSize ? BlockSize(handle) : malloc_usable_size(handle);
    }
};

namespace {

// Process-wide, as the application has one identity towards every manager.
TW_IDENTITY AppIdentity;
void* DSMLibrary = nullptr;
DSMENTRYPROC DSMEntry = nullptr;
TW_HANDLE DSMParent = nullptr;

void CopyText(char (&field)[34], const char* text) {
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text, sizeof field - 1);
}

const char* const ErrorDetails[] = {
    "[keine Details verfügbar]",
    "",
    "DAT_CAPABILITY/MSG_GET fehlgeschlagen",
    "DAT_CAPABILITY/MSG_SET fehlgeschlagen",
    "Source Manager Operation fehlgeschlagen",
    "DataSource Operation fehlgeschlagen",
    "",
    "TWAIN Session nicht im Status 4 (Source Open)",
    "MSG_GET liefert ein 0 - Container handle zurück",
    "MSG_GET lieferte ein ungültiges  Container Handle zurück",
    "Der gelieferte Container ist ungültig",
    "ItemType vom  gelieferten Container ist ungültig",
    "Der gelieferte Container ist leer",
    "Anwendung und Source: keine Werteübereinstimmung",
};

const char* const ResultTexts[] = {
    "TWRC_SUCCESS",  "TWRC_FAILURE",   "TWRC_CHECKSTATUS ('tried hard')",
    "TWRC_CANCEL",   "TWRC_DSEVENT",   "TWRC_NOTDSEVENT",
    "TWRC_XFERDONE", "TWRC_ENDOFLIST",
};

const char* const ConditionTexts[] = {
    "TWCC_SUCCESS",
    "TWCC_Bummer (Ursache unbekannt)",
    "TWCC_LowMemory",
    "TWCC_NODS (keine Datasource)",
    "TWCC_MAXCONNECTIONS (DS ist mit den maximal möglichen Anwendungen verbunden)",
    "TWCC_OPERATIONERROR (DS oder DSM meldeten Fehler, die Applikation sollte laufen))",
    "TWCC_BADCAP (Unbekannte Capability)",
    "7 (nicht definiert)",
    "8 (nicht definiert)",
    "TWCC_BADPROTOCOL (nicht erkanntes Triplet)",
    "TWCC_BADVALUE (Datenparameter außerhalb Bereich)",
    "TWCC_SEQERROR (Triplet außerhalb Sequenz)",
    "TWCC_BADDEST (Unbekanntes Ziel  Appl/Source in DSM_Entry-Proz.)",
};

// Codes beyond the tables are shown the way the tables show their own gaps.
template <std::size_t N> QString TableText(const char* const (&table)[N], std::uint32_t code) {
    if (code < N)
        return QString::fromUtf8(table[code]);
    return QStringLiteral("%1 (nicht definiert)").arg(code);
}

// Where Velmora's manager is: VELMORA_TWAIN_DSM names another one (a test build, or the
// official Linux manager); otherwise Velmora's own, in the build tree or the install.
QString ManagerPath() {
    const QString configured = qEnvironmentVariable("VELMORA_TWAIN_DSM");
    if (!configured.isEmpty())
        return configured;
    return VelmoraFile(TVelmoraFiles::TwainManager, QStringLiteral("libvelmora-twaindsm.so"));
}

// Sees a quit request pass by while the acquisition loop runs; the request itself goes on to
// the application, which ends through its normal shut-down once the loop has returned.
class QuitWatcher final : public QObject {
public:
    QuitWatcher() {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Quit)
            Seen = true;
        return false;
    }
    bool Seen = false;
};

// The pseudo event handed to the source on every wake-up of the loop; sources never look into
// it (see dsm/README.md).
struct TPseudoEvent {
    int Kind = 0;
};

// Puts a window back into service however the acquisition ends.
class WindowDisabler {
public:
    explicit WindowDisabler(QWidget* wnd) : m_wnd(wnd) {
        if (m_wnd)
            m_wnd->setEnabled(false);
    }
    ~WindowDisabler() {
        if (m_wnd)
            m_wnd->setEnabled(true);
    }
    WindowDisabler(const WindowDisabler&) = delete;
    WindowDisabler& operator=(const WindowDisabler&) = delete;

private:
    QWidget* m_wnd;
};

// A transferred page copied into Velmora's own block (or decoded, for a TIFF), with the manager's
// block released at once; nullptr for a null handle or a page that cannot be read. A handle the
// manager does not know is neither read nor freed: either could fault.
HGLOBAL TakeNativeImage(const TManagerMemory& memory, TW_HANDLE handle) {
    if (!handle)
        return nullptr;
    const std::size_t size = memory.Size(handle);
    if (size == 0)
        return nullptr;
    const auto* data = static_cast<const unsigned char*>(memory.Access(handle));
    HGLOBAL dib = data ? NativeImageToDib(data, size) : nullptr;
    if (data)
        memory.Done(handle);
    memory.Release(handle);
    return dib;
}

// How often the acquisition loop polls the source when nothing else wakes it.
constexpr int PollIntervalMs = 20;

} // namespace

// The watch of the scanner's buttons. The manager calls back on a thread of the source's; each
// notice is handed to the GUI thread through Receiver's queue, tagged with the watch it belongs
// to, and dropped there when that watch has been stopped or replaced in the meantime.
struct TButtonWatch {
    QObject Receiver;
    unsigned Generation = 0; // GUI thread only
    TTwain::ButtonNotice Notice;
    bool Watching = false;
    VelmoraDS_StopButtonsFn Stop = nullptr;
    // What the manager gets as context: the watch and its generation, alive until it is stopped.
    struct Context {
        TButtonWatch* Owner;
        unsigned Generation;
    };
    std::unique_ptr<Context> Current;

    void Deliver(unsigned Gen, int Event, const QString& Detail) {
        if (Gen != Generation || !Watching)
            return;
        TTwain::ButtonEvent event = TTwain::ButtonEvent::Pressed;
        switch (Event) {
        case VelmoraDS_ButtonWatching:
            event = TTwain::ButtonEvent::Watching;
            break;
        case VelmoraDS_ButtonNone:
            event = TTwain::ButtonEvent::NoButton;
            break;
        case VelmoraDS_ButtonNoDevice:
            event = TTwain::ButtonEvent::NoDevice;
            break;
        case VelmoraDS_ButtonPressed:
            break;
        default:
            return;
        }
        // The watch has ended by itself; the scanner is free.
        if (event == TTwain::ButtonEvent::NoButton || event == TTwain::ButtonEvent::NoDevice)
            Watching = false;
        // The notice may start or stop a watch, replacing the one it is called from.
        const TTwain::ButtonNotice notice = Notice;
        if (notice)
            notice(event, Detail);
    }
};

namespace {

void ButtonTrampoline(void* Context, int Event, const char* Detail) {
    const auto* context = static_cast<const TButtonWatch::Context*>(Context);
    TButtonWatch* owner = context->Owner;
    const unsigned gen = context->Generation;
    const QString detail = QString::fromUtf8(Detail ? Detail : "");
    QMetaObject::invokeMethod(
        &owner->Receiver, [owner, gen, Event, detail] { owner->Deliver(gen, Event, detail); },
        Qt::QueuedConnection);
}

} // namespace

TTwain::TTwain()
    : SourceIdentity(std::make_unique<TW_IDENTITY>()),
      UserInterface(std::make_unique<TW_USERINTERFACE>()),
      PendingXfers(std::make_unique<TW_PENDINGXFERS>()), Memory(std::make_unique<TManagerMemory>()),
      Buttons(std::make_unique<TButtonWatch>()) {
    std::memset(&AppIdentity, 0, sizeof AppIdentity);
    AppIdentity.Id = 0;
    AppIdentity.Version.MajorNum = 1;
    AppIdentity.Version.MinorNum = 0;
    AppIdentity.Version.Language = TWLG_GERMAN;
    AppIdentity.Version.Country = TWCY_GERMANY;
    CopyText(AppIdentity.Version.Info, "<?>");
    AppIdentity.ProtocolMajor = 1;
    AppIdentity.ProtocolMinor = 6;
    AppIdentity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyText(AppIdentity.Manufacturer, "<?>");
    CopyText(AppIdentity.ProductFamily, "<?>");
    CopyText(AppIdentity.ProductName, "<?>");
    std::memset(SourceIdentity.get(), 0, sizeof(TW_IDENTITY));
    std::memset(UserInterface.get(), 0, sizeof(TW_USERINTERFACE));
    std::memset(PendingXfers.get(), 0, sizeof(TW_PENDINGXFERS));
}

// Freeing the session closes nothing: the workflow closes every session it opens. The images
// of a last acquisition are released, though, so that nothing outlives its owner.
TTwain::~TTwain() {
    StopButtons();
    FreeImages();
}

// ---- Calls ----

bool TTwain::CallSource(std::uint32_t DG, std::uint16_t DAT, std::uint16_t MSG, void* Data) {
    if (State < 4)
        FatalCheck("Status < 4\rProgramm wird beendet");
    ResultCode = TWRC_FAILURE;
    if (DSMEntry)
        ResultCode = DSMEntry(&AppIdentity, SourceIdentity.get(), DG, DAT, MSG, Data);
    return ResultCode == TWRC_SUCCESS;
}

bool TTwain::CallManager(std::uint32_t DG, std::uint16_t DAT, std::uint16_t MSG, void* Data) {
    ResultCode = TWRC_FAILURE;
    if (DSMEntry)
        ResultCode = DSMEntry(&AppIdentity, nullptr, DG, DAT, MSG, Data);
    return ResultCode == TWRC_SUCCESS;
}

// ---- Session ----

bool TTwain::LoadDSM() {
    if (State >= 2)
        return true;
    const QByteArray path = QFile::encodeName(ManagerPath());
    // The manager shows Qt dialogs, and Qt keeps pointers into the code that made them (meta
    // types, static strings) until the process ends, so the library must never be unmapped.
    DSMLibrary = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (DSMLibrary) {
        DSMEntry = reinterpret_cast<DSMENTRYPROC>(dlsym(DSMLibrary, "DSM_Entry"));
        if (DSMEntry) {
            State = 2;
        } else {
            dlclose(DSMLibrary);
            DSMLibrary = nullptr;
        }
    } else {
        DSMEntry = nullptr;
    }
    return State >= 2;
}

bool TTwain::WatchButtons(ButtonNotice Notice) {
    StopButtons();
    // A handle of its own on the manager: the acquisition's loading and unloading stay as they
    // are, and the library is never unmapped while a source's thread may call back into it.
    void* lib =
        dlopen(QFile::encodeName(ManagerPath()).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!lib)
        return false;
    const auto watch =
        reinterpret_cast<decltype(&VelmoraDSM_WatchButtons)>(dlsym(lib, "VelmoraDSM_WatchButtons"));
    const auto stop =
        reinterpret_cast<decltype(&VelmoraDSM_StopButtons)>(dlsym(lib, "VelmoraDSM_StopButtons"));
    dlclose(lib);
    if (!watch || !stop)
        return false;
    TButtonWatch& b = *Buttons;
    b.Current = std::make_unique<TButtonWatch::Context>(TButtonWatch::Context{&b, ++b.Generation});
    b.Notice = std::move(Notice);
    b.Stop = stop;
    b.Watching = true;
    if (watch(ButtonTrampoline, b.Current.get()) == 0) {
        b.Watching = false;
        b.Notice = nullptr;
        return false;
    }
    return true;
}

void TTwain::StopButtons() {
    TButtonWatch& b = *Buttons;
    if (!b.Current)
        return;
    // Notices of this watch already queued are dropped by their generation.
    ++b.Generation;
    b.Stop();
    b.Current.reset();
    b.Notice = nullptr;
    b.Watching = false;
}

bool TTwain::WatchingButtons() const {
    return Buttons->Watching;
}

bool TTwain::OpenDSM(QWidget* Wnd) {
    DSMParent = Wnd;
    if (LoadDSM() && CallManager(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &DSMParent)) {
        State = std::max(State, 3);
        // The manager's memory functions, when it offers them (our own always does; the call is
        // the session's own business and leaves the result code of the open alone).
        TW_ENTRYPOINT entry{};
        entry.Size = sizeof entry;
        const std::uint16_t openResult = ResultCode;
        *Memory = TManagerMemory{};
        if (CallManager(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &entry) && entry.DSM_MemAllocate &&
            entry.DSM_MemFree && entry.DSM_MemLock && entry.DSM_MemUnlock) {
            Memory->Allocate = entry.DSM_MemAllocate;
            Memory->Free = entry.DSM_MemFree;
            Memory->Lock = entry.DSM_MemLock;
            Memory->Unlock = entry.DSM_MemUnlock;
            Memory->BlockSize =
                reinterpret_cast<std::size_t (*)(void*)>(dlsym(DSMLibrary, "VelmoraDSM_BlockSize"));
        }
        ResultCode = openResult;
    }
    return State >= 3;
}

bool TTwain::OpenSource() {
    if (State != 3)
        return false;
    SourceIdentity->Id = 0;
    std::memset(SourceIdentity->ProductName, 0, sizeof SourceIdentity->ProductName);
    if (CallManager(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, SourceIdentity.get()))
        State = 4;
    else
        NoteError(4);
    return State == 4;
}

bool TTwain::EnableSource(QWidget* Wnd) {
    if (State != 4)
        return false;
    UserInterface->ShowUI = HideUI ? 0 : 1;
    UserInterface->ModalUI = 0;
    UserInterface->hParent = Wnd;
    CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, UserInterface.get());
    // TWRC_CHECKSTATUS means the source could not hide its dialog: it is enabled all the same.
    if (ResultCode == TWRC_FAILURE)
        NoteError(5);
    else
        State = 5;
    return State == 5;
}

bool TTwain::DisableSource() {
    if (State == 5 && CallSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, UserInterface.get()))
        State = 4;
    return State <= 4;
}

bool TTwain::CloseSource() {
    ResultCode = 0;
    if (State == 5)
        DisableSource();
    if (State == 4 && CallManager(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, SourceIdentity.get()))
        State = 3;
    return State <= 3;
}

bool TTwain::CloseDSM(QWidget* Wnd) {
    ResultCode = 0;
    TW_HANDLE parent = Wnd;
    // A source given up may refuse to close as well, and a manager that keeps such a source
    // (the official Linux one does) would keep it, and itself, open for good: every later
    // acquisition would find the session still open and do nothing. Closing the manager shuts
    // a source it still holds down, so it is asked all the same.
    const bool sourceClosed = CloseSource();
    if ((sourceClosed || (GivenUp && State >= 3)) &&
        CallManager(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent))
        State = 2;
    if (GivenUp && State > 2) {
        // The manager would not let go either: it is unloaded anyway, and the application
        // registers afresh (a new identity) when it is loaded again.
        AppIdentity.Id = 0;
        State = 2;
    }
    return State <= 2;
}

bool TTwain::UnloadDSM() {
    if (State == 2) {
        if (DSMLibrary)
            dlclose(DSMLibrary);
        DSMLibrary = nullptr;
        DSMEntry = nullptr;
        *Memory = TManagerMemory{};
        State = 1;
        GivenUp = false;
    }
    return State == 1;
}

void TTwain::GiveUpSource() {
    // The source is treated as disabled, so that closing the session still reaches the
    // manager, which closes any source, and the next acquisition starts afresh.
    State = 4;
    GivenUp = true;
}

void TTwain::EndSession(QWidget* Wnd) noexcept {
    if (State == 1)
        return;
    try {
        // Transfers an error left open are ended as a cancelled batch: the pages still pending
        // are discarded.
        for (int pass = 0; State > 5 && pass < MaxStuckTransferPasses; ++pass)
            FinishTransfer();
        if (State > 5)
            GiveUpSource();
        DisableSource();
        CloseSource();
        CloseDSM(Wnd);
        UnloadDSM();
    } catch (...) {
        // Only a failing message box can raise here; the session is left as far as it got.
    }
}

void TTwain::SetHideUI(bool Flag) {
    HideUI = Flag ? 0xFFFF : 0;
}

int TTwain::LastResultCode() const {
    return static_cast<std::int16_t>(ResultCode);
}

int TTwain::QueryConditionCode() {
    TW_STATUS status{};
    bool ok = false;
    if (State >= 4)
        ok = CallSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    else if (State == 3)
        ok = CallManager(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    else
        return TWCC_SEQERROR;
    return ok ? status.ConditionCode : TWCC_BUMMER;
}

void TTwain::NoteError(int Kind) {
    if (ErrorKind != 0)
        return;
    ErrorKind = static_cast<std::uint8_t>(Kind);
    if (Kind >= 2 && Kind <= 5) {
        ErrorRC = static_cast<std::uint32_t>(LastResultCode());
        ErrorCC = static_cast<std::uint32_t>(QueryConditionCode());
    } else {
        ErrorRC = 0;
        ErrorCC = 0;
    }
}

void TTwain::TwainMessage(const char* Text) {
    ShowMessage(nullptr, QString::fromUtf8(Text).left(255), QStringLiteral("TWAIN-Fehler:"),
                MsgIcon::Warning, MsgOk);
}

void TTwain::ShowErrorReport(const char* Text) {
    const QString detail = TableText(ErrorDetails, ErrorKind);
    QString report;
    if (ErrorKind >= 2 && ErrorKind <= 5)
        report = QStringLiteral(" %1\r %2\r RC:   %3\r CC:   %4")
                     .arg(QString::fromUtf8(Text), detail, TableText(ResultTexts, ErrorRC),
                          TableText(ConditionTexts, ErrorCC));
    else
        report = QStringLiteral(" %1\r %2").arg(QString::fromUtf8(Text), detail);
    TwainMessage(report.toUtf8().constData());
}

// The check shows its text, asks the application to end (the request waits in the event queue
// like any other) and lets the operation go on.
void TTwain::FatalCheck(const char* Text) {
    ShowMessage(nullptr, QString::fromUtf8(Text), QGuiApplication::applicationDisplayName(),
                MsgIcon::None, MsgOk);
    if (QCoreApplication* app = QCoreApplication::instance())
        QCoreApplication::postEvent(app, new QEvent(QEvent::Quit));
}

QWidget* TTwain::CreateAcquireProxy() {
    Q_UNUSED(ProxyInstance)
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    auto* proxy = new QLabel;
    proxy->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint);
    proxy->setWindowTitle(QStringLiteral("Acquire Proxy"));
    proxy->show();
    return proxy;
}

bool TTwain::SelectImageSource(QWidget* Wnd) {
    QWidget* proxy = nullptr;
    // A window pointer is valid when it names a widget that still exists.
    const bool valid = Wnd && qobject_cast<QApplication*>(QCoreApplication::instance()) &&
                       QApplication::allWidgets().contains(Wnd);
    if (!valid) {
        if (Wnd) {
            TwainMessage("SelectImageSource: Handle für ProxyWindow is ungültig");
            return false;
        }
        proxy = CreateAcquireProxy();
        if (!proxy) {
            TwainMessage("SelectImageSource: ProxyWindow kann nicht geöffnet werden");
            return false;
        }
        Wnd = proxy;
    }
    bool result = false;
    if (!LoadDSM()) {
        TwainMessage("Kann Source Manager TWAIN_32.DLLnicht laden");
    } else {
        if (!OpenDSM(Wnd)) {
            TwainMessage("Kann Source Manager TWAIN_32.DLL nicht öffnen");
        } else {
            TW_IDENTITY chosen;
            std::memset(&chosen, 0, sizeof chosen);
            result = CallManager(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen);
            CloseDSM(Wnd);
        }
        UnloadDSM();
    }
    delete proxy;
    return result;
}

// ---- Capabilities ----

bool TTwain::ItemTypesMatch(std::uint16_t Have, std::uint16_t Want) {
    return TwainItemTypesMatch(Have, Want);
}

TW_FIX32 TTwain::FloatToFix32(double X) {
    double v = std::nearbyint(X * 65536.0 + 0.5);
    // Out of range values saturate instead of overflowing the conversion.
    v = std::fmin(std::fmax(v, -2147483648.0), 2147483647.0);
    const auto fixed = static_cast<std::int32_t>(v);
    TW_FIX32 f;
    f.Whole = static_cast<TW_INT16>(fixed >> 16);
    f.Frac = static_cast<TW_UINT16>(fixed & 0xFFFF);
    return f;
}

double TTwain::Fix32ToFloat(const TW_FIX32& F) {
    return (static_cast<double>(F.Whole) * 65536.0 + F.Frac) / 65536.0;
}

bool TTwain::SetCapOneValue(std::uint16_t Cap, std::uint16_t ItemType, std::uint32_t Value) {
    if (State != 4) {
        TwainMessage("Versuch, Capability außerhalb Status 4 zu setzen ('Open')");
        return false;
    }
    void* block = Memory->Alloc(sizeof(TW_ONEVALUE));
    if (!block) {
        TwainMessage("Nicht genug Speicher");
        return false;
    }
    if (auto* one = static_cast<unsigned char*>(Memory->Access(block))) {
        std::memset(one, 0, sizeof(TW_ONEVALUE));
        std::memcpy(one, &ItemType, 2);
        std::memcpy(one + 2, &Value, 4);
        Memory->Done(block);
    }
    TW_CAPABILITY cap{Cap, TWON_ONEVALUE, block};
    const bool ok = CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    Memory->Release(block);
    return ok;
}

bool TTwain::GetCapCurr(std::uint16_t Cap, std::uint16_t ItemType, void* Buffer) {
    if (!Buffer)
        FatalCheck("Pointer in CapCurr.leer\rProgramm wird beendet");
    if (State < 4) {
        TwainMessage("Versuch, Capability unterhalb State 4 (Open) zu erlangen");
        return false;
    }
    TW_CAPABILITY cap{Cap, TWON_ONEVALUE, nullptr};
    const bool ok = CallSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
    bool delivered = false;
    if (cap.hContainer) {
        // A handle the manager does not know is not read and not freed: either could fault.
        if (const std::size_t size = Memory->Size(cap.hContainer)) {
            const auto* data = static_cast<const unsigned char*>(Memory->Access(cap.hContainer));
            if (ok && data && Buffer)
                delivered = ReadCurrentItem(data, size, cap.ConType, ItemType, Buffer);
            if (data)
                Memory->Done(cap.hContainer);
            Memory->Release(cap.hContainer);
        }
    }
    return delivered;
}

bool TTwain::SetXResolution(double X) {
    const TW_FIX32 f = FloatToFix32(X);
    std::uint32_t value = 0;
    std::memcpy(&value, &f, sizeof f);
    return SetCapOneValue(ICAP_XRESOLUTION, TWTY_FIX32, value);
}

double TTwain::GetXResolution() {
    TW_FIX32 f{};
    if (GetCapCurr(ICAP_XRESOLUTION, TWTY_FIX32, &f))
        return Fix32ToFloat(f);
    return 0.0;
}

double TTwain::GetYResolution() {
    TW_FIX32 f{};
    if (GetCapCurr(ICAP_YRESOLUTION, TWTY_FIX32, &f))
        return Fix32ToFloat(f);
    return 0.0;
}

// ---- Image transfer ----

const std::vector<HGLOBAL>* TTwain::AcquireImages(QWidget* Wnd, const PageTaker& TakePage) {
    WindowDisabler disabled(Wnd);
    // Pages of an earlier acquisition that nobody released would be lost here for good.
    FreeImages();
    Taker = TakePage;
    TakerError = nullptr;
    // The taker belongs to the caller's frame: it must not outlive this call, also when an error
    // ends the loop.
    struct TakerReset {
        PageTaker& taker;
        ~TakerReset() { taker = nullptr; }
    } takerReset{Taker};
    if (State > 4 || EnableSource(Wnd))
        RunAcquireLoop();
    else
        ShowErrorReport("Failed to enable Data Source.");
    if (std::exception_ptr error = std::exchange(TakerError, nullptr))
        std::rethrow_exception(error);
    return Images ? &*Images : nullptr;
}

void TTwain::HandOver(std::size_t Index) {
    if (!Taker)
        return;
    try {
        Taker(Index, (*Images)[Index]);
    } catch (...) {
        // The transfers must still be ended with the source, so the error waits until then.
        TakerError = std::current_exception();
        Taker = nullptr;
    }
}

void TTwain::RunAcquireLoop() {
    if (Images)
        Images->clear();
    else
        Images.emplace();
    QuitWatcher quit;
    QTimer tick;
    tick.start(PollIntervalMs);
    const TPseudoEvent pseudo;
    while (State >= 5 && Images->empty() && !quit.Seen) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(PollIntervalMs));
        if (!quit.Seen)
            HandleSourceEvent(&pseudo);
    }
    if (quit.Seen)
        QuitSeen = true;
}

bool TTwain::HandleSourceEvent(const void* Msg) {
    if (State < 5)
        return false;
    TPseudoEvent copy = *static_cast<const TPseudoEvent*>(Msg);
    TW_EVENT event{&copy, MSG_NULL};
    CallSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    const bool claimed = ResultCode == TWRC_DSEVENT;
    if (event.TWMessage == MSG_XFERREADY) {
        State = 6;
        DoNativeTransfers();
    } else if (event.TWMessage == MSG_CLOSEDSREQ) {
        DisableSource();
    }
    return claimed;
}

void TTwain::DoNativeTransfers() {
    int stuck = 0;
    while (State > 5) {
        if (State != 6)
            FatalCheck("Status <> 6\rProgramm wird beendet");
        TW_HANDLE handle = nullptr;
        CallSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
        if (ResultCode == TWRC_XFERDONE) {
            State = 7;
            if (HGLOBAL dib = TakeNativeImage(*Memory, handle)) {
                Images->push_back(dib);
                HandOver(Images->size() - 1);
            } else
                TwainMessage("Die Datenquelle hat ein ungültiges Bild geliefert.");
        } else {
            State = 6;
        }
        if (FinishTransfer()) {
            stuck = 0;
        } else if (++stuck >= MaxStuckTransferPasses) {
            // The source takes neither MSG_ENDXFER nor MSG_RESET: the batch is given up.
            GiveUpSource();
        }
    }
}

bool TTwain::FinishTransfer() {
    if (State == 7 && CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, PendingXfers.get())) {
        if (PendingXfers->Count != 0) {
            State = 6;
            return true;
        }
        State = 5;
    }
    if (State == 6 && CallSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, PendingXfers.get()))
        State = 5;
    return State <= 5;
}

void TTwain::FreeImages() {
    if (!Images)
        return;
    for (HGLOBAL handle : *Images)
        if (handle)
            MemBlock::Free(handle);
    Images.reset();
}

void TTwain::ReleaseImage(std::size_t Index) {
    if (!Images || Index >= Images->size() || !(*Images)[Index])
        return;
    MemBlock::Free((*Images)[Index]);
    (*Images)[Index] = nullptr;
}

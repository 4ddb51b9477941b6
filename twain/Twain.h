#pragma once
// The scanner session with the TWAIN source manager: loading and opening the manager, opening
// the default source, capability negotiation, enabling the source and the native transfer of
// the scanned pages. It keeps its own record of the TWAIN state (1..7); every operation checks
// its starting state and reports whether the wanted state holds afterwards, and shows its own
// German message boxes. The main window owns one instance for its whole life.
//
// The TWAIN records are only declared here; twain/twainh.h (a native header) defines them.

#include "platform/MemBlock.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QString;
class QWidget;
struct TW_IDENTITY;
struct TW_USERINTERFACE;
struct TW_PENDINGXFERS;
struct TW_FIX32;
struct TManagerMemory;
struct TButtonWatch;

class TTwain {
public:
    TTwain();
    ~TTwain();
    TTwain(const TTwain&) = delete;
    TTwain& operator=(const TTwain&) = delete;

    // Runs the source manager's selection dialog in a load-open-close-unload sequence of its
    // own; true when the user chose a source. A null window gets the proxy window.
    bool SelectImageSource(QWidget* Wnd);
    bool LoadDSM();                  // state >= 2
    bool OpenDSM(QWidget* Wnd);      // state >= 3
    bool OpenSource();               // state = 4, the default source
    bool EnableSource(QWidget* Wnd); // state = 5
    bool DisableSource();            // state <= 4
    bool CloseSource();              // state <= 3
    bool CloseDSM(QWidget* Wnd);     // state <= 2
    bool UnloadDSM();                // state = 1
    int GetState() const { return State; }
    void SetHideUI(bool Flag);
    int LastResultCode() const;
    int QueryConditionCode();

    // Capability negotiation; in state 4 only for setting, from state 4 on for reading.
    bool SetCapOneValue(std::uint16_t Cap, std::uint16_t ItemType, std::uint32_t Value);
    // Copies the current value (as many bytes as ItemType has) into Buffer.
    bool GetCapCurr(std::uint16_t Cap, std::uint16_t ItemType, void* Buffer);
    bool SetXResolution(double X);
    // The source's horizontal resolution in dpi; 0 when the source delivers none (the workflow
    // turns that into its default).
    double GetXResolution();
    // The same for the vertical resolution (ICAP_YRESOLUTION).
    double GetYResolution();
    static TW_FIX32 FloatToFix32(double X);
    static double Fix32ToFloat(const TW_FIX32& F);
    static bool ItemTypesMatch(std::uint16_t Have, std::uint16_t Want);

    // Called with each page the moment its transfer is done, while the transfer is still open
    // (state 7): the page's place in the list and its handle.
    using PageTaker = std::function<void(std::size_t Index, HGLOBAL Page)>;

    // Runs the acquisition with the window disabled; the list of scanned pages (possibly
    // empty), or nullptr when the source could not be enabled. The pages are packed DIBs in
    // Velmora's memory blocks and belong to the session until FreeImages. A taker sees each
    // page as it arrives, so that it can be taken in (and released) while the scanner reads the
    // next one; the first error it raises stops further hand-overs, the batch still runs to its
    // end, and the error is raised again once the transfers are over.
    const std::vector<HGLOBAL>* AcquireImages(QWidget* Wnd, const PageTaker& TakePage = {});
    void FreeImages();
    // Frees one page of the list once it has been taken in, so that a batch of large pages does
    // not stay in memory twice; its place in the list becomes a null handle.
    void ReleaseImage(std::size_t Index);

    // Error record, for the acquisition workflow's report and for tests.
    int GetErrorKind() const { return ErrorKind; }
    std::uint32_t GetErrorRC() const { return ErrorRC; }
    std::uint32_t GetErrorCC() const { return ErrorCC; }
    void ShowErrorReport(const char* Text);

    // The most passes a batch of transfers makes while the source accepts neither MSG_ENDXFER
    // nor MSG_RESET, before the session gives the batch up.
    static constexpr int MaxStuckTransferPasses = 3;
    // True from the moment the session gave its source up until the manager is unloaded.
    bool SourceGivenUp() const { return GivenUp; }
    // Whether a quit request ended an acquisition loop since the last call. The request went on
    // to the application, which may have refused it while the scanner was busy: the caller then
    // passes it on again once the session is closed.
    bool TakeQuitRequest() { return std::exchange(QuitSeen, false); }
    bool QuitRequested() const { return QuitSeen; }

    // The scanner's own buttons, watched while Velmora is idle (Velmora's manager and a source
    // that can, the SANE bridge). Notices arrive on the GUI thread through its event loop; the
    // TWAIN state is not touched. WatchButtons is false when the manager or its default source
    // cannot watch (no notice then); a second call replaces the first watch. StopButtons returns
    // once the scanner is free again, and no notice of that watch arrives after it.
    enum class ButtonEvent { Watching, NoButton, NoDevice, Pressed };
    using ButtonNotice = std::function<void(ButtonEvent Event, const QString& Detail)>;
    bool WatchButtons(ButtonNotice Notice);
    void StopButtons();
    bool WatchingButtons() const;

    // Closes whatever is open, from any state: transfers still pending are ended (or the source
    // given up), then the source is disabled and closed, the manager closed and unloaded.
    // Afterwards the session is in state 1, ready for the next acquisition. Never throws.
    void EndSession(QWidget* Wnd) noexcept;

private:
    bool CallSource(std::uint32_t DG, std::uint16_t DAT, std::uint16_t MSG, void* Data);
    bool CallManager(std::uint32_t DG, std::uint16_t DAT, std::uint16_t MSG, void* Data);
    void NoteError(int Kind);
    void TwainMessage(const char* Text);
    QWidget* CreateAcquireProxy();
    void RunAcquireLoop();
    bool HandleSourceEvent(const void* Msg);
    void DoNativeTransfers();
    bool FinishTransfer();
    void HandOver(std::size_t Index);
    void FatalCheck(const char* Text);
    void GiveUpSource();

    std::int32_t State = 1;
    std::uint8_t ErrorKind = 0;
    std::uint32_t ErrorRC = 0;
    std::uint32_t ErrorCC = 0;
    std::unique_ptr<TW_IDENTITY> SourceIdentity;
    std::uint16_t HideUI = 0;
    std::unique_ptr<TW_USERINTERFACE> UserInterface;
    std::unique_ptr<TW_PENDINGXFERS> PendingXfers;
    std::uint16_t ResultCode = 0;
    void* ProxyInstance = nullptr;
    std::optional<std::vector<HGLOBAL>> Images;
    PageTaker Taker;
    std::exception_ptr TakerError;
    bool GivenUp = false;
    bool QuitSeen = false;

    // How blocks of the loaded manager are sized and released (its own functions when it hands
    // them out, else the C heap, as the official Linux manager does).
    std::unique_ptr<TManagerMemory> Memory;

    std::unique_ptr<TButtonWatch> Buttons;
};

// Ends the session it watches when it goes out of scope, whichever way: an error raised in the
// middle of an acquisition (even during a transfer) still closes the source and the manager, so
// the next acquisition starts afresh instead of finding the scanner held.
class TTwainSession {
public:
    TTwainSession(TTwain& Twain, QWidget* Wnd) : m_twain(Twain), m_wnd(Wnd) {}
    ~TTwainSession() { m_twain.EndSession(m_wnd); }
    TTwainSession(const TTwainSession&) = delete;
    TTwainSession& operator=(const TTwainSession&) = delete;

private:
    TTwain& m_twain;
    QWidget* m_wnd;
};

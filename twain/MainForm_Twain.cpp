// The main window's scanner acquisition: normal scan, fast copy, the ID-card copy, scanner
// choice and the special mode for the Mustek driver.

#include "app/EventHook.h"
#include "app/MainForm.h"
#include "layout/BmpWriter.h"
#include "layout/CopyGeometry.h"
#include "layout/PicObj.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/MemBlock.h"
#include "platform/WindowLookup.h"
#include "twain/Acquisition.h"
#include "twain/IdCard.h"
#include "twain/Twain.h"

#include <cstring>
#include <exception>
#include <optional>

void TMainForm::SetupTwainHandlers() {
    connect(GetPicBtn, &QToolButton::clicked, this, Guarded([this] { GetPicBtnClick(GetPicBtn); }));
    connect(FastCopyBtn, &QPushButton::clicked, this,
            Guarded([this] { GetPicBtnClick(FastCopyBtn); }));
    connect(HoleBild1, &QAction::triggered, this, Guarded([this] { GetPicBtnClick(HoleBild1); }));
    connect(FastCopyItem, &QAction::triggered, this,
            Guarded([this] { GetPicBtnClick(FastCopyItem); }));
    connect(MScannersettings, &QAction::triggered, this,
            Guarded([this] { MScannersettingsClick(); }));
    connect(AusweiskopieItem, &QAction::triggered, this,
            Guarded([this] { AusweiskopieItemClick(); }));
    connect(MustekspezialItem, &QAction::triggered, this, Guarded([this](bool checked) {
                // A checkable action has toggled itself before triggered() arrives; the handler
                // owns the check mark, so that toggle is undone first.
                MustekspezialItem->setChecked(!checked);
                MustekspezialItemClick();
            }));
}

void TMainForm::GetPicBtnClick(QObject* Sender) {
    if (Acquiring)
        return;
    CommitScannerDPIEdit();
    const bool fastCopy = Sender == FastCopyBtn || Sender == FastCopyItem;
    std::exception_ptr failure;
    if (AcquirePics(!fastCopy, pic->ScannerDPI.X, failure)) {
        ShowZoomValues();
        // A fast copy was printed where each page was centred; it is not moved afterwards.
        UpdatePicInfo(!fastCopy);
        PaintPanelResize();
    }
    if (failure)
        std::rethrow_exception(failure);
}

bool TMainForm::ScanPics(bool Normal, int DPI) {
    std::exception_ptr failure;
    const bool acquired = AcquirePics(Normal, DPI, failure);
    if (failure)
        std::rethrow_exception(failure);
    return acquired;
}

// What an acquisition does with its pages. Every page gets a resolution by the same rules, so a
// handling says where that resolution lives and what happens once it is settled.
class TPageHandling {
public:
    virtual ~TPageHandling() = default;
    // False for a page that is not wanted; it is released untouched.
    virtual bool Wants() const { return true; }
    // Takes the page in (the block stays the session's) and returns the resolution the page
    // is to get, preset with what it starts from.
    virtual TPoint& Take(HGLOBAL Page) = 0;
    // The page's resolution is settled.
    virtual void Settled() {}
    // Taking the page in or what followed raised an error.
    virtual void Failed() {}
};

namespace {

// Every page a new picture, centred; in a fast copy printed at once.
class TPicturePages final : public TPageHandling {
public:
    TPicturePages(TMainForm& Form, bool Print, int DPI)
        : m_form(Form), m_printing(Print), m_dpi(DPI), m_requestedY(Form.pic->ScannerDPI.Y) {}

    TPoint& Take(HGLOBAL Page) override {
        TPicProperties* before = m_form.pic;
        m_form.AddNewPic();
        // Pages after the first get new pictures, which take the resolution asked for rather
        // than none (and then the 300 dpi default) when the scanner is not asked.
        if (m_form.pic != before)
            m_form.pic->ScannerDPI = {m_dpi, m_requestedY};
        m_form.pic->AssignDIB(Page);
        return m_form.pic->ScannerDPI;
    }
    void Settled() override {
        TPicProperties& p = *m_form.pic;
        p.xRelPos = CentredRelPos(p.xRelSize());
        p.yRelPos = CentredRelPos(p.yRelSize());
        // The source stays enabled while the page is printed: this page alone, whatever the
        // page selection says.
        if (m_printing)
            m_form.PrintPages(m_form.CurrentPicNo);
    }
    // One failed print is enough: the queue would fail again.
    void Failed() override { m_printing = false; }

private:
    TMainForm& m_form;
    bool m_printing;
    int m_dpi;
    int m_requestedY;
};

// The first page alone, kept as an image with its resolution: one side of an ID card.
class TCardPages final : public TPageHandling {
public:
    TCardPages(int DPI, int RequestedY) : m_preset{DPI, RequestedY} {}

    bool Wants() const override { return !Side; }
    TPoint& Take(HGLOBAL Page) override {
        TBitmap bitmap;
        DIBToGraphic(Page, bitmap);
        m_image = bitmap.Image();
        m_dpi = m_preset;
        return m_dpi;
    }
    // The rest of the bed goes at once: a whole-bed scan at a high resolution is large, and the
    // back is still to be scanned.
    void Settled() override {
        Side = TCardSide{CardArea(m_image, m_dpi.X, m_dpi.Y), m_dpi.X, m_dpi.Y};
        m_image = QImage();
    }

    std::optional<TCardSide> Side;

private:
    TPoint m_preset;
    TPoint m_dpi;
    QImage m_image;
};

// A movable block holding the packed DIB of `image`, freed when the guard goes.
class TImageDib {
public:
    explicit TImageDib(const QImage& image) {
        // A BMP file is its 14-byte file header followed by the packed DIB.
        constexpr qsizetype fileHeader = 14;
        const QByteArray bmp = EncodeBmpFile(image);
        const auto size = static_cast<std::size_t>(bmp.size() - fileHeader);
        m_handle = MemBlock::Alloc(size);
        if (!m_handle)
            throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
        MemBlock::LockGuard lock(m_handle);
        std::memcpy(lock.Data(), bmp.constData() + fileHeader, size);
    }
    ~TImageDib() { MemBlock::Free(m_handle); }
    TImageDib(const TImageDib&) = delete;
    TImageDib& operator=(const TImageDib&) = delete;
    HGLOBAL Handle() const { return m_handle; }

private:
    HGLOBAL m_handle = nullptr;
};

} // namespace

bool TMainForm::AcquirePics(bool Normal, int DPI, std::exception_ptr& Failure) {
    if (Acquiring)
        return false;
    const AcquisitionScope acquisition(*this);
    TPicturePages pages(*this, !Normal, DPI);
    const bool acquired = AcquirePages(Normal, DPI, pages, Failure);
    // After a quit request the program is about to end: no box that waits for an answer.
    if (acquired && (pic->PicWidth() == 0 || pic->PicHeight() == 0) && !Twain->QuitRequested())
        ShowMessage(this,
                    QStringLiteral("Das zuletzt eingescannte Bild hat die Breite und/oder "
                                   "die Höhe 0."),
                    QStringLiteral("Fehler beim Scannen"), MsgIcon::Warning);
    SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
    SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);
    return acquired;
}

bool TMainForm::AcquirePages(bool Normal, int DPI, TPageHandling& Pages,
                             std::exception_ptr& Failure) {
    TTwain& twain = *Twain;
    QWidget* Wnd = this;
    TTwainSession session(twain, Wnd);
    bool acquired = false;

    if (twain.LoadDSM()) {
        if (twain.OpenDSM(Wnd)) {
            if (twain.OpenSource() && twain.GetState() == 4) {
                twain.SetHideUI(!Normal);
                bool Known = twain.SetXResolution(DPI);
                if (twain.EnableSource(Wnd)) {
                    const bool special = MustekspezialItem->isChecked() && Normal;
                    QWidget* Edit = special ? FindMustekDPIEdit() : nullptr;
                    if (Edit && DPI > 0)
                        WindowLookup::SetText(Edit, QString::number(DPI));

                    // Each page is taken in the moment it has arrived, while the scanner may
                    // already read the next one. An error while a page is taken in (a page that
                    // is no bitmap, a print that fails) is reported once the session is closed:
                    // the pages that follow are still kept, and the scanner is not left open.
                    auto takePage = [&](std::size_t i, HGLOBAL H) {
                        if (!Pages.Wants()) {
                            twain.ReleaseImage(i);
                            return;
                        }
                        try {
                            const TPageResolution header =
                                DibHeaderResolution(H, MemBlock::Size(H));
                            TPoint& resolution = Pages.Take(H);
                            // The page is held on its own from here on.
                            twain.ReleaseImage(i);
                            TPageDPIRules rules;
                            rules.AutoDPI = AutoDPIBox->isChecked();
                            rules.RequestedDPI = DPI;
                            rules.ReadPage = Normal;
                            if (Edit)
                                rules.DriverText = WindowLookup::Text(Edit);
                            // Asked while the page's transfer is still open, so that the source
                            // reports the resolution this page was scanned at.
                            auto pageDPI = [&twain, header] {
                                TPageResolution page = header;
                                page.SourceX = twain.GetXResolution();
                                page.SourceY = twain.GetYResolution();
                                return page;
                            };
                            SettlePageDPI(
                                resolution.X, resolution.Y, rules, Known,
                                [&twain] { return twain.GetXResolution(); }, pageDPI);
                            Pages.Settled();
                        } catch (...) {
                            twain.ReleaseImage(i);
                            if (!Failure)
                                Failure = std::current_exception();
                            Pages.Failed();
                        }
                    };
                    if (twain.AcquireImages(Wnd, takePage))
                        acquired = true;
                    twain.DisableSource();
                }
                twain.CloseSource();
            }
            twain.CloseDSM(Wnd);
        }
        twain.UnloadDSM();
    }

    if (acquired)
        twain.FreeImages();
    return acquired;
}

void TMainForm::AusweiskopieItemClick() {
    if (Acquiring)
        return;
    CommitScannerDPIEdit();
    const AcquisitionScope acquisition(*this);
    // Both sides are scanned as a fast copy scans: without the source's dialog, at the current
    // picture's resolution.
    const int DPI = pic->ScannerDPI.X;
    const int requestedY = pic->ScannerDPI.Y;
    const QString prompts[] = {
        QStringLiteral("Bitte die Karte mit der Vorderseite nach unten in die linke obere Ecke "
                       "des Scanners legen."),
        QStringLiteral("Bitte die Karte umdrehen und mit der Rückseite nach unten in die linke "
                       "obere Ecke des Scanners legen.")};
    std::optional<TCardSide> sides[2];
    for (int side = 0; side < 2; ++side) {
        if (ShowMessage(this, prompts[side], QStringLiteral("Ausweiskopie"), MsgIcon::Information,
                        MsgOk | MsgCancel) != MsgOk)
            return;
        TCardPages pages(DPI, requestedY);
        std::exception_ptr failure;
        AcquirePages(false, DPI, pages, failure);
        if (failure)
            std::rethrow_exception(failure);
        // A scan that brought no page, or a quit request meanwhile, ends the copy.
        if (!pages.Side || Twain->QuitRequested() || QuitAfterAcquisition)
            return;
        sides[side] = std::move(pages.Side);
    }

    const QImage card = ComposeIdCard(*sides[0], *sides[1]);
    // The same way into a picture as a scanned page.
    {
        const TImageDib dib(card);
        AddNewPic();
        pic->AssignDIB(dib.Handle());
    }
    pic->ScannerDPI = {sides[0]->DPIX, sides[0]->DPIY};
    // At its real size, whatever zoom an emptied picture kept.
    pic->xZoom = pic->yZoom = 1.0;
    pic->xRelPos = CentredRelPos(pic->xRelSize());
    pic->yRelPos = CentredRelPos(pic->yRelSize());
    // A print that fails still leaves the page shown, as in a fast copy.
    std::exception_ptr failure;
    try {
        PrintPages(CurrentPicNo);
    } catch (...) {
        failure = std::current_exception();
    }
    SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
    SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);
    ShowZoomValues();
    UpdatePicInfo(false);
    PaintPanelResize();
    if (failure)
        std::rethrow_exception(failure);
}

void TMainForm::MScannersettingsClick() {
    if (Acquiring)
        return;
    if (!Twain->SelectImageSource(this))
        ShowMessage(this, QStringLiteral("Eingabegerät kann nicht ausgewählt werden!"),
                    QStringLiteral("Fehler"), MsgIcon::Warning);
    // Another scanner may have the button the last one lacked.
    ButtonWatchGivenUp = false;
    UpdatePrinterInfo();
}

void TMainForm::MustekspezialItemClick() {
    MustekspezialItem->setChecked(!MustekspezialItem->isChecked());
}

// The driver's preview window is owned by its main window, which holds the resolution edit.
QWidget* TMainForm::FindMustekDPIEdit() {
    QWidget* preview = WindowLookup::FindWindowOfClass(QStringLiteral("Preview"));
    QWidget* owner = WindowLookup::Owner(preview);
    return WindowLookup::ChildById(owner, 1025);
}

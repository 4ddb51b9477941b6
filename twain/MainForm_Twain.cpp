// The main window's scanner acquisition: normal scan, fast copy, scanner choice and the special
// mode for the Mustek driver.

#include "app/EventHook.h"
#include "app/MainForm.h"
#include "layout/CopyGeometry.h"
#include "layout/PicObj.h"
#include "platform/Dialogs.h"
#include "platform/MemBlock.h"
#include "platform/WindowLookup.h"
#include "twain/Acquisition.h"
#include "twain/Twain.h"

#include <exception>

void TMainForm::SetupTwainHandlers() {
    connect(GetPicBtn, &QToolButton::clicked, this, Guarded([this] { GetPicBtnClick(GetPicBtn); }));
    connect(FastCopyBtn, &QPushButton::clicked, this,
            Guarded([this] { GetPicBtnClick(FastCopyBtn); }));
    connect(HoleBild1, &QAction::triggered, this, Guarded([this] { GetPicBtnClick(HoleBild1); }));
    connect(FastCopyItem, &QAction::triggered, this,
            Guarded([this] { GetPicBtnClick(FastCopyItem); }));
    connect(MScannersettings, &QAction::triggered, this,
            Guarded([this] { MScannersettingsClick(); }));
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

bool TMainForm::AcquirePics(bool Normal, int DPI, std::exception_ptr& Failure) {
    if (Acquiring)
        return false;
    const AcquisitionScope acquisition(*this);
    TTwain& twain = *Twain;
    QWidget* Wnd = this;
    TTwainSession session(twain, Wnd);
    // Pages after the first get new pictures, which take the resolution asked for rather than
    // none (and then the 300 dpi default) when the scanner is not asked.
    const int requestedY = pic->ScannerDPI.Y;
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
                    bool printing = !Normal;
                    auto takePage = [&](std::size_t i, HGLOBAL H) {
                        TPicProperties* before = pic;
                        try {
                            AddNewPic();
                            if (pic != before)
                                pic->ScannerDPI = {DPI, requestedY};
                            const TPageResolution header =
                                DibHeaderResolution(H, MemBlock::Size(H));
                            pic->AssignDIB(H);
                            // The picture holds its own copy of the page from here on.
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
                                pic->ScannerDPI.X, pic->ScannerDPI.Y, rules, Known,
                                [&twain] { return twain.GetXResolution(); }, pageDPI);
                            pic->xRelPos = CentredRelPos(pic->xRelSize());
                            pic->yRelPos = CentredRelPos(pic->yRelSize());
                            // The source stays enabled while the page is printed: this page
                            // alone, whatever the page selection says.
                            if (printing)
                                PrintPages(CurrentPicNo);
                        } catch (...) {
                            twain.ReleaseImage(i);
                            if (!Failure)
                                Failure = std::current_exception();
                            // One failed print is enough: the queue would fail again.
                            printing = false;
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

    if (acquired) {
        twain.FreeImages();
        // After a quit request the program is about to end: no box that waits for an answer.
        if ((pic->PicWidth() == 0 || pic->PicHeight() == 0) && !twain.QuitRequested())
            ShowMessage(this,
                        QStringLiteral("Das zuletzt eingescannte Bild hat die Breite und/oder "
                                       "die Höhe 0."),
                        QStringLiteral("Fehler beim Scannen"), MsgIcon::Warning);
    }
    SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
    SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);
    return acquired;
}

void TMainForm::MScannersettingsClick() {
    if (Acquiring)
        return;
    if (!Twain->SelectImageSource(this))
        ShowMessage(this, QStringLiteral("Eingabegerät kann nicht ausgewählt werden!"),
                    QStringLiteral("Fehler"), MsgIcon::Warning);
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

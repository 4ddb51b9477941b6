// The main window's output: output targets, printer information and printing.

#include "app/EventHook.h"
#include "app/MainForm.h"
#include "layout/Dib.h"
#include "layout/PicObj.h"
#include "output/OutputTargets.h"
#include "output/PageList.h"
#include "output/PrintJob.h"
#include "output/Printer.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QScreen>

void TMainForm::SetupOutputHandlers() {
    // A radio button's click handler also runs when the program checks it, and only for the
    // button that becomes checked.
    connect(PrinterBtn, &QRadioButton::toggled, this, Guarded([this](bool checked) {
                if (checked)
                    PrinterBtnClick();
            }));
    connect(FaxBtn, &QRadioButton::toggled, this, Guarded([this](bool checked) {
                if (checked)
                    FaxBtnClick();
            }));
    connect(BitmapBtn, &QRadioButton::toggled, this, Guarded([this](bool checked) {
                if (checked)
                    BitmapBtnClick();
            }));
    connect(SetupBtn, &QPushButton::clicked, this, Guarded([this] { SetupBtnClick(); }));
    connect(MPrintersettings, &QAction::triggered, this, Guarded([this] { SetupBtnClick(); }));
    connect(PrintBtn, &QToolButton::clicked, this, Guarded([this] { PrintBtnClick(PrintBtn); }));
    connect(Drucken1, &QAction::triggered, this, Guarded([this] { PrintBtnClick(Drucken1); }));
    // Only key presses that type a character reach the filter; a discarded character never
    // reaches the edit. Moving the focus, the cursor and the edit's own shortcuts are no typing.
    HookEvent(PagesEdit, QEvent::KeyPress, [this](QEvent* event) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (!IsTypedCharacter(keyEvent->text(), keyEvent->modifiers()))
            return false;
        QChar key = keyEvent->text().front();
        PagesEditKeyPress(PagesEdit, key);
        return key.isNull();
    });
}

// ---- Output targets and printer information ---------------------------------------------------

namespace {

// Where a button keeps its tag.
const char* const kTagProperty = "tag";

} // namespace

int TMainForm::Tag(const QAbstractButton* Button) const {
    bool ok = false;
    const int value = Button->property(kTagProperty).toInt(&ok);
    return ok ? value : -1;
}

void TMainForm::SetTag(QAbstractButton* Button, int Value) {
    Button->setProperty(kTagProperty, Value);
}

TOutputMode TMainForm::OutputMode() const {
    if (PrinterBtn->isChecked())
        return TOutputMode::Printer;
    if (FaxBtn->isChecked())
        return TOutputMode::Fax;
    return TOutputMode::Bitmap;
}

void TMainForm::PrinterBtnClick() {
    if (PrinterBtn->isChecked())
        OutputModeClick(TOutputMode::Printer);
}

void TMainForm::FaxBtnClick() {
    if (FaxBtn->isChecked())
        OutputModeClick(TOutputMode::Fax);
}

void TMainForm::BitmapBtnClick() {
    if (BitmapBtn->isChecked())
        OutputModeClick(TOutputMode::Bitmap);
}

void TMainForm::OutputModeClick(TOutputMode Mode) {
    UpdatePrinterInfo();
    // A new device means a new printable area: the sheet is laid out anew and the copy centred
    // on it.
    FormResize();
    UpdatePicInfo(true);
    PaintPanelResize();
    const TModeCaptions captions = ModeCaptions(Mode);
    PrintBtn->setText(captions.PrintBtn);
    PrinterGroup->setTitle(captions.PrinterGroup);
    SetupBtn->setEnabled(captions.SetupEnabled);
    if (Mode == TOutputMode::Printer)
        SelectPrinter(Tag(PrinterBtn));
    else if (Mode == TOutputMode::Fax)
        SelectPrinter(Tag(FaxBtn));
}

void TMainForm::SetupBtnClick() {
    TPrinter& printer = TPrinter::Printer();
    // The printer list is read anew, so printers installed since appear. The settings chosen
    // for each printer stay with it (the dialog opens on them), across mode switches too.
    printer.ReadListAgain();
    const TOutputMode mode = OutputMode();
    QRadioButton* tagged = mode == TOutputMode::Printer ? PrinterBtn
                           : mode == TOutputMode::Fax   ? FaxBtn
                                                        : nullptr;
    if (tagged)
        SelectPrinter(Tag(tagged));
    if (CurrentPrinterIndex() < 0) {
        ShowMessage(this, NoPrinterMessage(), QStringLiteral("Fehler"), MsgIcon::None, MsgOk);
        return;
    }
    printer.Setup(this, SetupTitle(mode));
    // Cancelled or not, the mode remembers the printer the dialog ends on: a remembered printer
    // that no longer exists is replaced by the default printer the dialog started with.
    if (tagged)
        SetTag(tagged, CurrentPrinterIndex());
    UpdatePrinterInfo();
    UpdatePicInfo(false);
    FormResize();
}

void TMainForm::UpdatePrinterInfo() {
    TDeviceFigures figures;
    const TOutputMode mode = OutputMode();
    if (mode == TOutputMode::Bitmap) {
        PrinterLabel->setText(BitmapTargetText());
        // The screen the window is on stands for the device; the bitmap gets screen pixels.
        const QScreen* shown = screen();
        if (!shown)
            shown = QGuiApplication::primaryScreen();
        if (shown)
            figures = ScreenFigures(shown->physicalSize(), shown->geometry().size(),
                                    shown->logicalDotsPerInchX(), shown->logicalDotsPerInchY());
    } else {
        SelectPrinter(Tag(mode == TOutputMode::Printer ? PrinterBtn : FaxBtn));
        const int i = CurrentPrinterIndex();
        if (i < 0) {
            // The record and the figure labels keep the previous device's values.
            PrinterLabel->setText(NoPrinterText());
            return;
        }
        TPrinter& printer = TPrinter::Printer();
        PrinterLabel->setText(printer.Printers().at(i));
        figures = printer.Figures();
    }
    TPrinterProperties& props = *pic->PrinterProperties;
    const TDeviceLabels labels = DeviceLabels(figures);
    props.PrnAreaMMWidth = figures.AreaMMWidth;
    props.PrnAreaMMHeight = figures.AreaMMHeight;
    MMLabel->setText(labels.MM);
    props.PrnAreaWidth = figures.AreaWidth;
    props.PrnAreaHeight = figures.AreaHeight;
    PixelsLabel->setText(labels.Pixels);
    props.PrnDPI.X = figures.DpiX;
    XDPILabel->setText(labels.XDPI);
    props.PrnDPI.Y = figures.DpiY;
    YDPILabel->setText(labels.YDPI);
}

// A printer error leaves the selection as it was: the default printer when none had been
// selected before, and none at all when there is no default printer.
void TMainForm::SelectPrinter(int Index) {
    try {
        TPrinter::Printer().SetPrinterIndex(Index);
    } catch (const EPrinter&) {
    }
}

int TMainForm::CurrentPrinterIndex() {
    try {
        return TPrinter::Printer().PrinterIndex();
    } catch (const EPrinter&) {
        return -2;
    }
}

void TMainForm::PrintBtnClick(QObject* Sender) {
    Q_UNUSED(Sender)
    PrintPages(0);
}

void TMainForm::PrintPages(int OnlyPage) {
    if (pic->IsEmpty())
        return;

    if (BitmapBtn->isChecked()) {
        // The current copy alone, at its printed size on the screen; its position plays no part.
        const int w = pic->PrnPicWidth();
        const int h = pic->PrnPicHeight();
        if (w <= 0 || h <= 0)
            return; // a copy of size 0 has nothing to show
        if (static_cast<long long>(w) * h > MaxPicturePixels)
            throw EOutOfMemory(QStringLiteral("Das Bild ist mit %1 x %2 Pixeln zu groß für die "
                                              "Zwischenablage")
                                   .arg(w)
                                   .arg(h));
        QImage bitmap(w, h, QImage::Format_RGB32);
        if (bitmap.isNull())
            throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
        bitmap.fill(Qt::white);
        {
            QPainter canvas(&bitmap);
            pic->Draw(canvas, 0, 0, w, h);
        }
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard)
            throw EClipboardException(QStringLiteral("Zwischenablage kann nicht geöffnet werden"));
        clipboard->setImage(bitmap);
        // The dialog remembers the last file chosen for the rest of the run.
        SaveToBmpDialog.Title = QStringLiteral("Sichere in Datei");
        SaveToBmpDialog.DefaultExt = QStringLiteral("bmp");
        SaveToBmpDialog.OverwritePrompt = true;
        SaveToBmpDialog.PathMustExist = true;
        if (Dialogs::Get().SaveFile(this, SaveToBmpDialog))
            SaveBitmapToFile(bitmap, SaveToBmpDialog.FileName);
        return;
    }

    // Printer or fax: the job is numbered before the page list is looked at.
    ++PrintJobCount;
    TPrinter& printer = TPrinter::Printer();
    printer.SetTitle(PrintTitle + QLatin1Char(' ') + QString::number(PrintJobCount));
    const QList<TPicProperties*> pics = GetPrintPics(OnlyPage);
    if (pics.isEmpty())
        return;
    const int copies = CopiesEdit->Value();
    if (copies < 1)
        return;

    // Many pages or copies take a while: a progress box appears after a second, with a way to
    // stop between pages. It turns the event loop only for itself (it is modal), and the command
    // still runs to its end inside this handler, as the fast copy relies on.
    QProgressDialog progress(this);
    progress.setWindowTitle(QStringLiteral("Drucken"));
    progress.setCancelButtonText(QStringLiteral("Abbrechen"));
    progress.setWindowModality(Qt::WindowModal);
    // A fast copy prints while the scanner session holds the window disabled; the box must still
    // take its "Abbrechen".
    progress.setEnabled(true);
    progress.setMinimumDuration(1000);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    const int total = copies * static_cast<int>(pics.size());
    progress.setRange(0, total);
    progress.setValue(0);
    PrintCopies(printer, pics, copies, [&](int copy, int copiesTotal, int page, int pages) {
        if (progress.wasCanceled())
            return false;
        progress.setLabelText(QStringLiteral("Seite %1 von %2, Kopie %3 von %4")
                                  .arg(page)
                                  .arg(pages)
                                  .arg(copy)
                                  .arg(copiesTotal));
        progress.setValue((copy - 1) * pages + page - 1);
        return !progress.wasCanceled();
    });
}

QList<TPicProperties*> TMainForm::GetPrintPics(int OnlyPage) {
    TPageSelection selection;
    selection.AllPages = AllPagesBtn->isChecked();
    selection.List = PagesEdit->text();
    selection.OnlyPage = OnlyPage;
    QList<TPicProperties*> pics;
    for (int page : SelectedPages(selection, static_cast<int>(PicButtons().size())))
        pics << PicRecords.at(FindPicBtn(page)).get();
    return pics;
}

void TMainForm::PagesEditKeyPress(QObject* Sender, QChar& Key) {
    Q_UNUSED(Sender)
    if (!IsPageListChar(Key))
        Key = QChar();
}

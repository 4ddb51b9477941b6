// The main window's picture collection (pages and page buttons) and picture files.

#include "app/EventHook.h"
#include "app/MainForm.h"
#include "app/Support.h"
#include "app/VersionInfo.h"
#include "layout/PicObj.h"
#include "pictures/PictureCommands.h"
#include "pictures/PictureFiles.h"
#include "pictures/SaveAll.h"
#include "platform/Errors.h"
#include "platform/MemBlock.h"
#include "platform/WholeNumber.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScrollBar>
#include <QShortcut>
#include <QToolButton>
#include <cstring>
#include <vector>

void TMainForm::SetupPicturesHandlers() {
    connect(PicBtnGroup, &QButtonGroup::buttonClicked, this,
            Guarded([this](QAbstractButton* button) { PicBtnClick(button); }));
    connect(PicCloseItem, &QAction::triggered, this, Guarded([this] { PicCloseItemClick(); }));
    connect(Datei1, &QMenu::aboutToShow, this, Guarded([this] { Datei1Click(); }));
    connect(PicOpenItem, &QAction::triggered, this, Guarded([this] { PicOpenItemClick(); }));
    connect(PicInsertItem, &QAction::triggered, this, Guarded([this] { PicInsertItemClick(); }));
    connect(PicSaveAsItem, &QAction::triggered, this, Guarded([this] { PicSaveAsItemClick(); }));
    connect(Bildkopieren1, &QAction::triggered, this, Guarded([this] { Bildkopieren1Click(); }));
    connect(SaveAllPicsItem, &QAction::triggered, this,
            Guarded([this] { SaveAllPicsItemClick(); }));
    // FormKeyDown is called by the window's key preview.

    // Qt ignores the shortcut of a disabled action, but Ctrl+F4 must refresh the entry's state
    // first: it was last set when the menu was opened, perhaps for another picture. The entry
    // keeps showing its shortcut without acting on it (a widget shortcut of a menu entry never
    // matches); the window's own shortcut below takes the key.
    PicCloseItem->setShortcutContext(Qt::WidgetShortcut);
    auto* closeShortcut = new QShortcut(PicCloseItem->shortcut(), this);
    closeShortcut->setContext(Qt::WindowShortcut);
    connect(closeShortcut, &QShortcut::activated, this, Guarded([this] { PicCloseShortcut(); }));
}

namespace {

// The clipboard to read or write. Qt hands one out for the application's whole life; without
// one, the copier's own error for a clipboard that cannot be opened goes to the report.
QClipboard* OpenClipboard() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        throw EClipboardException(QStringLiteral("Zwischenablage kann nicht geöffnet werden"));
    return clipboard;
}

// A movable block holding a copy of `bytes`, freed when the guard goes, also after a failure.
class TDibBlock {
public:
    explicit TDibBlock(const QByteArray& bytes)
        : m_handle(MemBlock::Alloc(static_cast<std::size_t>(bytes.size()))) {
        if (!m_handle)
            throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
        MemBlock::LockGuard lock(m_handle);
        std::memcpy(lock.Data(), bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    ~TDibBlock() { MemBlock::Free(m_handle); }
    TDibBlock(const TDibBlock&) = delete;
    TDibBlock& operator=(const TDibBlock&) = delete;
    HGLOBAL Handle() const { return m_handle; }

private:
    HGLOBAL m_handle;
};

// The hourglass while every page is written; restored also when a page fails.
class TWaitCursor {
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// From this page on, a page button shows its key hint when the mouse rests on it.
constexpr int FirstPageWithHint = 100;

} // namespace

// ---- Picture collection ----------------------------------------------------------------------

QList<QAbstractButton*> TMainForm::PicButtons() const {
    // Buttons join the group in creation order, and only the last one is ever destroyed, so
    // the group's order is the order of the numbers.
    return PicBtnGroup->buttons();
}

void TMainForm::PresetPagesEdit() {
    const QString preset = PresetPageList(PagesEdit->text(), CurrentPicNo);
    if (preset != PagesEdit->text())
        PagesEdit->setText(preset);
}

void TMainForm::AddNewPic() {
    if (!pic->IsEmpty()) {
        auto record = std::make_unique<TPicProperties>(PrinterProps.get());
        const int n = static_cast<int>(PicButtons().size()) + 1;
        // Button k stands at (k - 1) button heights from the top of the strip's contents,
        // whatever part of them is scrolled into view.
        ButtonScrollBox->verticalScrollBar()->setValue(0);
        auto* button = new QToolButton(ButtonScrollBoxContents);
        button->setGeometry(0, (n - 1) * PicBtn->height(), PicBtn->width(), PicBtn->height());
        button->setFocusPolicy(PicBtn->focusPolicy());
        button->setCheckable(true);
        button->setText(QString::number(n));
        button->setProperty("hint", PicBtn->property("hint"));
        if (n >= FirstPageWithHint)
            button->setToolTip(PicBtn->property("hint").toString());
        ButtonScrollBoxContents->resize(PicBtn->width(), n * PicBtn->height());
        PicBtnGroup->addButton(button);
        button->show();

        pic = record.get();
        PicRecords[button] = std::move(record);
        button->setChecked(true);
        if (n > 1)
            ButtonScrollBox->show();
    }

    int number = CurrentPicNo;
    if (QAbstractButton* current = PicBtnGroup->checkedButton())
        ReadWholeNumber(current->text(), number);
    CurrentPicNo = number;
    PresetPagesEdit();

    // The newest button comes into view. A bar that is not needed has nothing to scroll.
    QScrollBar* bar = ButtonScrollBox->verticalScrollBar();
    bar->setValue(bar->maximum());

    FormResize();
    // The new page is shown empty until its picture has arrived: a file or scan that fails on
    // the way leaves it empty and current, and it must not look like the page before it.
    UpdatePicInfo(false);
    PaintPanelResize();
}

void TMainForm::ClosePic() {
    const QList<QAbstractButton*> buttons = PicButtons();
    const int N = static_cast<int>(buttons.size());
    if (N == 1) {
        // The only page keeps its button, zoom, position and resolution for the next picture.
        pic->Clear();
        PreviewPaintBox->resize(0, PreviewPaintBox->height());
        UpdatePicInfo(false);
        PaintPanelResize();
        PaintPanel->repaint();
        return;
    }

    const int K = static_cast<int>(buttons.indexOf(PicBtnGroup->checkedButton())) + 1;
    if (K < 1)
        return; // no page pressed: the collection is not in a state this command knows
    PicRecords[buttons[K - 1]].reset();
    int shown = K;
    if (K == N) {
        buttons[N - 2]->setChecked(true);
        shown = N - 1;
    } else {
        for (int j = K; j <= N - 1; ++j)
            PicRecords[buttons[j - 1]] = std::move(PicRecords[buttons[j]]);
    }
    // The record of page K is gone: nothing may reach it before the page to show is current.
    pic = PicRecords[buttons[shown - 1]].get();

    QAbstractButton* last = buttons[N - 1];
    PicRecords.erase(last);
    PicBtnGroup->removeButton(last);
    delete last;
    ButtonScrollBoxContents->resize(PicBtn->width(), (N - 1) * PicBtn->height());

    PicBtnClick(buttons[shown - 1]);
    if (N - 1 > 1)
        FormResize();
    else
        ButtonScrollBox->hide();
}

QAbstractButton* TMainForm::FindPicBtn(int n) {
    const QList<QAbstractButton*> buttons = PicButtons();
    const QString caption = QString::number(WrapPageNumber(n, static_cast<int>(buttons.size())));
    for (QAbstractButton* button : buttons)
        if (button->text() == caption)
            return button;
    return nullptr;
}

void TMainForm::SelectPic(int n) {
    QAbstractButton* button = FindPicBtn(n);
    if (!button)
        return;
    button->setChecked(true);
    PicBtnClick(button);
}

void TMainForm::PicBtnClick(QAbstractButton* Sender) {
    int number = 0;
    ReadWholeNumber(Sender->text(), number);
    CurrentPicNo = number;
    PresetPagesEdit();
    pic = PicRecords.at(Sender).get();
    ShowZoomValues();
    SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
    SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);
    UpdatePicInfo(false);
    PaintPanelResize();
}

void TMainForm::MovePic(int From, int To) {
    QAbstractButton* from = FindPicBtn(From);
    QAbstractButton* to = FindPicBtn(To);
    if (!from || !to)
        return;
    std::swap(PicRecords[from], PicRecords[to]);
    to->setChecked(true);
    PicBtnClick(to);
}

void TMainForm::FormKeyDown(int& Key, Qt::KeyboardModifiers Shift) {
    // The key is never consumed: the focused control gets it as well.
    const bool ctrl = Shift.testFlag(Qt::ControlModifier);
    const int N = static_cast<int>(PicButtons().size());
    if (Key == Qt::Key_PageDown) {
        if (!ctrl)
            SelectPic(CurrentPicNo + 1);
        else if (CurrentPicNo < N)
            MovePic(CurrentPicNo, CurrentPicNo + 1);
    } else if (Key == Qt::Key_PageUp) {
        if (!ctrl)
            SelectPic(CurrentPicNo - 1);
        else if (CurrentPicNo > 1)
            MovePic(CurrentPicNo, CurrentPicNo - 1);
    }
}

void TMainForm::PicCloseItemClick() {
    if (ShowMessage(this, CloseConfirmationText(PicSaveAsItem->text()),
                    QStringLiteral("Bestätigung"), MsgIcon::Question, MsgYes | MsgNo) == MsgYes)
        ClosePic();
}

void TMainForm::PicCloseShortcut() {
    Datei1Click();
    if (PicCloseItem->isEnabled())
        PicCloseItemClick();
}

void TMainForm::Datei1Click() {
    const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
    PicInsertItem->setEnabled(OffersPackedDib(offered) || OffersMetafile(offered));
    PicCloseItem->setEnabled(!pic->IsEmpty());
}

// ---- Picture files and clipboard -------------------------------------------------------------

void TMainForm::PicOpenItemClick() {
    PicOpenDialog.Title = QStringLiteral("Bild laden");
    PicOpenDialog.DefaultExt = QStringLiteral("bmp");
    PicOpenDialog.Filter = PictureOpenFilter();
    PicOpenDialog.PathMustExist = true;
    PicOpenDialog.FileMustExist = true;
    PicOpenDialog.OverwritePrompt = false;
    if (Dialogs::Get().OpenFile(this, PicOpenDialog))
        LoadPicFromFile(PicOpenDialog.FileName);
}

void TMainForm::LoadPicFromFile(const QString& FileName) {
    AddNewPic();
    // The graphic is replaced only once the whole file has loaded: a failure leaves the page
    // that AddNewPic provided empty and current. A file of several pages (a TIFF from a scanner
    // or a fax) fills that page and one new page for each further page, in file order.
    bool incomplete = false;
    std::vector<TLoadedPage> pages = LoadPictureFilePages(FileName, &incomplete);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0)
            AddNewPic();
        pic->Picture.SetGraphic(std::move(pages[i].graphic));
        ShowLoadedPic(pages[i].dpi);
    }
    if (incomplete)
        ShowMessage(this, IncompleteFileText(FileName), QStringLiteral("Fehler beim Laden"),
                    MsgIcon::Warning, MsgOk);
}

void TMainForm::ShowLoadedPic(const QSize& fileDpi) {
    // BMP and JPEG files and the clipboard take the resolution of the edits (or the screen).
    pic->ScannerDPI.X = SrcXDPIEdit->Value();
    pic->ScannerDPI.Y = SrcYDPIEdit->Value();
    CheckLoadedPic();
    // A PNG or TIFF file that records its resolution prints at its real size: a fax page of
    // 204 × 98 dpi would otherwise come out twice as high as wide.
    if (!fileDpi.isEmpty()) {
        pic->ScannerDPI.X = fileDpi.width();
        pic->ScannerDPI.Y = fileDpi.height();
        SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
        SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);
    }
    ShowZoomValues();
    UpdatePicInfo(true);
    PaintPanelResize();
}

void TMainForm::CheckLoadedPic() {
    if (pic->PicWidth() == 0 || pic->PicHeight() == 0)
        ShowMessage(this,
                    LoadFailedWarningText(ProductVersionText(), static_cast<int>(sizeof(void*) * 8),
                                          QString::fromUtf8(SupportMailAddress)),
                    QStringLiteral("Fehler beim Laden"), MsgIcon::Warning, MsgOk);
    if (AutoDPIBox->isChecked() || pic->ScannerDPI.X == 0) {
        pic->ScannerDPI.X = logicalDpiX();
        SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
    }
    if (AutoDPIBox->isChecked() || pic->ScannerDPI.Y == 0) {
        pic->ScannerDPI.Y = logicalDpiY();
        SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);
    }
}

void TMainForm::PicInsertItemClick() {
    const QMimeData* offered = OpenClipboard()->mimeData();
    // A metafile stays vectors; the image other programs put beside it is only the fallback,
    // also when the metafile turns out damaged.
    std::unique_ptr<TMetafile> metafile;
    try {
        metafile = MetafileFromMimeData(offered);
    } catch (const EInvalidGraphic&) {
        if (!OffersPackedDib(offered))
            throw;
    }
    if (metafile) {
        AddNewPic();
        pic->Picture.SetGraphic(std::move(metafile));
        ShowLoadedPic();
        return;
    }
    const QByteArray dib = PackedDibFromMimeData(offered);
    if (dib.isEmpty())
        return;
    {
        const TDibBlock block(dib);
        AddNewPic();
        pic->AssignDIB(block.Handle());
    }
    ShowLoadedPic();
}

void TMainForm::Bildkopieren1Click() {
    if (pic->IsEmpty())
        return;
    OpenClipboard()->setMimeData(MimeDataForGraphic(*pic->Picture.Graphic()));
}

void TMainForm::PicSaveAsItemClick() {
    if (pic->IsEmpty())
        return;
    PicSaveDialog.Title = QStringLiteral("Bild sichern");
    PicSaveDialog.DefaultExt = QStringLiteral("bmp");
    PicSaveDialog.Filter =
        PictureSaveFilter(pic->Picture.Graphic()->Kind(), SaveToBmpDialog.Filter);
    PicSaveDialog.FilterIndex = 1;
    PicSaveDialog.PathMustExist = true;
    PicSaveDialog.OverwritePrompt = false;
    // No name is proposed: an existing file is replaced without a question.
    PicSaveDialog.FileName.clear();
    if (Dialogs::Get().SaveFile(this, PicSaveDialog)) {
        PicSaveDialog.InitialDir = QFileInfo(PicSaveDialog.FileName).absolutePath();
        SavePicToFile(PicSaveDialog.FileName);
    }
}

void TMainForm::SavePicToFile(const QString& FileName) {
    if (pic->IsEmpty())
        return;
    const TGraphic& graphic = *pic->Picture.Graphic();
    // A name no writer knows saves nothing, which must not look like a saved file.
    if (!SaveGraphicToFile(graphic, FileName, QSize(pic->ScannerDPI.X, pic->ScannerDPI.Y)))
        ShowMessage(this, CannotSaveAsText(FileName, graphic.Kind() == GraphicKind::Metafile),
                    QStringLiteral("Fehler"), MsgIcon::Warning, MsgOk);
}

void TMainForm::SaveBitmapToFile(const QImage& Bitmap, const QString& FileName) {
    if (!::SaveBitmapToFile(Bitmap, FileName))
        ShowMessage(this, CannotSaveAsText(FileName), QStringLiteral("Fehler"), MsgIcon::Warning,
                    MsgOk);
}

void TMainForm::SaveAllPicsItemClick() {
    if (pic->IsEmpty())
        return;
    SaveAllPicsDialog.Title = QStringLiteral("Alle Bilder unter fortlaufender Nummer sichern");
    SaveAllPicsDialog.Filter = SaveToBmpDialog.Filter;
    // The entry that lists the files the numbering continues.
    SaveAllPicsDialog.FilterIndex = 2;
    SaveAllPicsDialog.PathMustExist = true;
    SaveAllPicsDialog.OverwritePrompt = false;
    SaveAllPicsDialog.DefaultExt = QStringLiteral("jpg");
    SaveAllPicsDialog.FileName = DefaultFilename + QStringLiteral(".jpg");
    if (!Dialogs::Get().SaveFile(this, SaveAllPicsDialog))
        return;
    SaveAllPicsDialog.InitialDir = QFileInfo(SaveAllPicsDialog.FileName).absolutePath();
    if (!CanSaveBitmapAs(SaveAllPicsDialog.FileName)) {
        ShowMessage(this, CannotSaveAsText(SaveAllPicsDialog.FileName), QStringLiteral("Fehler"),
                    MsgIcon::Warning, MsgOk);
        return;
    }

    std::vector<const TGraphic*> pages;
    const int N = static_cast<int>(PicButtons().size());
    for (int i = 1; i <= N; ++i)
        pages.push_back(PicRecords.at(FindPicBtn(i))->Picture.Graphic());
    const TWaitCursor wait;
    SaveAllPictures(pages, SaveAllPicsDialog.FileName);
}

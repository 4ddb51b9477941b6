// The main window's picture collection (pages and page buttons) and picture files.

#include "app/EventHook.h"
#include "app/MainForm.h"

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
}

// The picture collection and picture files arrive with those features; until then the window
// holds its one first picture.

void TMainForm::AddNewPic() {}

void TMainForm::ClosePic() {}

QAbstractButton* TMainForm::FindPicBtn(int n) {
    Q_UNUSED(n)
    return nullptr;
}

void TMainForm::SelectPic(int n) {
    Q_UNUSED(n)
}

void TMainForm::PicBtnClick(QAbstractButton* Sender) {
    Q_UNUSED(Sender)
}

void TMainForm::FormKeyDown(int& Key, Qt::KeyboardModifiers Shift) {
    Q_UNUSED(Key)
    Q_UNUSED(Shift)
}

void TMainForm::PicCloseItemClick() {}

void TMainForm::Datei1Click() {}

void TMainForm::PicOpenItemClick() {}

void TMainForm::PicInsertItemClick() {}

void TMainForm::PicSaveAsItemClick() {}

void TMainForm::Bildkopieren1Click() {}

void TMainForm::SaveAllPicsItemClick() {}

void TMainForm::LoadPicFromFile(const QString& FileName) {
    Q_UNUSED(FileName)
}

void TMainForm::CheckLoadedPic() {}

void TMainForm::SavePicToFile(const QString& FileName) {
    Q_UNUSED(FileName)
}

void TMainForm::SaveBitmapToFile(const QImage& Bitmap, const QString& FileName) {
    Q_UNUSED(Bitmap)
    Q_UNUSED(FileName)
}

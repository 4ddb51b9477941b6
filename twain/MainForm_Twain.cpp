// The main window's scanner acquisition: normal scan, fast copy, scanner choice and the special
// mode for the Mustek driver.

#include "app/EventHook.h"
#include "app/MainForm.h"

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

// Scanning arrives with the acquisition workflow; until then no acquisition runs.

void TMainForm::GetPicBtnClick(QObject* Sender) {
    Q_UNUSED(Sender)
}

bool TMainForm::ScanPics(bool Normal, int DPI) {
    Q_UNUSED(Normal)
    Q_UNUSED(DPI)
    return false;
}

void TMainForm::MScannersettingsClick() {}

void TMainForm::MustekspezialItemClick() {
    MustekspezialItem->setChecked(!MustekspezialItem->isChecked());
}

QWidget* TMainForm::FindMustekDPIEdit() {
    return nullptr;
}

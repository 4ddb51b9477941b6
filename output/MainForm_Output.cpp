// The main window's output: output targets, printer information and printing.

#include "app/EventHook.h"
#include "app/MainForm.h"

#include <QKeyEvent>

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
    // reaches the edit.
    HookEvent(PagesEdit, QEvent::KeyPress, [this](QEvent* event) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.isEmpty())
            return false;
        QChar key = text.front();
        PagesEditKeyPress(PagesEdit, key);
        return key.isNull();
    });
}

// Output targets, printer information and printing arrive with the output features; until then
// there is no printer behind the window.

void TMainForm::PrinterBtnClick() {}

void TMainForm::FaxBtnClick() {}

void TMainForm::BitmapBtnClick() {}

void TMainForm::SetupBtnClick() {}

void TMainForm::UpdatePrinterInfo() {}

void TMainForm::SelectPrinter(int Index) {
    Q_UNUSED(Index)
}

// No printing system is attached yet, which the callers see as a printer error.
int TMainForm::CurrentPrinterIndex() {
    return -2;
}

void TMainForm::PrintBtnClick(QObject* Sender) {
    Q_UNUSED(Sender)
}

QList<TPicProperties*> TMainForm::GetPrintPics() {
    return {};
}

void TMainForm::PagesEditKeyPress(QObject* Sender, QChar& Key) {
    Q_UNUSED(Sender)
    Q_UNUSED(Key)
}

// The main window's part of the scanner's own button: "Scanner&taste startet Schnellkopie" in
// "&Einstellungen", the watch kept running while Velmora is idle, and a press that runs
// "Schnellkopie" as the window's button does.

#include "app/EventHook.h"
#include "app/MainForm.h"
#include "platform/Dialogs.h"
#include "twain/ScannerButton.h"
#include "twain/Twain.h"

#include <QTimer>
#include <chrono>

namespace {

// A device that was not there is looked for again after this long, not at every tick: each
// attempt lists the devices and opens one.
constexpr std::chrono::seconds NoDeviceRetry{5};

} // namespace

void TMainForm::SetupScannerButton() {
    connect(ScannertasteItem, &QAction::triggered, this, Guarded([this](bool checked) {
                // The handler owns the check mark (see MustekspezialItem).
                ScannertasteItem->setChecked(!checked);
                ScannertasteItemClick();
            }));
    ScannertasteItem->setChecked(ReadScannerButtonSetting());
    // The watch follows the window's state: an acquisition, a dialog or a closed window stops
    // it, their end lets it start again.
    ButtonWatchTimer = new QTimer(this);
    ButtonWatchTimer->setInterval(200);
    connect(ButtonWatchTimer, &QTimer::timeout, this, Guarded([this] { UpdateButtonWatch(); }));
    ButtonWatchTimer->start();
}

void TMainForm::ScannertasteItemClick() {
    const bool on = !ScannertasteItem->isChecked();
    ScannertasteItem->setChecked(on);
    ButtonWatchGivenUp = false;
    ButtonWatchRetryAt = {};
    // Switched on by the user: a scanner without a button is worth a word.
    ButtonWatchReport = on;
    if (!WriteScannerButtonSetting(on))
        ShowMessage(this,
                    QStringLiteral("Die Einstellung kann nicht gespeichert werden (%1).")
                        .arg(ScannerButtonSettingFile()),
                    QStringLiteral("Fehler"), MsgIcon::Warning);
    // Off: the scanner is free at once for other programs.
    UpdateButtonWatch();
}

void TMainForm::StopButtonWatch() {
    if (Twain && Twain->WatchingButtons())
        Twain->StopButtons();
}

void TMainForm::UpdateButtonWatch() {
    if (!Twain)
        return;
    const bool wanted = ScannertasteItem->isChecked() && !Acquiring && !ButtonWatchGivenUp &&
                        isVisible() && !VelmoraDialogOpen();
    if (!wanted) {
        StopButtonWatch();
        return;
    }
    if (Twain->WatchingButtons() || std::chrono::steady_clock::now() < ButtonWatchRetryAt)
        return;
    const bool started =
        Twain->WatchButtons(Guarded([this](TTwain::ButtonEvent event, const QString& detail) {
            ButtonNotice(static_cast<int>(event), detail);
        }));
    // A source manager or scanner source of another make has no button watch.
    if (!started)
        ButtonNotice(static_cast<int>(TTwain::ButtonEvent::NoButton), QString());
}

void TMainForm::ButtonNotice(int event, const QString& detail) {
    const bool report = ButtonWatchReport;
    switch (static_cast<TTwain::ButtonEvent>(event)) {
    case TTwain::ButtonEvent::Watching:
        ButtonWatchReport = false;
        break;
    case TTwain::ButtonEvent::NoButton:
        StopButtonWatch();
        ButtonWatchGivenUp = true;
        ButtonWatchReport = false;
        if (report)
            ShowMessage(this,
                        QStringLiteral("Dieser Scanner hat keine Taste, die Velmora erkennt."),
                        QStringLiteral("Scannertaste"), MsgIcon::Information);
        break;
    case TTwain::ButtonEvent::NoDevice:
        StopButtonWatch();
        ButtonWatchRetryAt = std::chrono::steady_clock::now() + NoDeviceRetry;
        ButtonWatchReport = false;
        if (report && !detail.isEmpty())
            ShowMessage(this, detail, QStringLiteral("Scannertaste"), MsgIcon::Warning);
        break;
    case TTwain::ButtonEvent::Pressed:
        // As if the window's button had been pressed; never while a copy or a dialog runs.
        if (!Acquiring && !VelmoraDialogOpen() && FastCopyBtn->isEnabled())
            FastCopyBtn->click();
        break;
    }
}

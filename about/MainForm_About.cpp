// The main window's about command.

#include "app/EventHook.h"
#include "app/MainForm.h"

void TMainForm::SetupAboutHandlers() {
    connect(ber1, &QAction::triggered, this, Guarded([this] { About1Click(); }));
}

// The about box arrives with that feature.
void TMainForm::About1Click() {}

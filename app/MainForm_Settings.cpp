// The main window's settings file: read at the first show, written at close.

#include "app/MainForm.h"

void TMainForm::ReadSettings(const QString& IniFile) {
    // Reading the settings file arrives with the settings; until then the window keeps its
    // design values.
    Q_UNUSED(IniFile)
}

void TMainForm::WriteSettings(const QString& IniFile) {
    // Writing the settings file arrives with the settings.
    Q_UNUSED(IniFile)
}

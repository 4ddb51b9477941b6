#pragma once
// "Scanner&taste startet Schnellkopie": whether the scanner's own button makes a fast copy. The
// choice is kept in Velmora's folder of the user's configuration, beside the scanner choice
// ($XDG_CONFIG_HOME/velmora/scanner-button, "1" or "0"), not in the settings file, whose
// sections and keys stay as they are.

#include <QString>

QString ScannerButtonSettingFile();
// Off when nothing (or nothing readable) was written.
bool ReadScannerButtonSetting();
// Written whole or not at all; false when it could not be written.
bool WriteScannerButtonSetting(bool On);

// Velmora lets go of the scanner while one of its dialogs or message boxes is open, so that
// another program (or Velmora itself, from that dialog) can use it.
bool VelmoraDialogOpen();

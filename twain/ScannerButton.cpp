#include "twain/ScannerButton.h"

#include "app/IniHelp.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QWidget>

QString ScannerButtonSettingFile() {
    return XdgConfigHome() + QStringLiteral("/velmora/scanner-button");
}

bool ReadScannerButtonSetting() {
    QFile file(ScannerButtonSettingFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(16).trimmed() == "1";
}

bool WriteScannerButtonSetting(bool On) {
    const QString path = ScannerButtonSettingFile();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(On ? "1\n" : "0\n") == 2 && file.commit();
}

bool VelmoraDialogOpen() {
    if (QApplication::activeModalWidget())
        return true;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (qobject_cast<QDialog*>(w) || w->isModal()))
            return true;
    return false;
}

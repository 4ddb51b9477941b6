#include "app/IniHelp.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString g_iniFileName;

} // namespace

QString GetIniFileName() {
    if (g_iniFileName.isEmpty()) {
        // The program file with ".ini" in place of its extension; Linux programs have none, so
        // it is simply appended. The per-user folder is looked up once settings are read and
        // written.
        const QFileInfo program(QCoreApplication::applicationFilePath());
        g_iniFileName = program.absolutePath() + QLatin1Char('/') + program.completeBaseName() +
                        QStringLiteral(".ini");
    }
    return g_iniFileName;
}

void SetIniFileName(const QString& path) {
    g_iniFileName = path;
}

#include "app/IniHelp.h"

#include "app/VersionInfo.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString g_iniFileName;

// Linux has no drive letters or backslashes: folders are joined with '/'.
QString WithSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

[[noreturn]] void CannotCreate(const QString& folder) {
    throw EInOutError(QStringLiteral("Ordner %1 kann nicht angelegt werden").arg(folder));
}

// Creates one folder whose parent must exist already.
void CreateFolder(const QString& folder) {
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkdir(folder) && !QFileInfo(folder).isDir())
        CannotCreate(folder);
}

// A fresh account may have no configuration folder yet; XDG wants it private.
void CreateXdgConfigHome(const QString& folder) {
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkpath(folder))
        CannotCreate(folder);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

QString XdgConfigHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return WithSeparator(QDir::homePath()) + QStringLiteral(".config");
}

QString GetIniFileName() {
    return GetIniFileName(RunningProgramPath());
}

QString GetIniFileName(const QString& programFile) {
    if (!g_iniFileName.isEmpty())
        return g_iniFileName;

    // Linux programs carry no extension to replace; a dot in the name belongs to the name.
    const QFileInfo program(programFile);
    const QString besideProgram = program.absoluteFilePath() + QStringLiteral(".ini");
    g_iniFileName = besideProgram;
    if (QFileInfo(besideProgram).isFile())
        return besideProgram;

    QString perUser;
    if (qEnvironmentVariableIsSet("APPDATA")) {
        perUser = qEnvironmentVariable("APPDATA");
        if (perUser.isEmpty())
            return besideProgram;
    } else {
        perUser = XdgConfigHome();
        CreateXdgConfigHome(perUser);
    }

    const QString name = program.fileName();
    const QString vendor = WithSeparator(perUser) + QString::fromLatin1(VendorFolder);
    CreateFolder(vendor);
    const QString folder = vendor + QLatin1Char('/') + name;
    CreateFolder(folder);
    g_iniFileName = folder + QLatin1Char('/') + name + QStringLiteral(".ini");
    return g_iniFileName;
}

void SetIniFileName(const QString& path) {
    g_iniFileName = path;
}

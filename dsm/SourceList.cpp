#include "dsm/SourceList.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <dlfcn.h>
#include <map>

extern "C" TW_UINT16 DSM_Entry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16,
                               TW_MEMREF);

namespace {

// The folder "sources" beside the manager's own file, found through one of its symbols so
// that the build tree and every install prefix work alike.
QStringList SourceFolders() {
    const QByteArray configured = qgetenv("VELMORA_TWAIN_SOURCES");
    if (!configured.isEmpty())
        return QString::fromLocal8Bit(configured).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DSM_Entry), &info) == 0 || !info.dli_fname)
        return {};
    QDir dir = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteDir();
    return {dir.filePath(QStringLiteral("sources"))};
}

struct LoadedSource {
    DSENTRYPROC entry = nullptr;
    VelmoraDS_ListDevicesFn listDevices = nullptr;
    VelmoraDS_SetDefaultDeviceFn setDefaultDevice = nullptr;
    VelmoraDS_WatchButtonsFn watchButtons = nullptr;
    VelmoraDS_StopButtonsFn stopButtons = nullptr;
};

std::map<QString, LoadedSource>& Loaded() {
    static auto* loaded = new std::map<QString, LoadedSource>;
    return *loaded;
}

// Sources stay loaded for the life of the process (see dsm/README.md), so each is loaded once.
LoadedSource LoadSource(const QString& path) {
    std::map<QString, LoadedSource>* loaded = &Loaded();
    auto it = loaded->find(path);
    if (it != loaded->end())
        return it->second;
    LoadedSource source;
    if (void* lib =
            dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
        source.entry = reinterpret_cast<DSENTRYPROC>(dlsym(lib, "DS_Entry"));
        if (source.entry) {
            source.listDevices =
                reinterpret_cast<VelmoraDS_ListDevicesFn>(dlsym(lib, "VelmoraDS_ListDevices"));
            source.setDefaultDevice = reinterpret_cast<VelmoraDS_SetDefaultDeviceFn>(
                dlsym(lib, "VelmoraDS_SetDefaultDevice"));
            source.watchButtons =
                reinterpret_cast<VelmoraDS_WatchButtonsFn>(dlsym(lib, "VelmoraDS_WatchButtons"));
            source.stopButtons =
                reinterpret_cast<VelmoraDS_StopButtonsFn>(dlsym(lib, "VelmoraDS_StopButtons"));
            if (!source.watchButtons || !source.stopButtons) {
                source.watchButtons = nullptr;
                source.stopButtons = nullptr;
            }
        } else {
            dlclose(lib);
        }
    } else {
        std::fprintf(stderr, "velmora-twaindsm: cannot load %s: %s\n",
                     QFile::encodeName(path).constData(), dlerror());
    }
    (*loaded)[path] = source;
    return source;
}

// XDG's rule: a relative XDG_CONFIG_HOME is invalid and ignored.
QString DefaultSourceFile() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velmora/twain-default-source");
}

} // namespace

std::vector<DataSource> ListSources(pTW_IDENTITY app) {
    std::vector<DataSource> sources;
    for (const QString& folder : SourceFolders()) {
        const QFileInfoList files =
            QDir(folder).entryInfoList({QStringLiteral("*.ds")}, QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            DataSource source;
            source.path = QFile::encodeName(file.absoluteFilePath()).toStdString();
            const LoadedSource loaded = LoadSource(file.absoluteFilePath());
            source.entry = loaded.entry;
            if (!source.entry)
                continue;
            // Both or neither: a source that lists devices must also take the choice.
            if (loaded.listDevices && loaded.setDefaultDevice) {
                source.listDevices = loaded.listDevices;
                source.setDefaultDevice = loaded.setDefaultDevice;
            }
            source.watchButtons = loaded.watchButtons;
            source.stopButtons = loaded.stopButtons;
            if (source.entry(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &source.identity) !=
                    TWRC_SUCCESS ||
                source.identity.ProductName[0] == '\0')
                continue;
            source.identity.ProductName[sizeof source.identity.ProductName - 1] = '\0';
            sources.push_back(source);
        }
    }
    return sources;
}

void StopButtonWatches() {
    for (const auto& [path, source] : Loaded())
        if (source.stopButtons)
            source.stopButtons();
}

std::string ReadDefaultSource() {
    QFile file(DefaultSourceFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readLine(256).trimmed().toStdString();
}

bool WriteDefaultSource(const std::string& productName) {
    const QString path = DefaultSourceFile();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::fromStdString(productName + "\n"));
    return file.commit();
}

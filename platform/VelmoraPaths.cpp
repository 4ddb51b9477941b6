#include "platform/VelmoraPaths.h"

#include <QDir>
#include <QFileInfo>

namespace {

struct TKindPlaces {
    const char* relativeToProgram; // installed, seen from bin/
    const char* buildTree;
    const char* configuredPrefix;
};

TKindPlaces PlacesOf(TVelmoraFiles kind) {
    switch (kind) {
    case TVelmoraFiles::Data:
        return {VELMORA_REL_DATA_DIR, VELMORA_BUILD_DATA_DIR, VELMORA_FULL_DATA_DIR};
    case TVelmoraFiles::Translations:
        return {VELMORA_REL_TRANSLATIONS_DIR, VELMORA_BUILD_TRANSLATIONS_DIR,
                VELMORA_FULL_TRANSLATIONS_DIR};
    case TVelmoraFiles::TwainManager:
        return {VELMORA_REL_LIB_DIR, VELMORA_BUILD_LIB_DIR, VELMORA_FULL_LIB_DIR};
    case TVelmoraFiles::TwainSources:
        return {VELMORA_REL_SOURCES_DIR, VELMORA_BUILD_SOURCES_DIR, VELMORA_FULL_SOURCES_DIR};
    }
    return {"", "", ""};
}

QString Installed(TVelmoraFiles kind) {
    return QDir::cleanPath(ProgramFolder() + QLatin1Char('/') +
                           QString::fromUtf8(PlacesOf(kind).relativeToProgram));
}

// Every candidate, existing or not, best first.
QStringList Candidates(TVelmoraFiles kind) {
    QStringList folders;
    const QString fromEnvironment = qEnvironmentVariable("VELMORA_DATA_DIR");
    if (!fromEnvironment.isEmpty()) {
        if (kind == TVelmoraFiles::Data)
            folders << fromEnvironment;
        else if (kind == TVelmoraFiles::Translations)
            folders << fromEnvironment + QStringLiteral("/translations");
    }
    folders << Installed(kind);
    if (kind == TVelmoraFiles::Data)
        folders << ProgramFolder();
    const TKindPlaces places = PlacesOf(kind);
    folders << QString::fromUtf8(places.buildTree) << QString::fromUtf8(places.configuredPrefix);
    folders.removeDuplicates();
    return folders;
}

} // namespace

QString ProgramFolder() {
    // The link names the program even when it was started through another link or by a
    // relative path from a folder it has left since.
    const QFileInfo program(QStringLiteral("/proc/self/exe"));
    return QFileInfo(program.symLinkTarget()).absolutePath();
}

QStringList VelmoraFolders(TVelmoraFiles kind) {
    QStringList existing;
    for (const QString& folder : Candidates(kind))
        if (QFileInfo(folder).isDir())
            existing << folder;
    return existing;
}

QString VelmoraFolder(TVelmoraFiles kind) {
    const QStringList existing = VelmoraFolders(kind);
    return existing.isEmpty() ? Installed(kind) : existing.first();
}

QString VelmoraFile(TVelmoraFiles kind, const QString& name) {
    for (const QString& folder : VelmoraFolders(kind)) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    const QString fallback = kind == TVelmoraFiles::Data ? ProgramFolder() : Installed(kind);
    return fallback + QLatin1Char('/') + name;
}

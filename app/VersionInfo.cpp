#include "app/VersionInfo.h"

#include "platform/ElfVersion.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

namespace {

constexpr char SectionName[] = ".velmora_version";
constexpr std::uint32_t Signature = 0xFEEF04BD;
constexpr qsizetype FixedInfoSize = sizeof(VS_FIXEDFILEINFO);

// Paths and queries were handed to the version API as zero-terminated texts of at most 255
// characters; longer ones are cut the same way here, so they behave alike.
constexpr qsizetype MaxPathLength = 255;

bool ReadVersionSection(const QString& file, QByteArray& section) {
    return ElfVersion::ReadSection(file.left(MaxPathLength), SectionName, section);
}

std::uint32_t LittleEndianWord(const QByteArray& data, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + at);
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The next zero-terminated text of the string tables at `pos`; false at the end of the data
// or when the last text lacks its zero byte (a damaged section).
bool NextText(const QByteArray& data, qsizetype& pos, QByteArrayView& text) {
    const qsizetype end = data.indexOf('\0', pos);
    if (pos >= data.size() || end < 0)
        return false;
    text = QByteArrayView(data).sliced(pos, end - pos);
    pos = end + 1;
    return true;
}

bool SameKey(QByteArrayView a, const QString& b) {
    return QString::fromUtf8(a).compare(b, Qt::CaseInsensitive) == 0;
}

QString FindString(const QByteArray& section, const QString& language, const QString& name) {
    qsizetype pos = FixedInfoSize;
    QByteArrayView table;
    while (NextText(section, pos, table) && !table.isEmpty()) {
        const bool wanted = SameKey(table, language);
        QByteArrayView key;
        QByteArrayView value;
        while (NextText(section, pos, key) && !key.isEmpty()) {
            if (!NextText(section, pos, value))
                return {};
            if (wanted && SameKey(key, name))
                return QString::fromUtf8(value);
        }
    }
    return {};
}

QString VersionText(std::uint32_t ms, std::uint32_t ls) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ms >> 16)
        .arg(ms & 0xFFFF)
        .arg(ls >> 16)
        .arg(ls & 0xFFFF);
}

} // namespace

bool ReadFixedFileInfo(const QString& file, VS_FIXEDFILEINFO& info) {
    QByteArray section;
    if (!ReadVersionSection(file, section) || section.size() < FixedInfoSize ||
        LittleEndianWord(section, 0) != Signature)
        return false;
    std::uint32_t words[13];
    for (int i = 0; i < 13; ++i)
        words[i] = LittleEndianWord(section, 4 * i);
    info = VS_FIXEDFILEINFO{words[0], words[1], words[2], words[3],  words[4],  words[5], words[6],
                            words[7], words[8], words[9], words[10], words[11], words[12]};
    return true;
}

QString VersionNumberText(const QString& file, int which) {
    VS_FIXEDFILEINFO info{};
    if (!ReadFixedFileInfo(file, info))
        return {};
    if (which == 1)
        return VersionText(info.dwFileVersionMS, info.dwFileVersionLS);
    if (which == 2)
        return VersionText(info.dwProductVersionMS, info.dwProductVersionLS);
    return {};
}

QString RunningProgramPath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

QString ProductVersionText() {
    return VersionNumberText(RunningProgramPath(), 2);
}

QString BuildWidthText() {
    return QStringLiteral(" %1-Bit").arg(int(sizeof(void*) * 8));
}

QString VersionInfoString(const QString& language, const QString& name) {
    return FileVersionInfoString(RunningProgramPath(), language, name);
}

QString FileVersionInfoString(const QString& file, const QString& language, const QString& name) {
    QByteArray section;
    if (!ReadVersionSection(file, section) || section.size() < FixedInfoSize)
        return {};
    const QString key = language.isEmpty() ? QString::fromLatin1(DefaultVersionLanguage) : language;
    // The query as the version API took it, cut like a path, then taken apart again.
    const QString prefix = QStringLiteral("\\StringFileInfo\\");
    const QString query = (prefix + key + QLatin1Char('\\') + name).left(MaxPathLength);
    const qsizetype split = query.indexOf(QLatin1Char('\\'), prefix.size());
    if (split < 0)
        return {};
    return FindString(section, query.mid(prefix.size(), split - prefix.size()),
                      query.mid(split + 1));
}

#include "about/AboutText.h"

#include "app/VersionInfo.h"

#include <QDateTime>
#include <QFileInfo>
#include <QUrlQuery>

QString AboutVersionLine(const QString& Caption, const QString& ProductVersion) {
    return Caption + QLatin1Char(' ') + ProductVersion + QStringLiteral(" (6)") + BuildWidthText();
}

QString LinkTarget(const QString& Caption) {
    // An address that already names its scheme is used as it is; "https://" too, which would
    // otherwise become the useless "http://https://...".
    if (Caption.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        Caption.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return Caption;
    return QStringLiteral("http://") + Caption;
}

QUrl SupportMailUrl(const QString& Address, const QString& Title, const QString& Version) {
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(Address);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), Title + QStringLiteral(": Version ") + Version);
    url.setQuery(query);
    return url;
}

QString FreeMemoryText(std::uint64_t AvailPhys, std::uint64_t AvailPageFile) {
    const double mib = double(AvailPhys + AvailPageFile) / 1048576.0;
    return QString::number(mib, 'f', 2) + QStringLiteral(" Mb");
}

QString MhzText(double Mhz, const QLocale& Locale) {
    if (!(Mhz >= 0))
        return {};
    // Five significant digits first, then two decimals: 2893.456 reads 2893,50.
    const double rounded = QString::number(Mhz, 'g', 5).toDouble();
    QLocale numbers = Locale;
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    return numbers.toString(rounded, 'f', 2);
}

std::int64_t FileAge(const QString& File) {
    const QFileInfo info(File);
    if (!info.exists())
        return -1;
    return info.lastModified().toSecsSinceEpoch();
}

QString TimeStampText(const QString& File, TDisplay Display, const QLocale& Locale) {
    const std::int64_t age = FileAge(File);
    if (age < 0)
        return {};
    if (Display == TDisplay::dtNumber)
        return QString::number(age);
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(age).toLocalTime();
    // The short date with a four-digit year and the time with seconds but without the time
    // zone: "08.12.2026 23:56:55".
    QString dateFormat = Locale.dateFormat(QLocale::ShortFormat);
    if (!dateFormat.contains(QLatin1String("yyyy")))
        dateFormat.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    QString timeFormat = Locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    return Locale.toString(stamp.date(), dateFormat) + QLatin1Char(' ') +
           Locale.toString(stamp.time(), timeFormat.trimmed());
}

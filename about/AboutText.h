#pragma once
// The texts of the about box, without widgets: the version line, the link and mail targets, the
// system figures and the program file's time stamp.

#include <QLocale>
#include <QString>
#include <QUrl>
#include <cstdint>

// Caption + " " + product version + " (6)" + the build's word size, e.g.
// "Version 1.4.0.7 (6) 64-Bit".
QString AboutVersionLine(const QString& Caption, const QString& ProductVersion);

// The target of a web link: the caption itself when it starts with "http://" or "https://" in
// any case, otherwise the caption behind "http://".
QString LinkTarget(const QString& Caption);

// "mailto:" + Address with the subject Title + ": Version " + Version.
QUrl SupportMailUrl(const QString& Address, const QString& Title, const QString& Version);

// (AvailPhys + AvailPageFile) in MiB with two decimals and a point, then " Mb": "2048.00 Mb".
QString FreeMemoryText(std::uint64_t AvailPhys, std::uint64_t AvailPageFile);

// The clock rounded to five significant digits and shown with two decimals in the locale's
// decimal separator ("2893,50"); empty for a negative figure (none measured).
QString MhzText(double Mhz, const QLocale& Locale = QLocale());

enum class TDisplay { dtString, dtNumber };

// The last-write time of File in seconds since 1970 (UTC), the file age of Linux; -1 when the
// file does not exist.
std::int64_t FileAge(const QString& File);
// The time stamp of File: its last-write date and time as local date-time text (dtString,
// "08.12.2026 23:56:55" in German) or the file age in decimal (dtNumber); empty when the file
// does not exist.
QString TimeStampText(const QString& File, TDisplay Display, const QLocale& Locale = QLocale());

#pragma once
// What ini_writer_child writes as its i-th key, shared with the test that checks the file after
// killing it. Values are long enough that a torn write would cut through one, and each names
// its own number so that a value landing under the wrong key shows.

#include <QString>

inline QString IniWriterSection(int i) {
    static const char* const sections[] = {"Window", "Output", "Printer",
                                           "Fax",    "Source", "Special"};
    return QString::fromLatin1(sections[i % 6]);
}

inline QString IniWriterKey(int i) {
    return QStringLiteral("K%1").arg(i);
}

inline QString IniWriterValue(int i) {
    return QStringLiteral("v%1:").arg(i) + QString(100 + i % 37, QLatin1Char('x')) +
           QStringLiteral(":end");
}

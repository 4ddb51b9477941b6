#pragma once
// The text of the report of unexpected errors: program version, the error, the current picture
// and the printer, one line each. No widgets here: the main window hands in what the report
// reads (app/MainForm_ErrorReport.cpp) and shows the result.

#include <QLocale>
#include <QString>
#include <functional>

class TPicProperties;

// The report is assembled in a buffer of 4096 characters with a terminating zero: whatever does
// not fit is cut off, so a huge error message still leaves a box that can be shown.
inline constexpr int MaxReportLength = 4095;

// What the report reads. Each value is read when its line is written, so a failing read (a
// printer error while the printers are counted) ends the report at that line.
struct TReportSources {
    std::function<QString()> ProductVersion;
    // The current picture; nullptr when there is none.
    const TPicProperties* Pic = nullptr;
    int PrevXSize = 0;
    int PrevYSize = 0;
    std::function<int()> PrinterIndex;
    std::function<int()> PrinterCount;
};

// The report for `Msg`; lines end with a bare "\r". The zoom and position factors are written
// in the general number format of `locale` (its decimal separator, no digit grouping, at most
// 15 significant digits). A line that fails is replaced by a note that the report is
// incomplete, and the lines after it are left out.
QString DiagnosticReportText(const QString& Msg, const TReportSources& Sources,
                             const QLocale& locale = QLocale());

// The report as it goes on the clipboard: Linux mail and chat programs take a bare carriage
// return for no line break at all and would paste the report as one line, so every line ends
// with a line feed there.
QString ReportForClipboard(const QString& report);

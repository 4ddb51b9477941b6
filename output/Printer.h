#pragma once
// The process-wide printer device: the printer list, the selected printer, its device figures,
// the setup dialog and the print job with its page surface.
//
// The list is read once and keeps its order until Reset, so an index stays valid while the
// program holds it. A printer is "selected" by its index; the device itself (paper, orientation
// and the other settings of the setup dialog) is opened on first use, so a printer that vanished
// after the list was read fails only where its device is needed, with "Ausgewählter Drucker ist
// ungültig", and never silently falls back to another queue.
//
// Every failure is raised as EPrinter (platform/Errors.h) with a German message.

#include <QString>
#include <QStringList>

#include <memory>

class QPainter;
class QWidget;

// Printable area and resolution of the selected printer, for the paper and orientation in force.
struct TDeviceFigures {
    int AreaWidth = 0;    // printable area, device pixels
    int AreaHeight = 0;   // printable area, device pixels
    int AreaMMWidth = 0;  // printable area, whole millimetres
    int AreaMMHeight = 0; // printable area, whole millimetres
    int DpiX = 0;         // device pixels per inch, horizontal
    int DpiY = 0;         // device pixels per inch, vertical
};

class TPrinter {
public:
    // The one printer object of the process, created on first use. It is never destroyed: a
    // printer device must not outlive Qt's print support, which goes away before static objects.
    static TPrinter& Printer();

    TPrinter(const TPrinter&) = delete;
    TPrinter& operator=(const TPrinter&) = delete;

    // Forgets the list, the selection, the settings chosen for every printer and the job title,
    // as at the start of a run; a document in progress is abandoned (nothing is printed). The
    // next use reads the list again.
    void Reset();
    // The same, except that the settings chosen for each printer (paper, orientation, ...) are
    // kept, by printer name, for when it is selected again: printers installed meanwhile appear,
    // and nothing the user chose is lost.
    void ReadListAgain();

    // Names of all installed printers, read on first use and fixed until Reset.
    const QStringList& Printers();
    // Position of `name` in the list, ignoring case; -1 when it is not there.
    int IndexOf(const QString& name);

    // The selected index. With no selection yet the system default printer is selected first;
    // without a default printer: EPrinter "Zur Zeit ist kein Standarddrucker gewählt".
    int PrinterIndex();
    // 0 <= index < count selects that printer, -1 the default printer; any other index raises
    // "Druckerindex außerhalb des zulässigen Bereichs". With no selection yet the default printer
    // is selected first (which may raise the no-default error). On error the selection stays.
    // A printer selected again, also after other printers, has the settings chosen for it.
    void SetPrinterIndex(int index);

    // Figures of the selected printer's device (selecting the default printer first if needed).
    TDeviceFigures Figures();

    // The printer setup dialog for the selected printer, modal, titled `title`, opened on the
    // settings in force for it. Confirmed: the printer, paper and orientation chosen there are
    // in force for that printer's later figures and jobs for the rest of the run (until the next
    // confirmed setup of it, or Reset), and the index follows the chosen printer. Cancelled:
    // nothing changes. A choice the list does not hold (a printer installed after the list was
    // read, printing to a file) is discarded like a cancel. Returns whether the choice was taken.
    bool Setup(QWidget* parent, const QString& title);

    // Name of the job in the print queue; kept until Reset.
    void SetTitle(const QString& title);
    QString Title() const;

    // Opens a document on the selected printer and starts its first page. Raises when the queue
    // cannot take a job now (rejecting, stopped, gone, scheduler unreachable); nothing is
    // spooled then.
    void BeginDoc();
    // Ends the current page and starts the next.
    void NewPage();
    // Ends the last page and hands the document to the printing system. The document is closed
    // also when that fails; the failure (the scheduler refused the job or cannot be reached) is
    // then raised.
    void EndDoc();
    // Abandons a begun document: nothing reaches the printing system. Does nothing when idle.
    void Abort();
    bool Printing() const;

    // The page surface of the document in progress: device pixels, origin at the top-left
    // corner of the printable area, drawing clipped to that area.
    QPainter& Canvas();

private:
    TPrinter();
    ~TPrinter();

    struct Impl;
    std::unique_ptr<Impl> d;
};

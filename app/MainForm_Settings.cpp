// The main window's settings file: read at the first show, written at close. Every key is
// declared in app/SettingsKeys.h; the steps below run in a fixed order because several of them
// have side effects (a checked radio button runs its click handler, the window state changes
// the geometry that is written next).

#include "app/MainForm.h"

#include "app/SettingsKeys.h"
#include "app/SpinEdits.h"
#include "layout/PicObj.h"
#include "output/Printer.h"
#include "platform/IniFile.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

using namespace SettingsKeys;

// A stored size that does not fit the screen (or is no size at all) gives the design size: a
// window larger than the screen could not be moved or resized back by the user.
int FittingLength(int stored, int screenLength, int designLength) {
    return stored > 0 && (screenLength <= 0 || stored <= screenLength) ? stored : designLength;
}

// The first printer whose upper-case name contains "FAX", else printer 0.
int FaxPrinterGuess(const QStringList& printers) {
    for (int i = 0; i < printers.size(); ++i)
        if (printers.at(i).toUpper().contains(QLatin1String("FAX")))
            return i;
    return 0;
}

} // namespace

void TMainForm::ReadSettings(const QString& IniFile) {
    const TIniFile ini(IniFile);
    TPrinter& printer = TPrinter::Printer();

    // 1. The state waits until position and size are in place, so that they become the
    // geometry the window returns to from a maximised state.
    const int state = ReadSetting(ini, WindowState);

    // 2. Each value takes effect before the next is read.
    move(ReadSetting(ini, WindowLeft, x()), y());
    move(x(), ReadSetting(ini, WindowTop, y()));
    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize screenSize = shownOn ? shownOn->geometry().size() : QSize();
    resize(FittingLength(ReadSetting(ini, WindowWidth, width()), screenSize.width(),
                         WindowWidth.Default),
           height());
    resize(width(), FittingLength(ReadSetting(ini, WindowHeight, height()), screenSize.height(),
                                  WindowHeight.Default));

    // 3.
    switch (state) {
    case 1:
        setWindowState(Qt::WindowMinimized);
        break;
    case 2:
        setWindowState(Qt::WindowMaximized);
        break;
    default:
        setWindowState(Qt::WindowNoState);
        break;
    }

    // 4. -2: the printing system failed (no printer, no default printer).
    const int idx = CurrentPrinterIndex();

    // 5.
    QString defaultPrinter;
    if (idx > -2) {
        const int current = printer.PrinterIndex();
        if (current < 0)
            printer.SetPrinterIndex(0);
        else
            defaultPrinter = printer.Printers().at(current);
    }

    // 6.
    int printerTag = printer.IndexOf(ReadSetting(ini, PrinterName, defaultPrinter));
    if (printerTag == -1 && idx > -2)
        printerTag = CurrentPrinterIndex();
    SetTag(PrinterBtn, printerTag);

    // 7.
    int faxTag = printer.IndexOf(ReadSetting(ini, FaxName));
    if (faxTag == -1)
        faxTag = FaxPrinterGuess(printer.Printers());
    SetTag(FaxBtn, faxTag);

    // 8.
    PrintTitle = ReadSetting(ini, OutputTitle, QGuiApplication::applicationDisplayName());

    // 9. Checking a button that is not checked yet runs its click handler (through toggled);
    // the button already checked stays quiet, as does any other value.
    int sel = ReadSetting(ini, OutputSelected);
    if (idx == -2)
        sel = 2;
    switch (sel) {
    case 0:
        PrinterBtn->setChecked(true);
        break;
    case 1:
        FaxBtn->setChecked(true);
        break;
    case 2:
        BitmapBtn->setChecked(true);
        break;
    default:
        break;
    }

    // 10.
    DefaultFilename = ReadSetting(ini, OutputDefaultFilename);

    // 11.
    AutoDPIBox->setChecked(ReadSetting(ini, SourceAutoDPI, AutoDPIBox->isChecked()));

    // 12. and 13. A resolution of 0 would make every size of the copy infinite.
    pic->ScannerDPI.X = ReadSetting(ini, SourceXDPI);
    if (pic->ScannerDPI.X == 0)
        pic->ScannerDPI.X = SourceXDPI.Default;
    SrcXDPIEdit->SetValue(pic->ScannerDPI.X);
    pic->ScannerDPI.Y = ReadSetting(ini, SourceYDPI);
    if (pic->ScannerDPI.Y == 0)
        pic->ScannerDPI.Y = SourceYDPI.Default;
    SrcYDPIEdit->SetValue(pic->ScannerDPI.Y);

    // 14.
    MustekspezialItem->setChecked(ReadSetting(ini, SpecialMustek));
}

void TMainForm::WriteSettings(const QString& IniFile) {
    // Every write replaces the file on its own, so a failure part-way leaves the keys written
    // before it; the error goes to the report and the window still closes.
    TIniFile ini(IniFile);

    // 1. A window minimised from the maximised state counts as minimised.
    const Qt::WindowStates states = windowState();
    WriteSetting(ini, WindowState,
                 states.testFlag(Qt::WindowMinimized)   ? 1
                 : states.testFlag(Qt::WindowMaximized) ? 2
                                                        : 0);

    // 2. The window manager carries the state change out later, so the normal geometry is
    // taken from Qt, which keeps it while the window is maximised. Left and Top are the outer
    // corner (what move() sets at the next start), Width and Height the size resize() takes.
    const QPoint frameOffset = geometry().topLeft() - pos();
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    setWindowState(Qt::WindowNoState);

    // 3.
    WriteSetting(ini, WindowLeft, normal.x() - frameOffset.x());
    WriteSetting(ini, WindowTop, normal.y() - frameOffset.y());
    WriteSetting(ini, WindowWidth, normal.width());
    WriteSetting(ini, WindowHeight, normal.height());

    // 4.
    WriteSetting(ini, OutputSelected, PrinterBtn->isChecked() ? 0 : FaxBtn->isChecked() ? 1 : 2);

    // 5.
    WriteSetting(ini, OutputTitle, PrintTitle);

    // 6. and 7. A printer that is gone is forgotten rather than written as an index.
    TPrinter& printer = TPrinter::Printer();
    const QStringList& printers = printer.Printers();
    const auto writePrinter = [&](const TTextKey& key, int tag) {
        if (tag >= 0 && tag < printers.size())
            WriteSetting(ini, key, printers.at(tag));
        else
            DeleteSetting(ini, key);
    };
    writePrinter(PrinterName, Tag(PrinterBtn));
    writePrinter(FaxName, Tag(FaxBtn));

    // 8.
    WriteSetting(ini, SourceAutoDPI, AutoDPIBox->isChecked());

    // 9.
    WriteSetting(ini, SourceXDPI, SrcXDPIEdit->Value());
    WriteSetting(ini, SourceYDPI, SrcYDPIEdit->Value());

    // 10.
    WriteSetting(ini, SpecialMustek, MustekspezialItem->isChecked());
}

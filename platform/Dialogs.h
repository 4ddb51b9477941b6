#pragma once
// The one seam in front of every modal dialog: message boxes, file dialogs, the colour chooser
// and the printer setup. Production shows Qt's dialogs; tests install a recorder that captures
// what would have been shown and answers from a script, so no test ever blocks on a dialog.

#include <QColor>
#include <QString>

class QFileDialog;
class QPrintDialog;
class QWidget;
class QPrinter;

enum class MsgIcon { None, Information, Warning, Critical, Question };

// Buttons of a message box; several are or-ed together.
enum MsgButton : int {
    MsgOk = 0x1,
    MsgCancel = 0x2,
    MsgYes = 0x4,
    MsgNo = 0x8,
};

struct MessageRequest {
    QString Text;
    QString Caption; // empty: the platform's default caption
    MsgIcon Icon = MsgIcon::None;
    int Buttons = MsgOk;
};

// A file dialog in the copier's own terms. Filter is written as pairs "Text|Pattern|Text|Pattern"
// with patterns separated by ";"; FilterIndex counts from 1.
struct FileDialogRequest {
    QString Title;
    QString Filter;
    int FilterIndex = 1;
    QString DefaultExt; // without the dot; appended when the typed name has no extension
    QString InitialDir;
    QString FileName; // preset name; the chosen path on return
    bool OverwritePrompt = false;
    bool PathMustExist = false;
    bool FileMustExist = false;
};

class Dialogs {
public:
    virtual ~Dialogs();

    // Returns the button pressed (one MsgButton value).
    virtual int Message(QWidget* parent, const MessageRequest& request) = 0;
    // True when the user chose a file; request.FileName and FilterIndex then hold the choice.
    virtual bool OpenFile(QWidget* parent, FileDialogRequest& request) = 0;
    virtual bool SaveFile(QWidget* parent, FileDialogRequest& request) = 0;
    // Preset with `color`; true and the chosen colour when the user confirmed.
    virtual bool ChooseColor(QWidget* parent, QColor& color) = 0;
    // Printer choice and page setup on `printer`; true when the user confirmed.
    virtual bool PrinterSetup(QWidget* parent, QPrinter& printer, const QString& title) = 0;

    // The dialogs in use (the Qt ones unless a test installed others).
    static Dialogs& Get();
    // Installs `dialogs` (not owned); nullptr goes back to the Qt dialogs.
    static void Install(Dialogs* dialogs);
};

// Sets up Qt's file dialog for `request`: title, folder, preset name, default extension and the
// filter. Each filter entry shows its text exactly as the request gives it, and its patterns
// match the extension in either case. Part of the Qt dialogs; on its own so it can be tested.
void PrepareFileDialog(QFileDialog& dialog, const FileDialogRequest& request, bool save);

// Sets up Qt's print dialog as the copier's printer setup: printer, paper, properties, colour
// and duplex, confirmed with "OK". It prints nothing itself, and the fields Velmora decides with
// its own controls (copies, page ranges and page sets) are not offered. Part of the Qt dialogs;
// on its own so it can be tested.
void PreparePrinterSetupDialog(QPrintDialog& dialog, const QString& title);

// Convenience for the plain boxes the copier shows.
int ShowMessage(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                int buttons = MsgOk);

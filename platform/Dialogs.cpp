#include "platform/Dialogs.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTabWidget>

namespace {

QMessageBox::Icon ToQt(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// Patterns on Linux are case-sensitive, but the copier's filters are written for a file system
// that ignores case ("*.BMP"): offer both spellings of every pattern.
QString BothCases(const QString& patterns) {
    QStringList out;
    for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString t = p.trimmed();
        if (!out.contains(t.toLower()))
            out << t.toLower();
        if (!out.contains(t.toUpper()))
            out << t.toUpper();
    }
    return out.join(QLatin1Char(' '));
}

QString ApplyDefaultExt(const QString& fileName, const QString& defaultExt) {
    if (fileName.isEmpty() || defaultExt.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QLatin1Char('.') + defaultExt;
}

class QtDialogs final : public Dialogs {
public:
    int Message(QWidget* parent, const MessageRequest& r) override {
        // Velmora's own multi-line texts separate lines with a bare carriage return, which Qt's
        // labels do not break on.
        QString text = r.Text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        QMessageBox box(ToQt(r.Icon), r.Caption, text, QMessageBox::NoButton, parent);
        struct Map {
            int ours;
            QMessageBox::StandardButton qt;
        };
        static const Map map[] = {{MsgYes, QMessageBox::Yes},
                                  {MsgNo, QMessageBox::No},
                                  {MsgOk, QMessageBox::Ok},
                                  {MsgCancel, QMessageBox::Cancel}};
        for (const Map& m : map)
            if (r.Buttons & m.ours)
                box.addButton(m.qt);
        const int pressed = box.exec();
        for (const Map& m : map)
            if (pressed == m.qt)
                return m.ours;
        return (r.Buttons & MsgCancel) ? MsgCancel : (r.Buttons & MsgNo) ? MsgNo : MsgOk;
    }

    bool OpenFile(QWidget* parent, FileDialogRequest& r) override { return Run(parent, r, false); }
    bool SaveFile(QWidget* parent, FileDialogRequest& r) override { return Run(parent, r, true); }

    bool ChooseColor(QWidget* parent, QColor& color) override {
        const QColor chosen = QColorDialog::getColor(color, parent);
        if (!chosen.isValid())
            return false;
        color = chosen;
        return true;
    }

    bool PrinterSetup(QWidget* parent, QPrinter& printer, const QString& title) override {
        QPrintDialog dialog(&printer, parent);
        PreparePrinterSetupDialog(dialog, title);
        return dialog.exec() == QDialog::Accepted;
    }

private:
    static bool Run(QWidget* parent, FileDialogRequest& r, bool save) {
        QFileDialog dialog(parent);
        PrepareFileDialog(dialog, r, save);
        const QStringList qtFilters = dialog.nameFilters();
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        r.FileName = ApplyDefaultExt(dialog.selectedFiles().first(), r.DefaultExt);
        r.FilterIndex = static_cast<int>(qtFilters.indexOf(dialog.selectedNameFilter())) + 1;
        if (r.FilterIndex < 1)
            r.FilterIndex = 1;
        return true;
    }
};

Dialogs* g_installed = nullptr;

} // namespace

void PrepareFileDialog(QFileDialog& dialog, const FileDialogRequest& r, bool save) {
    dialog.setWindowTitle(r.Title);
    if (!r.InitialDir.isEmpty())
        dialog.setDirectory(r.InitialDir);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Qt shows a filter's pattern list after its text, so "Bitmaps (*.BMP)" would read
    // "Bitmaps (*.BMP) (*.bmp *.BMP)". The dialog hides the list it matches with, and the
    // entry reads as Velmora wrote it.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    QStringList qtFilters;
    const QStringList parts = r.Filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2)
        qtFilters << parts[i].trimmed() + QStringLiteral(" (") + BothCases(parts[i + 1]) +
                         QLatin1Char(')');
    dialog.setNameFilters(qtFilters);
    if (r.FilterIndex >= 1 && r.FilterIndex <= qtFilters.size())
        dialog.selectNameFilter(qtFilters[r.FilterIndex - 1]);
    if (!r.DefaultExt.isEmpty())
        dialog.setDefaultSuffix(r.DefaultExt);
    if (!r.OverwritePrompt)
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!r.FileName.isEmpty())
        dialog.selectFile(r.FileName);
}

void PreparePrinterSetupDialog(QPrintDialog& dialog, const QString& title) {
    if (!title.isEmpty()) // without a title of ours the dialog keeps its own
        dialog.setWindowTitle(title);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    // Page ranges and copies are the copier's own business (page list, "Kopien"). Qt's dialog
    // has no option for its copies field, and with CUPS it shows its page range even without
    // PrintPageRange (as a range the server would cut every job to). Both live on the dialog's
    // "Copies" page, which goes as a whole; the page with colour and duplex stays.
    auto* tabs = dialog.findChild<QTabWidget*>(QStringLiteral("tabs"));
    for (const char* field : {"copies", "gbPrintRange"}) {
        auto* widget = dialog.findChild<QWidget*>(QString::fromLatin1(field));
        for (QWidget* w = widget; tabs && w; w = w->parentWidget())
            if (const int index = tabs->indexOf(w); index >= 0) {
                tabs->setTabVisible(index, false);
                break;
            }
        if (widget && !tabs)
            widget->hide();
    }
    // The dialog confirms a setup; it does not print.
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly))
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok))
            ok->setText(QStringLiteral("OK"));
}

Dialogs::~Dialogs() = default;

Dialogs& Dialogs::Get() {
    static QtDialogs qtDialogs;
    return g_installed ? *g_installed : qtDialogs;
}

void Dialogs::Install(Dialogs* dialogs) {
    g_installed = dialogs;
}

int ShowMessage(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                int buttons) {
    MessageRequest r;
    r.Text = text;
    r.Caption = caption;
    r.Icon = icon;
    r.Buttons = buttons;
    return Dialogs::Get().Message(parent, r);
}

#pragma once
// The about box "Infos": the application, its version line and strings from the program's
// version information, the program icon, live system figures, the settings file, a web link
// and a mail link, and one extra page per paragraph of the application's TInfoAdds. The pages
// are paged with the scroller or PageUp/PageDown; "i" shows or hides the program's time stamp.
// The controls come from AboutDlg.ui under their own names.

#include "ui_AboutDlg.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class TInfoAdds;
class TSystem;
class QLabel;

class TAboutBox : public QDialog, public Ui::TAboutBox {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    void FormCreate();
    void FormShow();
    // Key preview: the dialog sees every key press of its controls first. Setting Key to 0
    // consumes it.
    void FormKeyDown(int& Key, Qt::KeyboardModifiers Shift);
    void FormKeyPress(QChar& Key);
    void AboutTimerTimer();
    void ScrollerClick();
    void LinkLabelClick(QObject* Sender);
    void MailLabelClick();
    void IniLabelDblClick();

    void AddInfoAdds(const TInfoAdds& List);
    void AddInfoText(const QString& Text);
    QWidget* AddInfoPage();

    // Source of the system figures; also takes (and ignores) files dropped on the dialog.
    TSystem* SystemCheck;
    QTimer AboutTimer;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Blue, underlined, hand cursor; a click runs LinkLabelClick.
    void MakeLink(QLabel* Label);

    bool m_shown = false;
    // The key press last previewed and the control it was sent to.
    const QEvent* m_previewedKey = nullptr;
    QPointer<QWidget> m_previewedTarget;
};

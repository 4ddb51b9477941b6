#pragma once
// Velmora's help viewer: a small window that shows the HTML help file "velmorix.hlp", with
// back and forward, a button back to the contents and its own page on how to use it.

#include <QString>
#include <QWidget>

class QPushButton;
class QTextBrowser;

class THelpWindow : public QWidget {
    Q_OBJECT

public:
    explicit THelpWindow(QWidget* parent = nullptr);

    // Shows the contents page of `helpFile`; a missing or unreadable file is reported in the
    // window itself.
    void ShowContents(const QString& helpFile);
    // Shows the viewer's own page "Hilfe verwenden".
    void ShowHelpOnHelp();

    QTextBrowser* Browser() const { return m_browser; }
    // The file of the last ShowContents.
    QString HelpFile() const { return m_helpFile; }

private:
    void Present();

    QTextBrowser* m_browser;
    QPushButton* m_contentsButton;
    QPushButton* m_backButton;
    QPushButton* m_forwardButton;
    QPushButton* m_helpOnHelpButton;
    QString m_helpFile;
};

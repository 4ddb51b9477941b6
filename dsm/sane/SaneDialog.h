#pragma once
// The SANE bridge's own windows, on the GUI thread: the scanner dialog (ShowUI true), built from
// the device's SANE options, and the small progress window of a scan without it (fast copy).

#include "dsm/sane/SaneTypes.h"

#include <QDialog>
#include <QMap>
#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QGroupBox;
class QFormLayout;

namespace sanebridge {

class SaneSession;

// Progress of a page: "Abbrechen" stops the scanner.
class ScanProgress : public QWidget {
    Q_OBJECT
public:
    explicit ScanProgress(QWidget* parent = nullptr);
    void SetPage(int page);
    void SetProgress(long long done, long long total);
    void SetCancelEnabled(bool on);
signals:
    void CancelRequested();

private:
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_cancel;
};

class SaneDialog : public QDialog {
    Q_OBJECT
public:
    SaneDialog(SaneSession& session, const QString& deviceLabel,
               std::function<void(const QString&)> showMessage);

    // While a page is read: options and "Scannen" locked, progress with "Abbrechen" shown.
    void SetScanning(bool scanning);
    ScanProgress* Progress() const { return m_progress; }
    // Reads every option again (after a change that affects others).
    void Reload();

signals:
    void ScanRequested();
    void CloseRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Build();
    QWidget* EditorFor(const OptionDesc& option);
    void Apply(const OptionDesc& option, double number, const QString& text);

    SaneSession& m_session;
    std::function<void(const QString&)> m_showMessage;
    QWidget* m_optionsHost = nullptr;
    ScanProgress* m_progress;
    QPushButton* m_scan;
    QPushButton* m_close;
    bool m_rebuilding = false;
};

} // namespace sanebridge

#pragma once
// The SANE bridge's own windows, on the GUI thread: the scanner dialog (ShowUI true), built from
// the device's SANE options, with a preview of the bed to draw the scan area on, and the small
// progress window of a scan without it (fast copy).

#include "dsm/sane/SaneSession.h"
#include "dsm/sane/SaneTypes.h"

#include <QDialog>
#include <QImage>
#include <QMap>
#include <QRectF>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QGroupBox;
class QFormLayout;
class QTimer;

namespace sanebridge {

class PreviewPane;

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
    ~SaneDialog() override;

    // While a page is read: options and "Scannen" locked, progress with "Abbrechen" shown.
    void SetScanning(bool scanning);
    ScanProgress* Progress() const { return m_progress; }
    // Reads every option again (after a change that affects others).
    void Reload();

    // Runs a preview of the whole bed (after PreviewRequested, once the scanner is free): its
    // lines appear in the pane as they arrive, with the progress and "Abbrechen" of a scan.
    void StartPreview();
    bool PreviewRunning() const;
    // The dialog is going: a running preview is cancelled and its job handed to the caller, who
    // decides how long to wait for the scanner; nothing when no preview runs.
    std::optional<PageJob> StopPreview();
    PreviewPane* Pane() const { return m_pane; }

signals:
    void ScanRequested();
    void PreviewRequested();
    void CloseRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Build();
    QWidget* EditorFor(const OptionDesc& option);
    void Apply(const OptionDesc& option, double number, const QString& text);
    void FollowPreview();
    void ShowAreaInFields(const QRectF& area);
    void ApplyArea(const QRectF& area);
    void ProposeArea();
    void UpdateButtons();

    SaneSession& m_session;
    std::function<void(const QString&)> m_showMessage;
    QWidget* m_optionsHost = nullptr;
    ScanProgress* m_progress;
    QPushButton* m_scan;
    QPushButton* m_close;
    PreviewPane* m_pane;
    QPushButton* m_preview;
    QPushButton* m_autoArea;
    QTimer* m_previewTimer;
    std::string m_device;
    bool m_rebuilding = false;
    bool m_scanning = false;
    bool m_feeder = false;
    OptionUnit m_areaUnit = OptionUnit::Mm;
    // The preview arriving: its job, and the picture its lines are written into.
    std::optional<PageJob> m_previewJob;
    QImage m_arriving;
    long long m_arrivedRows = 0;
    std::vector<std::uint32_t> m_lineBuffer;
};

} // namespace sanebridge

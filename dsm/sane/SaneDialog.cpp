#include "dsm/sane/SaneDialog.h"

#include "dsm/sane/PreviewPane.h"
#include "dsm/sane/SaneCatalogue.h"
#include "dsm/sane/ScanArea.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

namespace sanebridge {

namespace {

// The options every scanner user looks for, with German labels, in this order; the rest goes
// into "Erweitert".
struct Known {
    const char* name;
    const char* label;
};
const Known KnownOptions[] = {
    {"source", "Vorlage"},       {"mode", "Modus"},
    {"resolution", "Auflösung"}, {"x-resolution", "Auflösung"},
    {"tl-x", "Links"},           {"tl-y", "Oben"},
    {"br-x", "Rechts"},          {"br-y", "Unten"},
};

const Known* FindKnown(const std::string& name) {
    for (const Known& k : KnownOptions)
        if (name == k.name)
            return &k;
    return nullptr;
}

bool IsAreaOption(const std::string& name) {
    return name == "tl-x" || name == "tl-y" || name == "br-x" || name == "br-y";
}

// The last preview of each device, shown at once when its dialog opens again, until Velmora
// ends.
std::map<std::string, QImage>& Previews() {
    static std::map<std::string, QImage> previews;
    return previews;
}

QImage KeptPreview(const std::string& device) {
    const auto it = Previews().find(device);
    return it == Previews().end() ? QImage() : it->second;
}

// Backends' own titles, descriptions and value names, in German where SANE has a translation.
QString Translated(const std::string& text) {
    if (text.empty())
        return {};
    return QString::fromStdString(SaneGerman().Translate(text));
}

// The dialog is German whatever the user's locale: decimal commas, no thousands points.
QLocale DialogLocale() {
    QLocale german(QLocale::German, QLocale::Germany);
    german.setNumberOptions(QLocale::OmitGroupSeparator);
    return german;
}

// A word of a list as the device means it: whole numbers in full (never "1,67772E+07"),
// fixed-point values to the four decimals SANE's 16 fraction bits hold.
QString WordText(const QLocale& locale, double word, OptionType type) {
    if (type == OptionType::Int)
        return locale.toString(static_cast<qlonglong>(word));
    return locale.toString(std::round(word * 1e4) / 1e4, 'f', QLocale::FloatingPointShortest);
}

QString UnitSuffix(OptionUnit unit) {
    switch (unit) {
    case OptionUnit::Mm:
        return QStringLiteral(" mm");
    case OptionUnit::Dpi:
        return QStringLiteral(" dpi");
    case OptionUnit::Percent:
        return QStringLiteral(" %");
    case OptionUnit::Microsecond:
        return QStringLiteral(" µs");
    case OptionUnit::Pixel:
        return QStringLiteral(" px");
    case OptionUnit::Bit:
        return QStringLiteral(" Bit");
    default:
        return {};
    }
}

// Qt must never see an exception: a failing option change becomes a message. The call
// operator is SFINAE-constrained so Qt can find out how many of a signal's arguments it takes.
template <class F> struct Guarded {
    std::function<void(const QString&)> report;
    F f;
    template <class... A>
    auto operator()(A&&... args) const -> decltype(f(std::forward<A>(args)...), void()) {
        try {
            f(std::forward<A>(args)...);
        } catch (const std::exception& e) {
            report(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            report(QStringLiteral("Unbekannter Fehler"));
        }
    }
};
template <class F> Guarded<F> Guard(std::function<void(const QString&)> report, F f) {
    return {std::move(report), std::move(f)};
}

} // namespace

// ---- ScanProgress -------------------------------------------------------------------------

ScanProgress::ScanProgress(QWidget* parent)
    : QWidget(parent), m_label(new QLabel(QStringLiteral("Scannen …"), this)),
      m_bar(new QProgressBar(this)), m_cancel(new QPushButton(QStringLiteral("Abbrechen"), this)) {
    if (!parent) {
        setWindowTitle(QStringLiteral("Scannen"));
        setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    m_bar->setRange(0, 0);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_cancel);
    if (!parent)
        layout->setContentsMargins(12, 12, 12, 12);
    else
        layout->setContentsMargins(0, 0, 0, 0);
    connect(m_cancel, &QPushButton::clicked, this, [this] { emit CancelRequested(); });
}

void ScanProgress::SetPage(int page) {
    m_label->setText(page > 1 ? QStringLiteral("Scanne Seite %1 …").arg(page)
                              : QStringLiteral("Scannen …"));
}

void ScanProgress::SetProgress(long long done, long long total) {
    if (total <= 0) {
        m_bar->setRange(0, 0); // length unknown: a busy bar
        return;
    }
    m_bar->setRange(0, 1000);
    m_bar->setValue(static_cast<int>(std::min<long long>(1000, done * 1000 / total)));
}

void ScanProgress::SetCancelEnabled(bool on) {
    m_cancel->setEnabled(on);
}

// ---- SaneDialog ---------------------------------------------------------------------------

SaneDialog::SaneDialog(SaneSession& session, const QString& deviceLabel,
                       std::function<void(const QString&)> showMessage)
    : m_session(session), m_showMessage(std::move(showMessage)), m_progress(new ScanProgress(this)),
      m_scan(new QPushButton(QStringLiteral("Scannen"), this)),
      m_close(new QPushButton(QStringLiteral("Schließen"), this)), m_pane(new PreviewPane(this)),
      m_preview(new QPushButton(QStringLiteral("Vorschau"), this)),
      m_autoArea(new QPushButton(QStringLiteral("Automatisch"), this)),
      m_previewTimer(new QTimer(this)), m_device(session.DeviceName()) {
    setWindowTitle(QStringLiteral("Scanner – %1").arg(deviceLabel));
    // Every editor inherits it: the spin boxes write and read decimal commas.
    setLocale(DialogLocale());
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_optionsHost = new QWidget(this);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(m_optionsHost);
    left->addStretch(1);
    columns->addLayout(left);
    auto* right = new QVBoxLayout;
    right->addWidget(m_pane, 1);
    auto* previewButtons = new QHBoxLayout;
    previewButtons->addWidget(m_preview);
    previewButtons->addWidget(m_autoArea);
    previewButtons->addStretch(1);
    right->addLayout(previewButtons);
    columns->addLayout(right, 1);
    layout->addLayout(columns, 1);
    layout->addWidget(m_progress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_scan);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);
    m_scan->setDefault(true);
    m_progress->hide();
    connect(m_scan, &QPushButton::clicked, this,
            Guard(m_showMessage, [this] { emit ScanRequested(); }));
    connect(m_close, &QPushButton::clicked, this,
            Guard(m_showMessage, [this] { emit CloseRequested(); }));
    m_pane->setObjectName(QStringLiteral("previewPane"));
    m_preview->setObjectName(QStringLiteral("previewScan"));
    m_preview->setToolTip(QStringLiteral("Scannt das ganze Glas schnell in geringer Auflösung, "
                                         "um den Scanbereich mit der Maus zu wählen."));
    m_autoArea->setObjectName(QStringLiteral("autoArea"));
    m_autoArea->setToolTip(
        QStringLiteral("Schlägt den Bereich der Vorlage auf dem Glas als Scanbereich vor."));
    m_previewTimer->setInterval(30);
    connect(m_preview, &QPushButton::clicked, this,
            Guard(m_showMessage, [this] { emit PreviewRequested(); }));
    connect(m_autoArea, &QPushButton::clicked, this,
            Guard(m_showMessage, [this] { ProposeArea(); }));
    connect(m_previewTimer, &QTimer::timeout, this,
            Guard(m_showMessage, [this] { FollowPreview(); }));
    connect(m_pane, &PreviewPane::AreaDragged, this,
            Guard(m_showMessage, [this](const QRectF& area) { ShowAreaInFields(area); }));
    connect(m_pane, &PreviewPane::AreaChosen, this,
            Guard(m_showMessage, [this](const QRectF& area) { ApplyArea(area); }));
    Build();
}

SaneDialog::~SaneDialog() {
    if (m_previewJob)
        m_previewJob->SetNotifier(nullptr);
}

void SaneDialog::SetScanning(bool scanning) {
    m_scanning = scanning;
    m_optionsHost->setEnabled(!scanning && !m_previewJob);
    m_progress->setVisible(scanning || m_previewJob);
    if (scanning)
        m_progress->SetProgress(0, 0);
    UpdateButtons();
}

void SaneDialog::UpdateButtons() {
    const bool busy = m_scanning || m_previewJob;
    m_scan->setEnabled(!busy);
    // A preview of a feeder would pull a sheet through.
    m_preview->setEnabled(!busy && !m_feeder);
    m_autoArea->setEnabled(!busy && !m_feeder && m_pane->HasArea() && !m_pane->Image().isNull());
    m_pane->setEnabled(!busy);
}

void SaneDialog::StartPreview() {
    if (m_previewJob || m_scanning || m_feeder)
        return;
    m_previewJob = m_session.ScanPreview();
    // The end of the preview is shown at once, not at the next tick. Called on the worker: only
    // a queued call; the notices stop before the job is let go (SetNotifier(nullptr)).
    m_previewJob->SetNotifier([this] {
        QMetaObject::invokeMethod(this, Guard(m_showMessage, [this] { FollowPreview(); }),
                                  Qt::QueuedConnection);
    });
    m_arriving = QImage();
    m_arrivedRows = 0;
    m_optionsHost->setEnabled(false);
    m_progress->SetPage(1);
    m_progress->SetProgress(0, 0);
    m_progress->show();
    UpdateButtons();
    m_previewTimer->start();
}

bool SaneDialog::PreviewRunning() const {
    return m_previewJob.has_value();
}

std::optional<PageJob> SaneDialog::StopPreview() {
    if (!m_previewJob)
        return std::nullopt;
    m_previewTimer->stop();
    std::optional<PageJob> job = std::move(m_previewJob);
    m_previewJob.reset();
    job->SetNotifier(nullptr);
    m_progress->setVisible(m_scanning);
    m_optionsHost->setEnabled(!m_scanning);
    UpdateButtons();
    if (job->CurrentPhase() == PageJob::Phase::Done)
        return std::nullopt;
    m_session.Cancel();
    return job;
}

// New lines of the preview into the pane; at its end, the preview is kept for the device.
void SaneDialog::FollowPreview() {
    if (!m_previewJob) {
        m_previewTimer->stop();
        return;
    }
    // Asked before the lines are copied: once done, every line is there.
    const bool done = m_previewJob->CurrentPhase() == PageJob::Phase::Done;
    m_lineBuffer.clear();
    int width = 0;
    long long height = 0;
    const long long rows = m_previewJob->CopyLines(m_arrivedRows, &m_lineBuffer, &width, &height);
    if (width > 0 && rows > m_arrivedRows) {
        const long long wanted = std::max(height, rows);
        if (m_arriving.width() != width || m_arriving.height() < wanted) {
            QImage grown(width, static_cast<int>(wanted), QImage::Format_RGB32);
            grown.fill(Qt::white);
            for (int y = 0; y < std::min<long long>(m_arrivedRows, m_arriving.height()); ++y)
                if (m_arriving.width() == width)
                    std::memcpy(grown.scanLine(y), m_arriving.constScanLine(y),
                                static_cast<std::size_t>(width) * 4);
            m_arriving = std::move(grown);
        }
        for (long long y = m_arrivedRows; y < rows; ++y)
            std::memcpy(m_arriving.scanLine(static_cast<int>(y)),
                        m_lineBuffer.data() + (y - m_arrivedRows) * width,
                        static_cast<std::size_t>(width) * 4);
        m_arrivedRows = rows;
        m_pane->SetImage(m_arriving);
    }
    long long linesDone = 0, linesTotal = 0;
    m_previewJob->Progress(&linesDone, &linesTotal);
    m_progress->SetProgress(linesDone, linesTotal);
    if (!done)
        return;
    m_previewTimer->stop();
    const Status status = m_previewJob->Result();
    // The job's own copy of the page goes with it.
    m_previewJob->SetNotifier(nullptr);
    m_previewJob.reset();
    if (status == Status::Good && m_arrivedRows > 0) {
        if (m_arriving.height() > m_arrivedRows)
            m_arriving = m_arriving.copy(0, 0, m_arriving.width(), static_cast<int>(m_arrivedRows));
        Previews()[m_device] = m_arriving;
        m_pane->SetImage(m_arriving);
    } else {
        // A preview that failed or was cancelled leaves the last good one.
        m_pane->SetImage(KeptPreview(m_device));
        if (status != Status::Good)
            m_showMessage(QString::fromStdString(StatusMessage(status)));
    }
    m_arriving = QImage();
    m_progress->setVisible(m_scanning);
    m_optionsHost->setEnabled(!m_scanning);
    UpdateButtons();
}

// While the area is dragged, the fields follow it; the device hears of it when the drag ends.
void SaneDialog::ShowAreaInFields(const QRectF& area) {
    const std::pair<const char*, double> edges[] = {{"tl-x", area.left()},
                                                    {"tl-y", area.top()},
                                                    {"br-x", area.right()},
                                                    {"br-y", area.bottom()}};
    for (const auto& [name, value] : edges) {
        const QString field = QString::fromLatin1(name);
        if (auto* spin = m_optionsHost->findChild<QDoubleSpinBox*>(field)) {
            const QSignalBlocker quiet(spin);
            spin->setValue(value);
        } else if (auto* whole = m_optionsHost->findChild<QSpinBox*>(field)) {
            const QSignalBlocker quiet(whole);
            whole->setValue(static_cast<int>(std::lround(value)));
        }
    }
}

void SaneDialog::ApplyArea(const QRectF& area) {
    ShowAreaInFields(area);
    QRectF bed, now;
    if (!AreaFromOptions(m_session.Options(), &bed, &now))
        return;
    // An edge is never set beyond the opposite one as it stands: a backend may refuse a left
    // edge right of the right edge.
    std::vector<std::pair<std::string, double>> order;
    if (area.left() >= now.right())
        order = {{"br-x", area.right()}, {"tl-x", area.left()}};
    else
        order = {{"tl-x", area.left()}, {"br-x", area.right()}};
    if (area.top() >= now.bottom()) {
        order.emplace_back("br-y", area.bottom());
        order.emplace_back("tl-y", area.top());
    } else {
        order.emplace_back("tl-y", area.top());
        order.emplace_back("br-y", area.bottom());
    }
    Status failed = Status::Good;
    for (const auto& [name, value] : order) {
        const SetResult r = m_session.SetOption(name, value);
        if (r.status != Status::Good)
            failed = r.status;
    }
    if (failed != Status::Good)
        m_showMessage(QString::fromStdString(StatusMessage(failed)));
    // The fields and the rectangle show what the device holds now (it may round).
    Reload();
}

void SaneDialog::ProposeArea() {
    if (m_pane->Image().isNull() || !m_pane->HasArea())
        return;
    // A little room around the document: 2 mm, or a hundredth of the bed on a device that
    // counts its area in pixels.
    const double margin =
        m_areaUnit == OptionUnit::Mm ? 2.0 : std::max(1.0, m_pane->Bed().width() / 100);
    const QRectF document = DocumentArea(m_pane->Image(), m_pane->Bed(), margin);
    if (document.isNull()) {
        m_showMessage(QStringLiteral("Auf dem Vorschaubild ist keine Vorlage zu erkennen."));
        return;
    }
    m_pane->SetArea(document);
    ApplyArea(document);
}

void SaneDialog::closeEvent(QCloseEvent* event) {
    // The window's close button asks the application to close the source, like "Schließen";
    // the application disables the source, which hides this dialog.
    event->ignore();
    emit CloseRequested();
}

void SaneDialog::keyPressEvent(QKeyEvent* event) {
    // Escape would reject() the dialog behind the application's back.
    if (event->key() == Qt::Key_Escape) {
        emit CloseRequested();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SaneDialog::Reload() {
    // Rebuilt after the current signal has returned: the editor that triggered it is deleted.
    QTimer::singleShot(0, this, Guard(m_showMessage, [this] { Build(); }));
}

void SaneDialog::Build() {
    m_rebuilding = true;
    delete m_optionsHost->layout();
    for (QWidget* w : m_optionsHost->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        delete w;
    const std::vector<OptionDesc> options = m_session.Options();
    auto* main = new QFormLayout;
    auto* advancedBox = new QGroupBox(QStringLiteral("Erweitert"), m_optionsHost);
    auto* advanced = new QFormLayout(advancedBox);
    for (const Known& k : KnownOptions)
        for (const OptionDesc& o : options)
            if (o.name == k.name && o.active)
                if (QWidget* e = EditorFor(o))
                    main->addRow(QString::fromUtf8(k.label) + QLatin1Char(':'), e);
    for (const OptionDesc& o : options) {
        if (FindKnown(o.name) || !o.active)
            continue;
        if (QWidget* e = EditorFor(o))
            advanced->addRow(o.type == OptionType::Button ? QString()
                                                          : Translated(o.title) + QLatin1Char(':'),
                             e);
    }
    auto* host = new QVBoxLayout(m_optionsHost);
    host->setContentsMargins(0, 0, 0, 0);
    host->addLayout(main);
    host->addWidget(advancedBox);
    advancedBox->setVisible(advanced->rowCount() > 0);
    QRectF bed, area;
    const bool hasArea = AreaFromOptions(options, &bed, &area);
    m_pane->SetBed(hasArea ? bed : QRectF());
    if (hasArea)
        m_pane->SetArea(area);
    for (const OptionDesc& o : options)
        if (o.name == "tl-x")
            m_areaUnit = o.unit;
    m_feeder = m_session.FeederSelected();
    // The bed's last preview: not the picture of a sheet in the feeder.
    if (!m_previewJob)
        m_pane->SetImage(m_feeder ? QImage() : KeptPreview(m_device));
    UpdateButtons();
    m_rebuilding = false;
}

QWidget* SaneDialog::EditorFor(const OptionDesc& o) {
    QWidget* editor = nullptr;
    const double current = o.numbers.empty() ? 0 : o.numbers.front();
    if (o.count > 1 && o.type != OptionType::String)
        return nullptr; // arrays (gamma tables) need an editor of their own
    switch (o.type) {
    case OptionType::Bool: {
        auto* box = new QCheckBox(m_optionsHost);
        box->setChecked(current != 0);
        connect(box, &QCheckBox::toggled, this,
                Guard(m_showMessage, [this, o](bool on) { Apply(o, on ? 1 : 0, {}); }));
        editor = box;
        break;
    }
    case OptionType::Int:
    case OptionType::Fixed:
        if (o.constraint == Constraint::WordList) {
            auto* combo = new QComboBox(m_optionsHost);
            for (double w : o.words) {
                combo->addItem(WordText(locale(), w, o.type) + UnitSuffix(o.unit), w);
                if (w == current)
                    combo->setCurrentIndex(combo->count() - 1);
            }
            connect(combo, qOverload<int>(&QComboBox::activated), this,
                    Guard(m_showMessage, [this, o, combo](int i) {
                        Apply(o, combo->itemData(i).toDouble(), {});
                    }));
            editor = combo;
        } else if (o.type == OptionType::Int) {
            auto* spin = new QSpinBox(m_optionsHost);
            spin->setRange(
                o.constraint == Constraint::Range ? int(o.min) : std::numeric_limits<int>::min(),
                o.constraint == Constraint::Range ? int(o.max) : std::numeric_limits<int>::max());
            if (o.quant > 1)
                spin->setSingleStep(int(o.quant));
            spin->setValue(int(current));
            spin->setSuffix(UnitSuffix(o.unit));
            spin->setKeyboardTracking(false);
            connect(spin, qOverload<int>(&QSpinBox::valueChanged), this,
                    Guard(m_showMessage, [this, o](int v) { Apply(o, v, {}); }));
            editor = spin;
        } else {
            auto* spin = new QDoubleSpinBox(m_optionsHost);
            spin->setDecimals(1);
            spin->setRange(o.constraint == Constraint::Range ? o.min : -1e9,
                           o.constraint == Constraint::Range ? o.max : 1e9);
            if (o.quant > 0)
                spin->setSingleStep(o.quant);
            spin->setValue(current);
            spin->setSuffix(UnitSuffix(o.unit));
            spin->setKeyboardTracking(false);
            connect(spin, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
                    Guard(m_showMessage, [this, o](double v) { Apply(o, v, {}); }));
            editor = spin;
        }
        break;
    case OptionType::String:
        if (o.constraint == Constraint::StringList) {
            auto* combo = new QComboBox(m_optionsHost);
            for (const std::string& s : o.strings) {
                combo->addItem(Translated(s), QString::fromStdString(s));
                if (s == o.text)
                    combo->setCurrentIndex(combo->count() - 1);
            }
            connect(combo, qOverload<int>(&QComboBox::activated), this,
                    Guard(m_showMessage,
                          [this, o, combo](int i) { Apply(o, 0, combo->itemData(i).toString()); }));
            editor = combo;
        } else {
            // The device's text is shown in German; left as shown, the device gets its own
            // text back, not the translation.
            const QString shown = Translated(o.text);
            auto* line = new QLineEdit(shown, m_optionsHost);
            connect(line, &QLineEdit::editingFinished, this,
                    Guard(m_showMessage, [this, o, line, shown] {
                        Apply(o, 0,
                              line->text() == shown ? QString::fromStdString(o.text)
                                                    : line->text());
                    }));
            editor = line;
        }
        break;
    case OptionType::Button: {
        auto* button = new QPushButton(Translated(o.title), m_optionsHost);
        connect(button, &QPushButton::clicked, this,
                Guard(m_showMessage, [this, o] { Apply(o, 0, {}); }));
        editor = button;
        break;
    }
    case OptionType::Group:
        break;
    }
    if (editor) {
        editor->setObjectName(QString::fromStdString(o.name));
        editor->setToolTip(Translated(o.description));
        editor->setEnabled(o.settable);
    }
    return editor;
}

void SaneDialog::Apply(const OptionDesc& o, double number, const QString& text) {
    if (m_rebuilding)
        return;
    const SetResult r = o.type == OptionType::String
                            ? m_session.SetOption(o.name, text.toStdString())
                            : m_session.SetOption(o.name, number);
    if (r.status != Status::Good)
        m_showMessage(QString::fromStdString(StatusMessage(r.status)));
    // The device may have taken another value, or changed others (mode → depth): show what it
    // holds now.
    if (r.status != Status::Good || r.inexact || r.reloadOptions) {
        Reload();
    } else if (IsAreaOption(o.name)) {
        QRectF bed, area;
        if (AreaFromOptions(m_session.Options(), &bed, &area))
            m_pane->SetArea(area);
    }
}

} // namespace sanebridge

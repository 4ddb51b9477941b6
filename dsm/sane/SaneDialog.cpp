#include "dsm/sane/SaneDialog.h"

#include "dsm/sane/SaneCatalogue.h"
#include "dsm/sane/SaneSession.h"

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
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

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
      m_close(new QPushButton(QStringLiteral("Schließen"), this)) {
    setWindowTitle(QStringLiteral("Scanner – %1").arg(deviceLabel));
    // Every editor inherits it: the spin boxes write and read decimal commas.
    setLocale(DialogLocale());
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    m_optionsHost = new QWidget(this);
    layout->addWidget(m_optionsHost, 1);
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
    Build();
}

void SaneDialog::SetScanning(bool scanning) {
    m_optionsHost->setEnabled(!scanning);
    m_scan->setEnabled(!scanning);
    m_progress->setVisible(scanning);
    if (scanning)
        m_progress->SetProgress(0, 0);
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
    if (r.status != Status::Good || r.inexact || r.reloadOptions)
        Reload();
}

} // namespace sanebridge

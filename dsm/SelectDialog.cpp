#include "dsm/SelectDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <memory>
#include <thread>

namespace {

VelmoraDSM_SelectFn g_override = nullptr;
void* g_context = nullptr;

void Collect(void* context, const char* name, const char* label, int isDefault) {
    if (!name)
        return;
    static_cast<std::vector<FoundDevice>*>(context)->push_back(
        FoundDevice{name, label ? label : name, isDefault != 0});
}

std::vector<FoundDevice> ListNow(VelmoraDS_ListDevicesFn list, bool* ok) {
    std::vector<FoundDevice> found;
    int n = -1;
    // Runs on a thread of its own, where an escaping error would end the program: a source
    // that fails to list its devices is offered as itself.
    try {
        n = list(Collect, &found);
    } catch (...) {
        found.clear();
        n = -1;
    }
    if (ok)
        *ok = n >= 0;
    return found;
}

// The dialog's handlers run inside Qt's signal delivery, which must never see an exception
// (Qt's widgets are built without exception support). An error there closes the dialog and is
// raised again once exec() has returned, in the manager's own frames, whose entry point turns
// it into a condition code. The call operator is SFINAE-constrained so Qt can find out how
// many of a signal's arguments it takes.
template <class F> struct DialogGuarded {
    QDialog* dialog;
    std::exception_ptr* failure;
    F f;
    template <class... A>
    auto operator()(A&&... args) const -> decltype(f(std::forward<A>(args)...), void()) {
        try {
            f(std::forward<A>(args)...);
        } catch (...) {
            if (!*failure)
                *failure = std::current_exception();
            dialog->reject();
        }
    }
};
template <class F> DialogGuarded<F> Guard(QDialog* dialog, std::exception_ptr* failure, F f) {
    return {dialog, failure, std::move(f)};
}

// One row of the list: a source, or one device of a multi-device source.
struct Row {
    int source = -1;
    std::string device;
    std::string text;
    bool selectable = true;
    bool isDefault = false;
};

// What is known of a multi-device source's devices.
enum SearchState { Searching, Found, Failed };

// The rows for the sources as far as their devices are known; `found[i]` holds source i's
// devices once `state[i]` is Found. A source that could not look is offered as itself.
std::vector<Row> BuildRows(const std::vector<SelectSource>& sources,
                           const std::vector<std::vector<FoundDevice>>& found,
                           const std::vector<int>& state) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const int source = static_cast<int>(i);
        if (!sources[i].listDevices || state[i] == Failed) {
            rows.push_back(Row{source, {}, sources[i].name, true, false});
            continue;
        }
        if (state[i] == Searching) {
            rows.push_back(Row{source, {}, "Suche Scanner…", false, false});
            continue;
        }
        if (found[i].empty()) {
            rows.push_back(
                Row{source, {}, sources[i].name + ": kein Gerät gefunden", false, false});
            continue;
        }
        for (const FoundDevice& d : found[i])
            rows.push_back(Row{source, d.name, d.label, true, d.isDefault});
    }
    return rows;
}

// The row to preselect: the default device of the current source, else its first row.
int PreselectedRow(const std::vector<Row>& rows, int current) {
    int first = -1;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].source != current || !rows[r].selectable)
            continue;
        if (first < 0)
            first = static_cast<int>(r);
        if (rows[r].isDefault)
            return static_cast<int>(r);
    }
    return first;
}

SelectChoice RunOverride(const std::vector<SelectSource>& sources, int current) {
    std::vector<std::vector<FoundDevice>> found(sources.size());
    std::vector<int> state(sources.size(), Found);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (!sources[i].listDevices)
            continue;
        bool ok = false;
        found[i] = ListDevicesOnWorker(sources[i].listDevices, &ok);
        state[i] = ok ? Found : Failed;
    }
    const std::vector<Row> rows = BuildRows(sources, found, state);
    std::vector<const char*> raw;
    for (const Row& row : rows)
        raw.push_back(row.text.c_str());
    const int r = g_override(g_context, raw.data(), static_cast<int>(raw.size()),
                             PreselectedRow(rows, current));
    if (r < 0 || r >= static_cast<int>(rows.size()) ||
        !rows[static_cast<std::size_t>(r)].selectable)
        return {};
    return SelectChoice{rows[static_cast<std::size_t>(r)].source,
                        rows[static_cast<std::size_t>(r)].device};
}

// What the searches share with the dialog; a search that ends after the dialog has gone finds
// the dialog pointer cleared.
struct Searches {
    std::vector<std::vector<FoundDevice>> found;
    std::vector<int> state; // SearchState per source
    std::vector<std::thread> threads;
    ~Searches() {
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }
};

SelectChoice RunQtDialog(const std::vector<SelectSource>& sources, int current) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return {};
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Quelle auswählen"));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QStringLiteral("&Quellen:"), &dialog);
    layout->addWidget(label);
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("SourceList"));
    layout->addWidget(list);
    // A label shows its "&" as a mnemonic (Alt+Q) only when it has a control to focus.
    label->setBuddy(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* choose =
        buttons->addButton(QStringLiteral("&Auswählen"), QDialogButtonBox::AcceptRole);
    choose->setDefault(true);
    QPushButton* refresh =
        buttons->addButton(QStringLiteral("A&ktualisieren"), QDialogButtonBox::ActionRole);
    refresh->setObjectName(QStringLiteral("RefreshButton"));
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);

    std::exception_ptr failure;
    Searches searches;
    searches.found.resize(sources.size());
    searches.state.assign(sources.size(), Found);
    std::vector<Row> rows;
    bool firstFill = true;

    auto fill = [&] {
        const int keepSource = list->currentRow() >= 0 && !firstFill
                                   ? rows[static_cast<std::size_t>(list->currentRow())].source
                                   : current;
        rows = BuildRows(sources, searches.found, searches.state);
        list->clear();
        for (const Row& row : rows) {
            auto* item = new QListWidgetItem(QString::fromStdString(row.text), list);
            if (!row.selectable)
                item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
        }
        list->setCurrentRow(PreselectedRow(rows, keepSource));
        firstFill = false;
        bool busy = false;
        for (int s : searches.state)
            busy = busy || s == Searching;
        refresh->setEnabled(!busy);
        choose->setEnabled(list->currentRow() >= 0);
    };

    QPointer<QDialog> alive(&dialog);
    auto search = [&] {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            if (!sources[i].listDevices || searches.state[i] == Searching)
                continue;
            searches.state[i] = Searching;
            if (searches.threads.size() <= i)
                searches.threads.resize(sources.size());
            if (searches.threads[i].joinable())
                searches.threads[i].join();
            VelmoraDS_ListDevicesFn fn = sources[i].listDevices;
            searches.threads[i] = std::thread([fn, i, &searches, &fill, alive, &failure] {
                bool ok = false;
                auto result = std::make_shared<std::vector<FoundDevice>>(ListNow(fn, &ok));
                // The dialog waits for this thread before it goes, so `alive` still guards a
                // dialog that is closing.
                QMetaObject::invokeMethod(alive.data(),
                                          Guard(alive.data(), &failure,
                                                [result, ok, i, &searches, &fill] {
                                                    searches.found[i] = *result;
                                                    searches.state[i] = ok ? Found : Failed;
                                                    fill();
                                                }),
                                          Qt::QueuedConnection);
            });
        }
        fill();
    };

    QObject::connect(refresh, &QPushButton::clicked, &dialog, Guard(&dialog, &failure, search));
    QObject::connect(list, &QListWidget::currentRowChanged, &dialog,
                     Guard(&dialog, &failure, [&](int row) { choose->setEnabled(row >= 0); }));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    search();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    const int r = list->currentRow();
    // The searches still running end before the dialog goes; what they post then is dropped
    // with the dialog.
    for (std::thread& t : searches.threads)
        if (t.joinable())
            t.join();
    if (failure)
        std::rethrow_exception(failure);
    if (!accepted || r < 0 || r >= static_cast<int>(rows.size()) ||
        !rows[static_cast<std::size_t>(r)].selectable)
        return {};
    return SelectChoice{rows[static_cast<std::size_t>(r)].source,
                        rows[static_cast<std::size_t>(r)].device};
}

} // namespace

std::vector<FoundDevice> ListDevicesOnWorker(VelmoraDS_ListDevicesFn list, bool* ok) {
    std::vector<FoundDevice> found;
    bool good = false;
    std::thread worker([&] { found = ListNow(list, &good); });
    worker.join();
    if (ok)
        *ok = good;
    return found;
}

SelectChoice RunSelectDialog(const std::vector<SelectSource>& sources, int current) {
    if (g_override)
        return RunOverride(sources, current);
    return RunQtDialog(sources, current);
}

void SetSelectDialogOverride(VelmoraDSM_SelectFn fn, void* context) {
    g_override = fn;
    g_context = context;
}

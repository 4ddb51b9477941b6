#include "dsm/SelectDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

VelmoraDSM_SelectFn g_override = nullptr;
void* g_context = nullptr;

int RunQtDialog(const std::vector<std::string>& names, int current) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return -1;
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Quelle auswählen"));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("&Quellen:"), &dialog));
    auto* list = new QListWidget(&dialog);
    for (const std::string& name : names)
        list->addItem(QString::fromStdString(name));
    list->setCurrentRow(current);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QStringLiteral("&Auswählen"), QDialogButtonBox::AcceptRole)
        ->setDefault(true);
    buttons->addButton(QStringLiteral("Abbrechen"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return list->currentRow();
}

} // namespace

int RunSelectDialog(const std::vector<std::string>& names, int current) {
    if (g_override) {
        std::vector<const char*> raw;
        for (const std::string& name : names)
            raw.push_back(name.c_str());
        return g_override(g_context, raw.data(), static_cast<int>(raw.size()), current);
    }
    return RunQtDialog(names, current);
}

void SetSelectDialogOverride(VelmoraDSM_SelectFn fn, void* context) {
    g_override = fn;
    g_context = context;
}

// The printer setup ("Einstellungen..") as Qt's print dialog shows it: it reads as a setup,
// confirmed with "OK", and offers neither copies nor page ranges, which Velmora's own controls
// decide; printer, paper, colour and duplex stay.

#include "platform/Dialogs.h"
#include "tests/gui/GuiTestEnv.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

namespace {

// The names of the dialog's controls that the user can see on some page of it.
QStringList Reachable(QPrintDialog& dialog) {
    QStringList names;
    auto collect = [&] {
        for (const QWidget* w : dialog.findChildren<QWidget*>())
            if (w->isVisible() && !w->objectName().isEmpty() && !names.contains(w->objectName()))
                names << w->objectName();
    };
    collect();
    if (auto* tabs = dialog.findChild<QTabWidget*>())
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->isTabVisible(i)) {
                tabs->setCurrentIndex(i);
                collect();
            }
    return names;
}

} // namespace

class PrinterSetupDialogTest : public QObject {
    Q_OBJECT

private slots:
    void readsAsASetup() {
        QPrinter printer(QPrinter::HighResolution);
        QPrintDialog dialog(&printer);
        PreparePrinterSetupDialog(dialog, QStringLiteral("Druckereinstellungen"));
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Druckereinstellungen"));

        auto* buttons = dialog.findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(buttons);
        QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        // The options the user can unfold ("Optionen >>").
        for (QAbstractButton* b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::ResetRole)
                b->click();

        const QStringList reachable = Reachable(dialog);
        for (const char* field : {"copies", "collate", "printAll", "printRange", "from", "to",
                                  "pagesLineEdit", "pageSetCombo"})
            QVERIFY2(!reachable.contains(QLatin1String(field)), field);
        // Colour mode shows only for a printer that has a choice; duplex is always there.
        for (const char* field : {"printers", "properties", "duplex"})
            QVERIFY2(reachable.contains(QLatin1String(field)), field);

        // Another printer chosen in the dialog leaves it a setup.
        if (auto* printers = dialog.findChild<QComboBox*>(QStringLiteral("printers")))
            for (int i = 0; i < printers->count(); ++i) {
                printers->setCurrentIndex(i);
                QCOMPARE(ok->text(), QStringLiteral("OK"));
            }
        dialog.reject();
    }
};

VELMORA_GUI_TEST_MAIN(PrinterSetupDialogTest)
#include "PrinterSetupDialogTest.moc"

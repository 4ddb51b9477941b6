// Velmora's file dialogs as Qt shows them: the filter entries read exactly as Velmora's filter
// string writes them, and each entry lists its files whatever the case of their extension.

#include "platform/Dialogs.h"
#include "tests/gui/GuiTestEnv.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList ComboItems(const QFileDialog& dialog) {
    const auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QStringList items;
    if (combo)
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
    return items;
}

// The file names the dialog lists in its folder, sorted.
QStringList Listed(const QFileDialog& dialog) {
    const auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    QStringList names;
    if (!view || !view->model())
        return names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
        names << view->model()->index(row, 0, root).data().toString();
    names.sort();
    return names;
}

} // namespace

class FileDialogTest : public QObject {
    Q_OBJECT

private slots:
    void filterEntriesReadAsWrittenAndIgnoreCase_data() {
        QTest::addColumn<int>("filterIndex");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("Bitmaps") << 1 << QStringList{"a.bmp", "b.BMP", "c.Bmp"};
        QTest::newRow("JPeg") << 2 << QStringList{"d.jpg", "e.JPG"};
        QTest::newRow("Rest") << 3
                              << QStringList{"a.bmp", "b.BMP", "c.Bmp", "d.jpg", "e.JPG", "f.txt"};
    }

    void filterEntriesReadAsWrittenAndIgnoreCase() {
        QFETCH(int, filterIndex);
        QFETCH(QStringList, listed);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const char* name : {"a.bmp", "b.BMP", "c.Bmp", "d.jpg", "e.JPG", "f.txt"}) {
            QFile file(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        FileDialogRequest request;
        request.Title = QStringLiteral("Sichere in Datei");
        request.Filter = QStringLiteral("Bitmaps (*.BMP)|*.BMP|JPeg (*.JPG)|*.JPG|Rest (*.*)|*.*");
        request.FilterIndex = filterIndex;
        request.InitialDir = dir.path();
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        PrepareFileDialog(dialog, request, false);
        dialog.show();

        QCOMPARE(ComboItems(dialog),
                 (QStringList{"Bitmaps (*.BMP)", "JPeg (*.JPG)", "Rest (*.*)"}));
        QCOMPARE(dialog.windowTitle(), request.Title);
        QTRY_COMPARE(Listed(dialog), listed);
    }
};

VELMORA_GUI_TEST_MAIN(FileDialogTest)
#include "FileDialogTest.moc"

// The real main window under the offscreen platform: its controls as the user sees them, its
// start-up and shut-down, the key preview, help and the report of unexpected errors.

#include "app/MainForm.h"
#include "app/CmdLine.h"
#include "app/EventHook.h"
#include "app/HelpWindow.h"
#include "app/SpinEdits.h"
#include "app/VelmoraApplication.h"
#include "layout/PicObj.h"
#include "platform/Errors.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <stdexcept>

namespace {

// Start-up and shut-down report their steps in the "velmora.lifecycle" category.
QStringList g_lifecycle;
QtMessageHandler g_previousHandler = nullptr;

void CaptureLifecycle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category && QByteArray(context.category) == "velmora.lifecycle")
        g_lifecycle << message;
    else if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// An object whose event handler raises whatever the test asks for.
class Thrower : public QObject {
public:
    std::function<void()> Raise;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            Raise();
            return true;
        }
        return QObject::event(event);
    }
};

QString Caption(const QObject* control) {
    if (auto* group = qobject_cast<const QGroupBox*>(control))
        return group->title();
    if (auto* action = qobject_cast<const QAction*>(control))
        return action->text();
    return control->property("text").toString();
}

// Gives `record` a w x h picture.
void SetPicture(TPicProperties& record, int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetImage(image);
    record.Picture.SetGraphic(std::move(bitmap));
}

const QString ReportIntro = QStringLiteral("Es ist ein unerwarteter Programmfehler aufgetreten:\r");

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void captionsKeepTheirMnemonics_data();
    void captionsKeepTheirMnemonics();
    void controlsSitInTheirPanels_data();
    void controlsSitInTheirPanels();
    void panelsAreReadableAndDoNotOverlap();
    void hintsAreExact_data();
    void hintsAreExact();
    void hintsAreOffElsewhere();
    void menuItems_data();
    void menuItems();
    void specialMenuItems();
    void windowFrame();
    void panelSplitFollowsTheWindowSize();
    void startUpState();
    void firstShowRunsOnce();
    void escapeClosesAndShutsDownInOrder();
    void helpShowsTheHelpFile();
    void helpOnUsingHelp();
    void missingHelpFileIsReportedInTheViewer();
    void unhandledErrorsReachTheReport();
    void errorsBeforeTheWindowExistShowTheMessageAlone();
    void handlersKeepTheirErrorsFromQt();
    void firstShowLaysOutTheFinalGeometry();
    void errorsOfStartUpStepsReachTheReport_data();
    void errorsOfStartUpStepsReachTheReport();

private:
    template <class T = QWidget> T* Control(const char* name) const {
        return Child<T>(*form, name);
    }

    TMainForm* form = nullptr;
    DialogRecorder* dialogs = nullptr;
};

void MainFormTest::initTestCase() {
    QLoggingCategory::setFilterRules(QStringLiteral("velmora.lifecycle.debug=true"));
}

void MainFormTest::init() {
    dialogs = new DialogRecorder;
    g_lifecycle.clear();
    g_previousHandler = qInstallMessageHandler(CaptureLifecycle);
    form = new TMainForm;
    form->show();
    QApplication::setActiveWindow(form);
    QVERIFY(QTest::qWaitForWindowActive(form));
}

void MainFormTest::cleanup() {
    delete form;
    form = nullptr;
    qInstallMessageHandler(g_previousHandler);
    delete dialogs;
    dialogs = nullptr;
    VelmoraApplication::SetHelpFile(QStringLiteral("velmorix.hlp"));
}

void MainFormTest::captionsKeepTheirMnemonics_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    const char* const rows[][2] = {
        {"PrinterBtn", "D&rucker"},
        {"FaxBtn", "&Fax"},
        {"BitmapBtn", "&Bitmap"},
        {"PrinterLabel", "Druckername"},
        {"SetupBtn", "Eins&tellungen.."},
        {"GetPicBtn", "&Hole Bild"},
        {"PrintBtn", "Druc&ken"},
        {"FastCopyBtn", "&Schnellkopie"},
        {"CloseBtn", "Sch&ließen"},
        {"PrinterGroup", "Dru&cker"},
        {"AllPagesBtn", "Alle Seiten"},
        {"SelPagesBtn", ""},
        {"CopiesLabel", "Kopien"},
        {"PaperColorLabel", "Papierfarbe"},
        {"ScannerGroup", "&Quelle (dpi)"},
        {"SrcXDPILabel", "waag."},
        {"SrcYDPILabel", "senk."},
        {"AutoDPIBox", "Automatisch"},
        {"VorlagenBox", "&Vorlage"},
        {"Label6", "Position"},
        {"XPosLabel", "X"},
        {"YPosLabel", "Y"},
        {"XZoomLabel", "&X"},
        {"YZoomLabel", "&Y"},
        {"XPercentLabel", "%"},
        {"YPercentLabel", "%"},
        {"BothBox", ""},
        {"PicPixelsLabel", "0 x 0"},
        {"PicCMLabel", "0 x 0 cm²"},
        {"PicDPILabel", "DPI  X: 0  Y: 0"},
        {"QualityLabel", "Qual.  X: 1  Y: 1"},
        {"PicBtn", "1"},
    };
    for (const auto& row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromUtf8(row[1]);
}

void MainFormTest::captionsKeepTheirMnemonics() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    // The design captions: the first show sets the output mode, which rewrites some of them.
    delete form;
    form = new TMainForm;
    const QWidget* control = form->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(Caption(control), caption);
}

void MainFormTest::controlsSitInTheirPanels_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    const char* const rows[][2] = {
        {"BitmapBtn", "PrinterPanel"},         {"PrinterLabel", "PrinterPanel"},
        {"CloseBtn", "PrinterPanel"},          {"PrinterGroup", "InfoPanel"},
        {"ScannerGroup", "InfoPanel"},         {"VorlagenBox", "InfoPanel"},
        {"PixelsLabel", "PrinterGroup"},       {"PagesEdit", "PrinterGroup"},
        {"CopiesEdit", "PrinterGroup"},        {"PaperColorShape", "PrinterGroup"},
        {"SrcYDPIEdit", "ScannerGroup"},       {"AutoDPIBox", "ScannerGroup"},
        {"YPosEdit", "VorlagenBox"},           {"CenterSizeBtn", "VorlagenBox"},
        {"QualityLabel", "VorlagenBox"},       {"ButtonScrollBox", "PreviewPanel"},
        {"PicBtn", "ButtonScrollBoxContents"}, {"PaperPanel", "PreviewPanel"},
        {"PaintPanel", "PaperPanel"},          {"PreviewPaintBox", "PaintPanel"},
    };
    for (const auto& row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

void MainFormTest::controlsSitInTheirPanels() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    const QWidget* control = form->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), parent);
}

void MainFormTest::panelsAreReadableAndDoNotOverlap() {
    for (const char* panel : {"PrinterPanel", "PrinterGroup", "ScannerGroup", "VorlagenBox"}) {
        const QWidget* parent = Control(panel);
        QList<QWidget*> children;
        for (QObject* child : parent->children())
            if (child->isWidgetType() && !static_cast<QWidget*>(child)->isWindow())
                children << static_cast<QWidget*>(child);
        for (int i = 0; i < children.size(); ++i) {
            const QWidget* a = children[i];
            const QString where = QStringLiteral("%1 in %2").arg(a->objectName(), panel);
            QVERIFY2(parent->rect().contains(a->geometry()), qPrintable(where + " sticks out"));
            for (int j = i + 1; j < children.size(); ++j)
                QVERIFY2(!a->geometry().intersects(children[j]->geometry()),
                         qPrintable(where + " overlaps " + children[j]->objectName()));
            // Captions must not be cut off (the glyph and page buttons have none).
            const bool hasCaption =
                (qobject_cast<const QLabel*>(a) || qobject_cast<const QAbstractButton*>(a)) &&
                !Caption(a).isEmpty();
            if (hasCaption)
                QVERIFY2(a->sizeHint().width() <= a->width(), qPrintable(where + " is cut off"));
        }
    }
}

void MainFormTest::hintsAreExact_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("hint");
    const QString copies = QStringLiteral(
        "Feld zur Einstellung der Kopien.\r\nEs erscheint _kein_ Druckdialog, \r\nwo diese "
        "Einstellung noch geändert werden kann !");
    const QString paperColor = QStringLiteral(
        "Hier kann eine Papierfarbe eingestellt werden,\r\ndie in der Vorschau das Druckergebnis "
        "demonstriert.\r\nDiese Farbe wird _nicht_ mit ausgedruckt.");
    const QString srcTail = QStringLiteral(
        "\r\nWenn der verwendete TWAIN - Treiber kein korrektes Ergebnis\r\nzurückgibt, dann muss "
        "der korrekte Wert von Hand eingetragen werden,\r\ndamit Schnellkopie funktioniert und "
        "die Vorschau korrekt angezeigt wird.");
    const QString xZoom = QStringLiteral(
        "Prozentuale horizontale Größe des Ausdrucks im Vergleich zum Original.\r\nDamit die "
        "Angabe korrekt ist, muss die Scannerauflösung korrekt eingestellt sein.");
    QTest::newRow("BitmapBtn") << "BitmapBtn"
                               << QStringLiteral("Hier kann jeweils nur die aktuelle Seite \r\nin "
                                                 "die Zwischenablage geschrieben werden.");
    QTest::newRow("CopiesEdit") << "CopiesEdit" << copies;
    QTest::newRow("CopiesLabel") << "CopiesLabel" << copies;
    QTest::newRow("PaperColorLabel") << "PaperColorLabel" << paperColor;
    QTest::newRow("PagesEdit")
        << "PagesEdit"
        << QStringLiteral("Hier können explizite Seiten zum Drucken angegeben werden.\r\nDie "
                          "aktuelle Seite ist voreingestellt.\r\nMehrere einzelne Seiten können "
                          "mit Komma \r\nund Seitenfolgen mit Bindestrich angegeben werden.");
    QTest::newRow("SrcXDPIEdit") << "SrcXDPIEdit"
                                 << QStringLiteral("Horizontale Scanner - Auflösung in DPI") +
                                        srcTail;
    QTest::newRow("SrcYDPIEdit") << "SrcYDPIEdit"
                                 << QStringLiteral("Vertikale Scanner - Auflösung in DPI") +
                                        srcTail;
    QTest::newRow("AutoDPIBox")
        << "AutoDPIBox"
        << QStringLiteral("Falls der TWAIN - Treiber keine korrekten Auflösungen zurückgibt,\r\n"
                          "dann kann man diese Box deaktivieren und nur mit manuell "
                          "angegebenen\r\nAuflösungen arbeiten.");
    QTest::newRow("XZoomEdit") << "XZoomEdit" << xZoom;
    QTest::newRow("XPercentLabel") << "XPercentLabel" << xZoom;
    QTest::newRow("BothBox")
        << "BothBox"
        << QStringLiteral("Das Ergebnisbild wird bei Größenänderungen automatisch so "
                          "eingestellt, \r\ndass es dasselbe Form wie das Original behält.");
    QTest::newRow("QualityLabel")
        << "QualityLabel"
        << QStringLiteral("Qualitätsmaß für das Ergebnisbild\r\n1 so gut die Vorlage, > 1 "
                          "bessere Auflösung wie die Vorlage (mehr DPI),\r\n< 1 schlechtere "
                          "Auflösung wie die Vorlage (weniger DPI)");
}

void MainFormTest::hintsAreExact() {
    QFETCH(QString, name);
    QFETCH(QString, hint);
    const QWidget* control = form->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->toolTip(), hint);
}

void MainFormTest::hintsAreOffElsewhere() {
    for (const char* name : {"PrinterBtn", "PrintBtn", "CloseBtn", "PrinterLabel", "AllPagesBtn",
                             "Label6", "PicPixelsLabel", "PicBtn", "PreviewPaintBox"})
        QVERIFY2(Control(name)->toolTip().isEmpty(), name);
    QVERIFY(form->toolTip().isEmpty());
    // Stored, but not shown: the page button's key hint and the pixel label's hint.
    QCOMPARE(Control("PicBtn")->property("hint").toString(),
             QStringLiteral("Mit Bild-hoch und Bild-runter kann man von Bild zu Bild wechseln.\r\n"
                            "Mit Strg-Bild-hoch und Strg-Bild-runter kann man ein Bild "
                            "verschieben."));
    QCOMPARE(Control("PicPixelsLabel")->property("hint").toString(),
             QStringLiteral("Größe des Ausdrucks in Pixeln"));
}

void MainFormTest::menuItems_data() {
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("items"); // object names, "-" for a separator
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("Datei") << "Datei1"
                           << QStringList{"HoleBild1",
                                          "PicOpenItem",
                                          "PicInsertItem",
                                          "PicCloseItem",
                                          "-",
                                          "Drucken1",
                                          "PicSaveAsItem",
                                          "Bildkopieren1",
                                          "SaveAllPicsItem",
                                          "-",
                                          "FastCopyItem",
                                          "AusweiskopieItem",
                                          "-",
                                          "MClose"}
                           << QStringList{"&Hole Bild...",
                                          "Bild &öffnen...",
                                          "Bild ein&fügen",
                                          "Bild schlie&ßen",
                                          "-",
                                          "&Drucken",
                                          "Bild &sichern...",
                                          "Bild &kopieren",
                                          "Alle Bilder sichern...",
                                          "-",
                                          "Schne&llkopie",
                                          "&Ausweiskopie...",
                                          "-",
                                          "&Schließen"};
    QTest::newRow("Einstellungen")
        << "EinstellungenMenu"
        << QStringList{"MScannersettings",  "MPrintersettings", "FaxSettingsItem", "-",
                       "MustekspezialItem", "ScannertasteItem"}
        << QStringList{"&Scanner ...",    "&Drucker/Fax...",
                       "&Fax...",         "-",
                       "&Mustek spezial", "Scanner&taste startet Schnellkopie"};
    QTest::newRow("Hilfe") << "HilfeMenu" << QStringList{"Hilfe1", "Hilfebenutzen1", "-", "ber1"}
                           << QStringList{"&Hilfe", "Hilfe &verwenden", "-", "&Über..."};
}

void MainFormTest::menuItems() {
    QFETCH(QString, menu);
    QFETCH(QStringList, items);
    QFETCH(QStringList, captions);
    const auto* m = form->findChild<QMenu*>(menu);
    QVERIFY(m);
    const QList<QAction*> actions = m->actions();
    QCOMPARE(actions.size(), items.size());
    for (int i = 0; i < items.size(); ++i) {
        if (items[i] == QLatin1String("-")) {
            QVERIFY(actions[i]->isSeparator());
            continue;
        }
        QCOMPARE(actions[i]->objectName(), items[i]);
        QCOMPARE(actions[i]->text(), captions[i]);
    }
}

void MainFormTest::specialMenuItems() {
    const QMenuBar* bar = form->menuBar();
    QCOMPARE(bar->objectName(), QStringLiteral("MainMenu"));
    QStringList titles;
    for (const QAction* a : bar->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"&Datei", "&Einstellungen", "&Hilfe"}));

    QCOMPARE(Control<QAction>("PicCloseItem")->shortcut(), QKeySequence(QStringLiteral("Ctrl+F4")));
    QCOMPARE(Control<QAction>("Hilfe1")->shortcut(), QKeySequence(Qt::Key_F1));
    QVERIFY(!Control<QAction>("FaxSettingsItem")->isVisible());

    // The check item toggles once per command.
    auto* mustek = Control<QAction>("MustekspezialItem");
    QVERIFY(mustek->isCheckable());
    QVERIFY(!mustek->isChecked());
    mustek->trigger();
    QVERIFY(mustek->isChecked());
    mustek->trigger();
    QVERIFY(!mustek->isChecked());
}

void MainFormTest::windowFrame() {
    QCOMPARE(form->windowTitle(), QStringLiteral("Velmora"));
    QCOMPARE(form->size(), QSize(534, 418));
    const Qt::WindowFlags flags = form->windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(form->minimumSize() != form->maximumSize()); // the frame stays sizeable

    const QRect screen = form->screen()->geometry();
    QCOMPARE(form->pos(), QPoint(screen.x() + (screen.width() - 534) / 2,
                                 screen.y() + (screen.height() - 418) / 2));

    QCOMPARE(form->font().family(), QStringLiteral("Times New Roman"));
    QCOMPARE(form->font().pixelSize(), 13);
    QCOMPARE(QFontInfo(Control("PrinterLabel")->font()).family(),
             QStringLiteral("Liberation Serif"));
}

void MainFormTest::panelSplitFollowsTheWindowSize() {
    for (const QSize size : {QSize(534, 418), QSize(800, 600)}) {
        form->resize(size);
        QApplication::processEvents();
        const QWidget* top = Control("PrinterPanel");
        const QWidget* info = Control("InfoPanel");
        const QWidget* preview = Control("PreviewPanel");
        QCOMPARE(top->height(), 57);
        QCOMPARE(top->width(), form->width());
        QCOMPARE(info->width(), 246);
        QCOMPARE(info->mapTo(form, QPoint(info->width(), 0)).x(), form->width());
        QCOMPARE(info->y(), preview->y());
        QCOMPARE(preview->width() + info->width(), form->width());
        QCOMPARE(preview->mapTo(form, QPoint(0, preview->height())).y(), form->height());
        // The page strip spans the preview panel's height on its left edge.
        const QWidget* strip = Control("ButtonScrollBox");
        // Its width is FormResize's business.
        QCOMPARE(strip->geometry(), QRect(0, 0, strip->width(), preview->height()));
    }
}

void MainFormTest::startUpState() {
    // The edits the start-up writes, in the German locale.
    auto* xZoom = Control<TFloatSpinEdit>("XZoomEdit");
    auto* yZoom = Control<TFloatSpinEdit>("YZoomEdit");
    QCOMPARE(xZoom->Text(), QStringLiteral("100,00"));
    QCOMPARE(yZoom->Text(), QStringLiteral("100,00"));
    QCOMPARE(xZoom->MaxValue(), 2147483647.0);
    QCOMPARE(yZoom->MaxValue(), 2147483647.0);
    // Printer mode, or bitmap mode where the printing system has no (default) printer.
    const char* const outputMode = form->CurrentPrinterIndex() == -2 ? "BitmapBtn" : "PrinterBtn";
    for (const char* name : {"BothBox", "AutoDPIBox", outputMode, "AllPagesBtn"})
        QVERIFY2(Control<QAbstractButton>(name)->isChecked(), name);
    auto* copies = Control<TSpinEdit>("CopiesEdit");
    QCOMPARE(copies->Value(), 1);
    QCOMPARE(copies->MinValue(), 1);
    QCOMPARE(copies->MaxValue(), 9999);
    // 0 in the form; without a settings file the first show reads the default 300 dpi.
    for (const char* name : {"SrcXDPIEdit", "SrcYDPIEdit"}) {
        QCOMPARE(Control<TSpinEdit>(name)->Value(), 300);
        QCOMPARE(Control<TSpinEdit>(name)->MaxValue(), 2147483647);
    }
    for (const char* name : {"XPosEdit", "YPosEdit"}) {
        QCOMPARE(Control<TSpinEdit>(name)->Increment(), 10);
        QCOMPARE(Control<TSpinEdit>(name)->MinValue(), Control<TSpinEdit>(name)->MaxValue());
    }

    // The owned objects.
    QVERIFY(form->pic);
    QCOMPARE(form->PicRecords.size(), std::size_t(1));
    auto* picBtn = Control<QToolButton>("PicBtn");
    QCOMPARE(form->PicRecords.at(picBtn).get(), form->pic);
    QVERIFY(form->PrinterProps);
    QCOMPARE(form->pic->PrinterProperties, form->PrinterProps.get());
    QVERIFY(form->pic->IsEmpty());
    QVERIFY(form->Twain);
    QVERIFY(form->UpdatesEnabled);
    QCOMPARE(form->PrintJobCount, 0);
    QVERIFY(form->PreviewBitmap.has_value());
    QCOMPARE(form->IniFileName, GuiTestIniFile());
    QVERIFY(!form->CmdLineHandler); // released at the end of the first show

    QCOMPARE(form->SaveToBmpDialog.Filter,
             QStringLiteral("Bitmaps (*.BMP)|*.BMP|JPeg (*.JPG)|*.JPG|Rest (*.*)|*.*"));

    QCOMPARE(form->HandCursor.shape(), Qt::BitmapCursor);
    QVERIFY(!form->HandCursor.pixmap().isNull());

    // One empty page: the strip is hidden, its only button pressed and 16 x 16.
    QVERIFY(!Control("ButtonScrollBox")->isVisible());
    QVERIFY(picBtn->isChecked());
    QCOMPARE(picBtn->size(), QSize(16, 16));
    QVERIFY(form->findChild<QButtonGroup*>(QStringLiteral("PicBtnGroup"))->exclusive());
    // Nothing of the picture area shows before a picture is laid out: creation puts the box at
    // the right edge of its panel. (The first show lays out the sheet of the output device, which
    // may widen the panel; the empty picture's box stays where it is.)
    {
        TMainForm created;
        QCOMPARE(created.findChild<QWidget*>("PreviewPaintBox")->x(),
                 created.findChild<QWidget*>("PaintPanel")->width());
    }

    const QFileInfo help(VelmoraApplication::HelpFile());
    QVERIFY(help.isAbsolute());
    QCOMPARE(help.fileName(), QStringLiteral("velmorix.hlp"));
}

void MainFormTest::firstShowRunsOnce() {
    QCOMPARE(g_lifecycle.count(QStringLiteral("FormShow")), 1);
    QCOMPARE(g_lifecycle.indexOf(QStringLiteral("FormCreate")), 0);
    form->hide();
    form->show();
    QCOMPARE(g_lifecycle.count(QStringLiteral("FormShow")), 1);
}

void MainFormTest::escapeClosesAndShutsDownInOrder() {
    // The settings are written at close: a size set now is in the file afterwards.
    QFile::remove(GuiTestIniFile());
    form->resize(610, 455);
    QApplication::processEvents();
    auto* copies = Control("CopiesEdit");
    copies->setFocus();
    g_lifecycle.clear();
    QTest::keyClick(copies, Qt::Key_Escape);
    QVERIFY(!form->isVisible());
    QCOMPARE(g_lifecycle,
             (QStringList{"FormClose: PreviewBitmap released", "FormClose: WriteSettings"}));
    QVERIFY(!form->PreviewBitmap.has_value());
    QFile ini(GuiTestIniFile());
    QVERIFY(ini.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(ini.readAll()).split('\n');
    QVERIFY2(lines.contains("[Window]"), qPrintable(lines.join('|')));
    QVERIFY2(lines.contains("Width=610"), qPrintable(lines.join('|')));
    QVERIFY2(lines.contains("Height=455"), qPrintable(lines.join('|')));
    ini.close();
    QFile::remove(GuiTestIniFile()); // the later cases start at the default size

    g_lifecycle.clear();
    delete form;
    form = nullptr;
    QCOMPARE(g_lifecycle,
             (QStringList{"FormDestroy: pic released", "FormDestroy: picture records released",
                          "FormDestroy: PrinterProps released", "FormDestroy: Twain released"}));
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
}

void MainFormTest::helpShowsTheHelpFile() {
    QTest::keyClick(form, Qt::Key_F1);
    THelpWindow* viewer = form->HelpViewer();
    QVERIFY(viewer);
    QVERIFY(viewer->isVisible());
    const QUrl source = viewer->Browser()->source();
    QCOMPARE(source.toLocalFile(), QFileInfo(VelmoraApplication::HelpFile()).absoluteFilePath());
    QCOMPARE(viewer->Browser()->documentTitle(), QStringLiteral("Velmora – Hilfe"));
    const QString text = viewer->Browser()->toPlainText();
    for (const char* section :
         {"Eine Seite kopieren", "Größe und Position der Kopie", "Drucken, Faxen, Bitmap",
          "Bilder und Seitenknöpfe", "Die Einstellungsdatei"})
        QVERIFY2(text.contains(QString::fromUtf8(section)), section);
    // The help window does not belong to the main window's key preview: Esc closes only it.
    QApplication::setActiveWindow(viewer);
    QTRY_COMPARE(QApplication::activeWindow(), viewer);
    QTest::keyClick(viewer->windowHandle(), Qt::Key_Escape);
    QVERIFY(!viewer->isVisible());
    QVERIFY(form->isVisible());
}

void MainFormTest::helpOnUsingHelp() {
    Control<QAction>("Hilfebenutzen1")->trigger();
    THelpWindow* viewer = form->HelpViewer();
    QVERIFY(viewer && viewer->isVisible());
    const QString text = viewer->Browser()->toPlainText();
    QVERIFY(text.startsWith(QStringLiteral("Hilfe verwenden")));
    QVERIFY(text.contains(QStringLiteral("Zurück")));
}

void MainFormTest::missingHelpFileIsReportedInTheViewer() {
    const QString missing = QDir(qEnvironmentVariable("HOME")).filePath("fehlt/velmorix.hlp");
    VelmoraApplication::SetHelpFile(missing);
    form->Hilfe1Click();
    const QString text = form->HelpViewer()->Browser()->toPlainText();
    QVERIFY(text.contains(QStringLiteral("Hilfe nicht gefunden")));
    QVERIFY(text.contains(missing));
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
}

void MainFormTest::unhandledErrorsReachTheReport() {
    Thrower thrower;
    QEvent event(QEvent::User);

    thrower.Raise = [] {
        throw EFOpenError(QStringLiteral("Datei x.bmp kann nicht geöffnet werden"));
    };
    QApplication::sendEvent(&thrower, &event);
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
    MessageRequest shown = dialogs->LastMessage();
    // The report's second and third lines; the rest is the business of SettingsTest.
    QCOMPARE(shown.Text.section('\r', 1, 2),
             ReportIntro + "EFOpenError : Datei x.bmp kann nicht geöffnet werden");
    QVERIFY(shown.Caption.isEmpty());
    QCOMPARE(shown.Icon, MsgIcon::Warning);

    thrower.Raise = [] { throw EAbort(QStringLiteral("still")); };
    QApplication::sendEvent(&thrower, &event);
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);

    // Errors from the event loop, here a timer's handler, end there too.
    QTimer::singleShot(0, form,
                       [] { throw EZeroDivide(QStringLiteral("Gleitkommadivision durch Null")); });
    QTRY_COMPARE(dialogs->Count(DialogRecorder::Shown::Message), 2);
    QCOMPARE(dialogs->LastMessage().Text.section('\r', 1, 2),
             ReportIntro + "EZeroDivide : Gleitkommadivision durch Null");

    thrower.Raise = [] { throw std::runtime_error("kaputt"); };
    QApplication::sendEvent(&thrower, &event);
    QCOMPARE(dialogs->LastMessage().Text.section('\r', 1, 2), ReportIntro + "Exception : kaputt");
    QVERIFY(form->isVisible()); // the program goes on
}

void MainFormTest::errorsBeforeTheWindowExistShowTheMessageAlone() {
    delete form;
    form = nullptr;
    Thrower thrower;
    QEvent event(QEvent::User);
    thrower.Raise = [] {
        throw EPrinter(QStringLiteral("Zur Zeit ist kein Standarddrucker gewählt"));
    };
    QApplication::sendEvent(&thrower, &event);
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
    const MessageRequest shown = dialogs->LastMessage();
    QCOMPARE(shown.Text, QStringLiteral("Zur Zeit ist kein Standarddrucker gewählt"));
    QVERIFY(shown.Caption.isEmpty());
    QCOMPARE(shown.Icon, MsgIcon::Warning);
}

void MainFormTest::handlersKeepTheirErrorsFromQt() {
    // Qt's widgets are built without exception support: each kind of handler that runs inside
    // Qt's event delivery must hand its error to the report itself, before Qt's frames.
    QWidget painted;
    painted.resize(20, 20);
    HookEvent(&painted, QEvent::Paint, [](QEvent*) -> bool {
        throw EInvalidOp(QStringLiteral("Ungültige Gleitkommaoperation"));
    });
    const struct {
        const char* name;
        std::function<void()> trigger;
        const char* reported;
    } cases[] = {
        {"key filter",
         [this] {
             // Two pages on a device without a printable area: PageUp's page switch fails in
             // the window's key preview.
             form->AddNewPic();
             SetPicture(*form->pic, 40, 30);
             form->pic->ScannerDPI = {300, 300};
             form->PrinterProps->PrnAreaWidth = 0;
             QTest::keyClick(Control("CopiesEdit"), Qt::Key_PageUp);
         },
         "EZeroDivide : Gleitkommadivision durch Null"},
        {"paint event",
         [&painted] {
             painted.show();
             painted.repaint();
         },
         "EInvalidOp : Ungültige Gleitkommaoperation"},
        {"timer",
         [this] {
             QTimer::singleShot(0, form,
                                Guarded([] { throw EFOpenError(QStringLiteral("Zeitgeber")); }));
         },
         "EFOpenError : Zeitgeber"},
    };
    Control("CopiesEdit")->setFocus();
    SetPicture(*form->pic, 40, 30);
    for (const auto& c : cases) {
        const int throughQt = VelmoraApplication::ErrorsThroughQt();
        const int reports = dialogs->Count(DialogRecorder::Shown::Message);
        c.trigger();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs->Count(DialogRecorder::Shown::Message), reports + 1,
                                  2000);
        QVERIFY2(dialogs->LastMessage().Text.contains(ReportIntro + c.reported), c.name);
        QVERIFY2(VelmoraApplication::ErrorsThroughQt() == throughQt, c.name);
    }
    QVERIFY(form->isVisible());
}

void MainFormTest::firstShowLaysOutTheFinalGeometry() {
    // A missing picture on the command line: the report is shown during the first show, after
    // the preview was laid out, and its figures are those of the window the user then sees.
    delete form;
    form = new TMainForm;
    const QString missing = QDir(qEnvironmentVariable("HOME")).filePath("fehlt.bmp");
    form->CmdLineHandler->FileNames = QStringList{missing};
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
    const QString report = dialogs->LastMessage().Text;
    QVERIFY(report.contains(missing));
    QCOMPARE(form->size(), QSize(534, 418));
    const QWidget* paint = Control("PaintPanel");
    const QWidget* panel = Control("PreviewPanel");
    // The printable area takes 80 % of the panel in its binding direction.
    QVERIFY2(paint->width() == qRound(panel->width() * 0.8) ||
                 paint->height() == qRound(panel->height() * 0.8),
             qPrintable(QStringLiteral("%1 x %2 in %3 x %4")
                            .arg(paint->width())
                            .arg(paint->height())
                            .arg(panel->width())
                            .arg(panel->height())));
    QVERIFY(panel->width() > 200 && panel->height() > 200);
    QVERIFY2(report.contains(QStringLiteral("\rPrevXSize = %1\r").arg(paint->width())),
             qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("\rPrevYSize = %1\r").arg(paint->height())),
             qPrintable(report));
}

void MainFormTest::errorsOfStartUpStepsReachTheReport_data() {
    QTest::addColumn<int>("step");
    for (int step = 9; step <= 14; ++step)
        QTest::newRow(qPrintable(QStringLiteral("step %1").arg(step))) << step;
}

void MainFormTest::errorsOfStartUpStepsReachTheReport() {
    QFETCH(int, step);
    delete form;
    form = nullptr;
    const int before = dialogs->Count(DialogRecorder::Shown::Message);
    TMainForm::StartUpProbe = [step](int n) {
        if (n == step)
            throw EOutOfMemory(QStringLiteral("Zu wenig Arbeitsspeicher"));
    };
    bool ended = false;
    try {
        TMainForm failing;
    } catch (const EAbort&) {
        ended = true; // quietly: the user has seen the report
    }
    TMainForm::StartUpProbe = nullptr;
    QVERIFY(ended);
    // The handler installed in step 8 reported it, with the report's first lines.
    QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), before + 1);
    QCOMPARE(dialogs->LastMessage().Text.section('\r', 1, 2),
             ReportIntro + "EOutOfMemory : Zu wenig Arbeitsspeicher");
    // The window's handler went with the window.
    Thrower thrower;
    thrower.Raise = [] { throw EFOpenError(QStringLiteral("danach")); };
    QEvent event(QEvent::User);
    QApplication::sendEvent(&thrower, &event);
    QCOMPARE(dialogs->LastMessage().Text, QStringLiteral("danach"));
}

VELMORA_GUI_TEST_MAIN(MainFormTest)
#include "MainFormTest.moc"

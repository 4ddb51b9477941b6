// The picture collection and picture files on the real main window: page buttons, switching,
// moving and closing pages, the "Datei" menu, opening, inserting, copying and saving pictures,
// and the pictures named on the command line. Picture files are made here, at test time.

#include "app/CmdLine.h"
#include "app/IniHelp.h"
#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "app/Support.h"
#include "app/VersionInfo.h"
#include "layout/PicObj.h"
#include "pictures/metafile/MetaRecorder.h"
#include "platform/MemBlock.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <functional>

namespace {

const QString PageHint =
    QStringLiteral("Mit Bild-hoch und Bild-runter kann man von Bild zu Bild wechseln.\r\n"
                   "Mit Strg-Bild-hoch und Strg-Bild-runter kann man ein Bild verschieben.");
const QString BitmapFilter =
    QStringLiteral("Bitmaps (*.BMP)|*.BMP|JPeg (*.JPG)|*.JPG|Rest (*.*)|*.*");

// A picture whose pixels tell where it came from: a colour per page and a diagonal, so a
// mirrored or shifted copy does not compare equal.
QImage Pattern(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(colour);
    for (int i = 0; i < std::min(w, h); ++i)
        image.setPixelColor(i, i, Qt::black);
    return image;
}

QImage AsRgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB888);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Stands for a metafile: a vector picture that draws itself at any size.
class TTestMetafile final : public TGraphic {
public:
    GraphicKind Kind() const override { return GraphicKind::Metafile; }
    int Width() const override { return 30; }
    int Height() const override { return 20; }
    void Draw(QPainter& painter, const QRect& target) const override {
        painter.fillRect(target, Qt::blue);
    }
};

// Counts the key presses of one kind that reach a control.
class KeyCounter : public QObject {
public:
    KeyCounter(QWidget* target, int key) : m_key(key) { target->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == m_key)
            ++count;
        return false;
    }

private:
    int m_key;
};

} // namespace

class PicturesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<QTemporaryDir> dir;

    template <class T = QWidget> T* Control(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }
    QAction* Action(const char* name) { return Control<QAction>(name); }
    TSpinEdit* SrcX() { return Control<TSpinEdit>("SrcXDPIEdit"); }
    TSpinEdit* SrcY() { return Control<TSpinEdit>("SrcYDPIEdit"); }
    QLineEdit* Pages() { return Control<QLineEdit>("PagesEdit"); }
    QString Path(const QString& name) const { return dir->filePath(name); }

    void OpenForm(const std::function<void()>& beforeShow = {}) {
        form = std::make_unique<TMainForm>();
        if (beforeShow)
            beforeShow();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            QFAIL("window not shown");
    }

    // The program's own command line replaced by `arguments`, as the window would have parsed
    // it at creation.
    void OpenFormWith(const QStringList& arguments) {
        OpenForm([&] {
            form->CmdLineHandler = std::make_unique<TCommandLineHandler>(arguments);
            form->IniFileName = form->CmdLineHandler->IniFileName;
        });
    }

    // The page buttons as the strip shows them, top to bottom.
    QList<QToolButton*> Buttons() {
        QList<QToolButton*> buttons =
            Control("ButtonScrollBoxContents")
                ->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly);
        std::sort(buttons.begin(), buttons.end(),
                  [](const QWidget* a, const QWidget* b) { return a->y() < b->y(); });
        return buttons;
    }

    // The records in page order.
    QList<TPicProperties*> Order() {
        QList<TPicProperties*> order;
        for (QToolButton* button : Buttons())
            order << form->PicRecords.at(button).get();
        return order;
    }

    // Empty when the collection holds together: buttons 1..N without gaps, 16 pixels apart,
    // one record each, the current page the only one pressed, the strip shown exactly for N > 1.
    QString Broken() {
        const QList<QToolButton*> buttons = Buttons();
        const int N = static_cast<int>(buttons.size());
        if (form->PicRecords.size() != std::size_t(N))
            return QStringLiteral("%1 records for %2 buttons").arg(form->PicRecords.size()).arg(N);
        for (int k = 1; k <= N; ++k) {
            QToolButton* b = buttons[k - 1];
            if (b->text() != QString::number(k) || b->geometry() != QRect(0, (k - 1) * 16, 16, 16))
                return QStringLiteral("button %1 is \"%2\" at %3,%4")
                    .arg(k)
                    .arg(b->text())
                    .arg(b->x())
                    .arg(b->y());
            if (!form->PicRecords.at(b))
                return QStringLiteral("button %1 has no record").arg(k);
            if (b->isChecked() != (k == form->CurrentPicNo))
                return QStringLiteral("button %1 pressed: %2, current page %3")
                    .arg(k)
                    .arg(b->isChecked())
                    .arg(form->CurrentPicNo);
        }
        if (Order().value(form->CurrentPicNo - 1) != form->pic)
            return QStringLiteral("pic is not the record of page %1").arg(form->CurrentPicNo);
        if (Control("ButtonScrollBox")->isVisibleTo(form.get()) != (N > 1))
            return QStringLiteral("strip visibility wrong for %1 pages").arg(N);
        return {};
    }

    // Gives the current page a picture, as a scan does.
    void Fill(int w = 40, int h = 30, QColor colour = Qt::yellow, int dpi = 100) {
        auto bitmap = std::make_unique<TBitmap>();
        bitmap->SetImage(Pattern(w, h, colour));
        form->pic->Picture.SetGraphic(std::move(bitmap));
        form->pic->ScannerDPI = {dpi, dpi};
    }

    // n pictures on pages 1..n, the last one current; page i scanned at 100 + i dpi.
    QList<TPicProperties*> AddPages(int n) {
        for (int i = 1; i <= n; ++i) {
            form->AddNewPic();
            Fill(40, 30, QColor::fromHsv(i * 30 % 360, 200, 200), 100 + i);
        }
        return Order();
    }

    void PressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        Pages()->setFocus();
        QTest::keyClick(Pages(), Qt::Key(key), modifiers);
    }

    void OpenDateiMenu() {
        auto* menu = Control<QMenu>("Datei1");
        menu->popup(form->mapToGlobal(QPoint(0, 0)));
        menu->hide();
    }

    // The unexpected-error line of the report shown last ("Class : message").
    QString ReportedError() { return dialogs->LastMessage().Text.section('\r', 2, 2); }

    // The figures of the info panel, as shown.
    QStringList Figures() {
        QStringList texts;
        for (const char* label : {"PicPixelsLabel", "PicCMLabel", "PicDPILabel", "QualityLabel"})
            texts << Control<QLabel>(label)->text();
        return texts;
    }

    // Whether any of a picture is drawn on the sheet: the preview's box has a size and the
    // bitmap it paints from holds something.
    bool PreviewShown() {
        QWidget* box = Control("PreviewPaintBox");
        return box->width() > 0 && box->height() > 0 && form->PreviewBitmap &&
               !form->PreviewBitmap->isNull();
    }

    void WriteFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // Answers the next file dialog with `path` and runs the menu entry.
    void Choose(const char* action, const QString& path) {
        dialogs->FileAnswers.push_back(path);
        Action(action)->trigger();
    }

    // Centred on the printable area; the position edits hold it at whole printer pixels.
    bool IsCentred(const TPicProperties& p) {
        const TPrinterProperties& area = *p.PrinterProperties;
        return qAbs(p.xRelPos - (1 - p.xRelSize()) * 0.5) * area.PrnAreaWidth <= 0.5 &&
               qAbs(p.yRelPos - (1 - p.yRelSize()) * 0.5) * area.PrnAreaHeight <= 0.5;
    }

private slots:
    void init() {
        dialogs = std::make_unique<DialogRecorder>();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        QGuiApplication::clipboard()->clear();
    }

    void cleanup() {
        form.reset();
        dialogs.reset();
        dir.reset();
        // A command line with "-i" changed the remembered settings path.
        SetIniFileName(GuiTestIniFile());
    }

    // ---- Pages ------------------------------------------------------------------------------

    void startsWithOneEmptyPageThatIsReused() {
        OpenForm();
        QCOMPARE(Broken(), QString());
        for (int key : {Qt::Key_PageDown, Qt::Key_PageUp}) {
            PressKey(key);
            PressKey(key, Qt::ControlModifier);
        }
        QCOMPARE(form->CurrentPicNo, 1);
        QCOMPARE(Buttons().size(), 1);

        // Filling the empty first page creates no button.
        TPicProperties* first = form->pic;
        form->AddNewPic();
        QCOMPARE(form->pic, first);
        QCOMPARE(Buttons().size(), 1);
        Fill();
        form->AddNewPic();
        QCOMPARE(Buttons().size(), 2);
        QCOMPARE(form->CurrentPicNo, 2);
        QVERIFY(form->pic != first);
        QVERIFY(form->pic->IsEmpty());
        QCOMPARE(form->pic->PrinterProperties, form->PrinterProps.get());
        QCOMPARE(form->pic->xZoom, 1.0);
        QCOMPARE(Broken(), QString());
    }

    void pageListPreset_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::newRow("empty") << ""
                               << "2";
        QTest::newRow("one number") << "1"
                                    << "2";
        QTest::newRow("leading blanks") << "  7"
                                        << "2";
        QTest::newRow("minus sign counts as a number") << "-3"
                                                       << "2";
        QTest::newRow("hexadecimal") << "$1F"
                                     << "2";
        QTest::newRow("range kept") << "1-2"
                                    << "1-2";
        QTest::newRow("list kept") << "1,3"
                                   << "1,3";
        QTest::newRow("trailing blank kept") << "1 "
                                             << "1 ";
        QTest::newRow("beyond 32 bits kept") << "4294967296"
                                             << "4294967296";
    }

    void pageListPreset() {
        QFETCH(QString, typed);
        QFETCH(QString, after);
        OpenForm();
        AddPages(1);
        Pages()->setText(typed);
        form->AddNewPic();
        QCOMPARE(Pages()->text(), after);
        // Switching by button applies it the same way.
        Pages()->setText(typed);
        form->FindPicBtn(1)->click();
        QCOMPARE(form->CurrentPicNo, 1);
        QCOMPARE(Pages()->text(), after == "2" ? QStringLiteral("1") : after);
    }

    void pageKeysWrapAroundAndReachTheFocusedControl() {
        OpenForm();
        const QList<TPicProperties*> p = AddPages(3);
        KeyCounter reached(Pages(), Qt::Key_PageDown);
        PressKey(Qt::Key_PageDown); // from page 3
        QCOMPARE(form->CurrentPicNo, 1);
        QCOMPARE(form->pic, p[0]);
        // One press, one page, however far the ignored key travels up the parents.
        QCOMPARE(reached.count, 1);
        PressKey(Qt::Key_PageUp);
        QCOMPARE(form->CurrentPicNo, 3);
        PressKey(Qt::Key_PageUp, Qt::ShiftModifier | Qt::AltModifier);
        QCOMPARE(form->CurrentPicNo, 2);
        // The page's own figures come along.
        QCOMPARE(SrcX()->Value(), 102);
        QCOMPARE(Broken(), QString());

        // Only the two wrapping numbers find a button.
        QCOMPARE(form->FindPicBtn(4), form->FindPicBtn(1));
        QCOMPARE(form->FindPicBtn(0), form->FindPicBtn(3));
        QCOMPARE(form->FindPicBtn(5), nullptr);
        QCOMPARE(form->FindPicBtn(-1), nullptr);
        form->SelectPic(7);
        QCOMPARE(form->CurrentPicNo, 2);
    }

    void ctrlPageKeysMoveThePictureWithoutWrapping() {
        OpenForm();
        const QList<TPicProperties*> p = AddPages(3);
        form->SelectPic(1);
        p[0]->xZoom = p[0]->yZoom = 0.5;
        const QList<TPicProperties*> once{p[1], p[0], p[2]};
        const QList<TPicProperties*> twice{p[1], p[2], p[0]};

        PressKey(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Order(), once);
        QCOMPARE(form->CurrentPicNo, 2);
        QCOMPARE(form->pic, p[0]);
        PressKey(Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Order(), twice);
        QCOMPARE(form->CurrentPicNo, 3);
        PressKey(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Order(), twice);
        QCOMPARE(form->CurrentPicNo, 3);
        QCOMPARE(Broken(), QString());

        // The moved picture keeps its zoom and resolution, and the window shows them.
        QCOMPARE(p[0]->xZoom, 0.5);
        QCOMPARE(Control<TFloatSpinEdit>("XZoomEdit")->Text(), QStringLiteral("50,00"));
        QCOMPARE(SrcX()->Value(), 101);

        form->SelectPic(1);
        PressKey(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Order(), twice);
        QCOMPARE(form->CurrentPicNo, 1);
        form->SelectPic(2);
        PressKey(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Order(), (QList<TPicProperties*>{p[2], p[1], p[0]}));
        QCOMPARE(form->pic, p[2]);
        QCOMPARE(Broken(), QString());
    }

    void closingRenumbers_data() {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QList<int>>("left"); // pictures left, by their first page
        QTest::addColumn<int>("shown");       // the picture current afterwards
        QTest::newRow("middle") << 2 << int(MsgYes) << QList<int>{1, 3} << 3;
        QTest::newRow("last") << 3 << int(MsgYes) << QList<int>{1, 2} << 2;
        QTest::newRow("first") << 1 << int(MsgYes) << QList<int>{2, 3} << 2;
        QTest::newRow("no") << 2 << int(MsgNo) << QList<int>{1, 2, 3} << 2;
    }

    void closingRenumbers() {
        QFETCH(int, current);
        QFETCH(int, answer);
        QFETCH(QList<int>, left);
        QFETCH(int, shown);
        OpenForm();
        const QList<TPicProperties*> p = AddPages(3);
        form->SelectPic(current);
        dialogs->MessageAnswers.push_back(answer);
        Action("PicCloseItem")->trigger();

        QList<TPicProperties*> expected;
        for (int i : left)
            expected << p[i - 1];
        QCOMPARE(Order(), expected);
        QCOMPARE(form->pic, p[shown - 1]);
        QCOMPARE(SrcX()->Value(), 100 + shown);
        QCOMPARE(Pages()->text(), QString::number(form->CurrentPicNo));
        QCOMPARE(Broken(), QString());
    }

    void closeConfirmationIsExact() {
        OpenForm();
        AddPages(1);
        dialogs->MessageAnswers.push_back(MsgNo);
        form->PicCloseItemClick();
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        const MessageRequest box = dialogs->LastMessage();
        QCOMPARE(box.Text,
                 QStringLiteral("Das aktuelle Bild wird verworfen !\rFalls Sie es noch benötigen "
                                "und es noch nicht gesichert haben\rdann wählen Sie im Menü "
                                "\"Bild &sichern...\" aus!\r\rWollen Sie das aktuelle Bild "
                                "verwerfen?"));
        QCOMPARE(box.Caption, QStringLiteral("Bestätigung"));
        QCOMPARE(box.Icon, MsgIcon::Question);
        QCOMPARE(box.Buttons, int(MsgYes | MsgNo));
        QVERIFY(!form->pic->IsEmpty());
    }

    void closingDownToOnePageAndThenTheOnlyOne() {
        OpenForm();
        const QList<TPicProperties*> p = AddPages(2);
        form->ClosePic();
        QCOMPARE(Order(), QList<TPicProperties*>{p[0]});
        QCOMPARE(Broken(), QString()); // the strip is hidden again

        // The only picture is emptied, its button and zoom stay, the preview goes.
        Control<TFloatSpinEdit>("XZoomEdit")->SetValue(50);
        QCOMPARE(p[0]->yZoom, 0.5);
        QVERIFY(Control("PreviewPaintBox")->width() > 0);
        form->ClosePic();
        QCOMPARE(Order(), QList<TPicProperties*>{p[0]});
        QVERIFY(p[0]->IsEmpty());
        QCOMPARE(p[0]->xZoom, 0.5);
        QCOMPARE(p[0]->ScannerDPI.X, 101);
        QCOMPARE(Control("PreviewPaintBox")->width(), 0);
        QCOMPARE(Broken(), QString());

        // The next picture goes into that page at the zoom it kept, centred.
        const QString file = Path("next.bmp");
        QVERIFY(Pattern(120, 80, Qt::green).save(file, "BMP"));
        form->LoadPicFromFile(file);
        QCOMPARE(form->pic, p[0]);
        QCOMPARE(form->pic->PicWidth(), 120);
        QCOMPARE(form->pic->xZoom, 0.5);
        QCOMPARE(Control<TFloatSpinEdit>("YZoomEdit")->Text(), QStringLiteral("50,00"));
        QVERIFY(IsCentred(*form->pic));
        QVERIFY(Control("PreviewPaintBox")->width() > 0);
    }

    void datei1EnablesInsertAndClose() {
        OpenForm();
        QClipboard* clipboard = QGuiApplication::clipboard();
        OpenDateiMenu();
        QVERIFY(!Action("PicInsertItem")->isEnabled());
        QVERIFY(!Action("PicCloseItem")->isEnabled());

        clipboard->setText(QStringLiteral("nur Text"));
        Fill();
        OpenDateiMenu();
        QVERIFY(!Action("PicInsertItem")->isEnabled());
        QVERIFY(Action("PicCloseItem")->isEnabled());
        // The handler itself adds nothing from a text.
        form->PicInsertItemClick();
        QCOMPARE(Buttons().size(), 1);

        clipboard->setImage(Pattern(8, 8, Qt::red));
        OpenDateiMenu();
        QVERIFY(Action("PicInsertItem")->isEnabled());
        // Other programs may offer only a BMP file.
        auto* bmpOnly = new QMimeData;
        bmpOnly->setData(QStringLiteral("image/bmp"), QByteArray("BM"));
        clipboard->setMimeData(bmpOnly);
        OpenDateiMenu();
        QVERIFY(Action("PicInsertItem")->isEnabled());
    }

    void ctrlF4ActsOnlyOnAPicture() {
        OpenForm();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);

        // The menu was last opened for the empty page; the shortcut looks afresh.
        OpenDateiMenu();
        QVERIFY(!Action("PicCloseItem")->isEnabled());
        Fill();
        dialogs->MessageAnswers.push_back(MsgNo);
        QTest::keyClick(form.get(), Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        QCOMPARE(dialogs->LastMessage().Caption, QStringLiteral("Bestätigung"));
        QVERIFY(!form->pic->IsEmpty());

        QTest::keyClick(form.get(), Qt::Key_F4, Qt::ControlModifier); // answered Yes
        QVERIFY(form->pic->IsEmpty());
        QTest::keyClick(form.get(), Qt::Key_F4, Qt::ControlModifier);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 2);
        QVERIFY(!Action("PicCloseItem")->isEnabled());
        QCOMPARE(Action("PicCloseItem")->shortcut(), QKeySequence(QStringLiteral("Ctrl+F4")));
    }

    void keyHintFromButton100On() {
        OpenForm();
        AddPages(100);
        const QList<QToolButton*> buttons = Buttons();
        QCOMPARE(buttons.size(), 100);
        QCOMPARE(Broken(), QString());
        for (int k = 1; k < 100; ++k)
            QVERIFY2(buttons[k - 1]->toolTip().isEmpty(), qPrintable(QString::number(k)));
        QCOMPARE(buttons[99]->property("hint").toString(), PageHint);

        // Resting the mouse on button 100 shows it.
        const QPoint at(8, 8);
        QHelpEvent hover(QEvent::ToolTip, at, buttons[99]->mapToGlobal(at));
        QCoreApplication::sendEvent(buttons[99], &hover);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), PageHint);
        QToolTip::hideText();

        // The newest button was scrolled into view.
        QVERIFY(!buttons[99]->visibleRegion().isEmpty());
        QVERIFY(buttons[0]->visibleRegion().isEmpty());
    }

    // ---- Files ------------------------------------------------------------------------------

    void openingFilesByKind() {
        OpenForm();
        const QString bmp = Path("scan.bmp");
        const QString jpeg = Path("foto.jpg");
        const QString icon = Path("SYMBOL.ICO");
        QVERIFY(Pattern(960, 480, Qt::cyan).save(bmp, "BMP"));
        QVERIFY(Pattern(300, 200, Qt::magenta).save(jpeg, "JPEG"));
        QImage iconImage(32, 32, QImage::Format_ARGB32);
        iconImage.fill(QColor(255, 0, 0, 255));
        QVERIFY(iconImage.save(icon, "ICO"));

        Choose("PicOpenItem", bmp);
        const FileDialogRequest asked = dialogs->History.last().file;
        QCOMPARE(asked.Title, QStringLiteral("Bild laden"));
        QCOMPARE(asked.Filter,
                 QStringLiteral("Bitmaps (*.BMP)|*.BMP|Metafiles (*.WMF)|*.WMF|JPEG "
                                "(*.JPG;*.JPEG)|*.JPG;*.JPEG|Enh. Metafiles (*.EMF)|*.EMF|Icons "
                                "(*.ICO)|*.ICO|Rest (*.*)|*.*"));
        QCOMPARE(asked.DefaultExt, QStringLiteral("bmp"));
        QVERIFY(asked.FileMustExist && asked.PathMustExist);

        // Into the empty first page, at the screen's resolution: 960 × 480 pixels at 96 dpi
        // are 10 × 5 inches on the paper.
        QCOMPARE(Buttons().size(), 1);
        QCOMPARE(form->pic->PicWidth(), 960);
        QCOMPARE(form->pic->Picture.Graphic()->Kind(), GraphicKind::Bitmap);
        const int dpi = form->logicalDpiX();
        QCOMPARE(form->pic->ScannerDPI.X, dpi);
        QCOMPARE(SrcX()->Value(), dpi);
        QCOMPARE(form->pic->PrnPicWidth(), qRound(960.0 / dpi * form->PrinterProps->PrnDPI.X));
        QVERIFY(IsCentred(*form->pic));
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);

        Choose("PicOpenItem", jpeg);
        QCOMPARE(form->CurrentPicNo, 2);
        QCOMPARE(form->pic->Picture.Graphic()->Kind(), GraphicKind::Jpeg);
        QCOMPARE(form->pic->PicWidth(), 300);

        Choose("PicOpenItem", icon);
        QCOMPARE(form->CurrentPicNo, 3);
        QCOMPARE(form->pic->Picture.Graphic()->Kind(), GraphicKind::Bitmap);
        QCOMPARE(form->pic->PicWidth(), 32);
        QCOMPARE(form->pic->PicHeight(), 32);
        QCOMPARE(Broken(), QString());

        // Cancelled: nothing happens.
        Choose("PicOpenItem", QString());
        QCOMPARE(Buttons().size(), 3);
    }

    void unreadableFilesLeaveAnEmptyPage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // empty: no such file
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown extension")
            << "x.txt" << QByteArray("Text")
            << "EInvalidGraphic : Unbekannte Bilddateierweiterung (.txt)";
        QTest::newRow("missing") << "fehlt.bmp" << QByteArray()
                                 << "EFOpenError : Datei %1 kann nicht geöffnet werden";
        QTest::newRow("damaged") << "kaputt.bmp" << QByteArray("BM\x10\x00\x00\x00", 6)
                                 << "EInvalidGraphic : Bitmap ist ungültig";
        // The newer kinds are damaged in the words of a damaged BMP.
        QTest::newRow("damaged png") << "kaputt.png" << QByteArray("\x89PNG\r\n\x1A\n", 8)
                                     << "EInvalidGraphic : Bitmap ist ungültig";
        QTest::newRow("damaged gif")
            << "kaputt.gif" << QByteArray("GIF89a") << "EInvalidGraphic : Bitmap ist ungültig";
        QTest::newRow("damaged tiff") << "kaputt.tif" << QByteArray("II*\0\x08\0\0\0", 8)
                                      << "EInvalidGraphic : Bitmap ist ungültig";
    }

    void unreadableFilesLeaveAnEmptyPage() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        OpenForm();
        const QStringList emptyFigures = Figures();
        AddPages(1);
        form->SelectPic(1);
        QVERIFY(PreviewShown());
        QVERIFY(Figures() != emptyFigures);
        const QString file = Path(name);
        if (!content.isEmpty())
            WriteFile(file, content);
        SrcX()->SetValue(123);

        Choose("PicOpenItem", file);
        QCOMPARE(ReportedError(), error.contains("%1") ? error.arg(file) : error);
        QCOMPARE(Buttons().size(), 2);
        QCOMPARE(form->CurrentPicNo, 2);
        QVERIFY(form->pic->IsEmpty());
        // Neither resolution nor centring were done.
        QCOMPARE(form->pic->ScannerDPI.X, 0);
        QCOMPARE(SrcX()->Value(), 123);
        QCOMPARE(Broken(), QString());
        // The empty page looks empty: nothing of page 1 on the sheet or in the figures, also
        // when it is switched to again.
        QVERIFY(!PreviewShown());
        QCOMPARE(Figures(), emptyFigures);
        form->SelectPic(1);
        QVERIFY(PreviewShown());
        form->SelectPic(2);
        QVERIFY(!PreviewShown());
        QCOMPARE(Figures(), emptyFigures);

        // The empty page is reused by the next picture.
        const QString good = Path("gut.bmp");
        QVERIFY(Pattern(20, 10, Qt::gray).save(good, "BMP"));
        form->LoadPicFromFile(good);
        QCOMPARE(Buttons().size(), 2);
        QCOMPARE(form->pic->PicWidth(), 20);
    }

    // A JPEG cut off in transfer opens with its missing part grey, and the user is told why.
    void truncatedJpegOpensWithAWarning() {
        OpenForm();
        const QString whole = Path("ganz.jpg");
        QVERIFY(Pattern(200, 160, Qt::darkRed).save(whole, "JPEG", 90));
        const QByteArray bytes = ReadAll(whole);
        const QString cut = Path("halb.jpg");
        WriteFile(cut, bytes.left(bytes.size() / 2));

        Choose("PicOpenItem", cut);
        QCOMPARE(form->pic->PicWidth(), 200);
        QCOMPARE(form->pic->PicHeight(), 160);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        const MessageRequest box = dialogs->LastMessage();
        QCOMPARE(box.Text, QStringLiteral("Die Datei %1 ist unvollständig; der fehlende Teil des "
                                          "Bildes bleibt grau.")
                               .arg(cut));
        QCOMPARE(box.Caption, QStringLiteral("Fehler beim Laden"));
        QCOMPARE(box.Icon, MsgIcon::Warning);

        // The complete file opens without a word.
        Choose("PicOpenItem", whole);
        QCOMPARE(Buttons().size(), 2);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
    }

    // A TIFF of several pages, as a scanner batch or a fax program writes it, gives a page
    // each, in file order, each at the resolution the file records; from the command line and
    // through "Bild öffnen..." alike. Saving a page as PNG or TIFF records its resolution.
    void multiPageTiffMakesAPageEach() {
        if (QStandardPaths::findExecutable(QStringLiteral("convert")).isEmpty())
            QSKIP("ImageMagick's convert is not installed (scripts/install-deps.sh)");
        const QSize sizes[] = {{60, 40}, {80, 30}, {50, 70}};
        const QSize dpis[] = {{300, 300}, {204, 98}, {150, 75}};
        QStringList pages;
        for (int i = 0; i < 3; ++i) {
            QImage page =
                Pattern(sizes[i].width(), sizes[i].height(), QColor::fromHsv(i * 100, 200, 200));
            if (i == 1)
                page = page.convertToFormat(QImage::Format_Mono);
            page.setDotsPerMeterX(qRound(dpis[i].width() / 0.0254));
            page.setDotsPerMeterY(qRound(dpis[i].height() / 0.0254));
            pages << Path(QStringLiteral("seite%1.tif").arg(i));
            QVERIFY(page.save(pages.last(), "TIFF"));
        }
        // The middle page a 1-bit fax page, compressed as fax machines do.
        const QString g4 = Path("g4.tif");
        const QString fax = Path("fax.tif");
        QCOMPARE(
            QProcess::execute(QStringLiteral("convert"), {pages[1], QStringLiteral("-compress"),
                                                          QStringLiteral("Group4"), g4}),
            0);
        QCOMPARE(QProcess::execute(QStringLiteral("convert"), {pages[0], g4, pages[2], fax}), 0);
        QVERIFY(Pattern(20, 10, Qt::gray).save(Path("danach.bmp"), "BMP"));

        OpenFormWith({fax, Path("danach.bmp")});
        QCOMPARE(Buttons().size(), 4);
        const QList<TPicProperties*> order = Order();
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(QSize(order[i]->PicWidth(), order[i]->PicHeight()), sizes[i]);
            QCOMPARE(QSize(order[i]->ScannerDPI.X, order[i]->ScannerDPI.Y), dpis[i]);
        }
        // A BMP after them takes the screen's resolution as before ("Automatisch").
        QCOMPARE(order[3]->PicWidth(), 20);
        QCOMPARE(order[3]->ScannerDPI.X, form->logicalDpiX());
        QCOMPARE(Broken(), QString());
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);

        // Through the menu, after the pages there are; the last page of the file is current.
        Choose("PicOpenItem", fax);
        QCOMPARE(Buttons().size(), 7);
        QCOMPARE(form->CurrentPicNo, 7);
        QCOMPARE(form->pic->PicWidth(), 50);
        QCOMPARE(SrcX()->Value(), 150);
        QCOMPARE(SrcY()->Value(), 75);
        QCOMPARE(Broken(), QString());

        // The fax page saved keeps its 204 × 98 dpi.
        form->SelectPic(6);
        QCOMPARE(QSize(SrcX()->Value(), SrcY()->Value()), QSize(204, 98));
        // The page's resolution is saved, also after the user changed it.
        const struct {
            const char* name;
            QSize dpi;
        } saves[] = {{"fax-seite.png", {204, 98}},
                     {"fax-seite.tiff", {204, 98}},
                     {"geaendert.tif", {400, 200}},
                     {"geaendert.png", {400, 200}}};
        for (const auto& save : saves) {
            form->pic->ScannerDPI = {save.dpi.width(), save.dpi.height()};
            Choose("PicSaveAsItem", Path(save.name));
            const QImage saved(Path(save.name));
            QCOMPARE(saved.size(), sizes[1]);
            QCOMPARE(QSize(qRound(saved.dotsPerMeterX() * 0.0254),
                           qRound(saved.dotsPerMeterY() * 0.0254)),
                     save.dpi);
        }
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void resolutionOfALoadedPicture_data() {
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("expectedX"); // 0: the screen's
        QTest::addColumn<int>("expectedY");
        QTest::newRow("automatic") << true << 300 << 300 << 0 << 0;
        QTest::newRow("by hand") << false << 150 << 600 << 150 << 600;
        QTest::newRow("by hand, one zero") << false << 300 << 0 << 300 << 0;
        QTest::newRow("by hand, both zero") << false << 0 << 0 << 0 << 0;
    }

    void resolutionOfALoadedPicture() {
        QFETCH(bool, automatic);
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(int, expectedX);
        QFETCH(int, expectedY);
        OpenForm();
        if (expectedX == 0)
            expectedX = form->logicalDpiX();
        if (expectedY == 0)
            expectedY = form->logicalDpiY();
        Control<QCheckBox>("AutoDPIBox")->setChecked(automatic);
        SrcX()->SetValue(x);
        SrcY()->SetValue(y);
        const QString file = Path("bild.bmp");
        QVERIFY(Pattern(64, 48, Qt::darkGreen).save(file, "BMP"));
        form->LoadPicFromFile(file);
        QCOMPARE(form->pic->ScannerDPI.X, expectedX);
        QCOMPARE(form->pic->ScannerDPI.Y, expectedY);
        QCOMPARE(SrcX()->Value(), expectedX);
        QCOMPARE(SrcY()->Value(), expectedY);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void warningForAPictureWithoutSize() {
        OpenForm();
        form->CheckLoadedPic();
        const MessageRequest box = dialogs->LastMessage();
        QCOMPARE(box.Text,
                 QStringLiteral("Das Bild konnte nicht geladen werden oder hat die Breite "
                                "und/oder die Höhe 0.\rSchließen Sie das Bild bitte wieder.\r\r"
                                "Wenn es sich hier um einen Programmfehler handelt, dann mailen\r"
                                "Sie bitte, wenn möglich, das Bild unter Angabe der\r"
                                "Versionsnummer (%1 %2-Bit)\ran %3 .")
                     .arg(ProductVersionText())
                     .arg(sizeof(void*) * 8)
                     .arg(QString::fromUtf8(SupportMailAddress)));
        QCOMPARE(box.Caption, QStringLiteral("Fehler beim Laden"));
        QCOMPARE(box.Icon, MsgIcon::Warning);
        QCOMPARE(box.Buttons, int(MsgOk));
    }

    // ---- Clipboard --------------------------------------------------------------------------

    void insertingFromTheClipboard() {
        OpenForm();
        AddPages(1);
        const std::size_t blocks = MemBlock::LiveBlocks();
        const QImage image = Pattern(21, 13, Qt::darkCyan);
        QGuiApplication::clipboard()->setImage(image);
        Action("PicInsertItem")->trigger();
        QCOMPARE(form->CurrentPicNo, 2);
        QCOMPARE(AsRgb(static_cast<const TBitmap*>(form->pic->Picture.Graphic())->Image()), image);
        QCOMPARE(form->pic->ScannerDPI.X, form->logicalDpiX());
        QVERIFY(IsCentred(*form->pic));
        QCOMPARE(MemBlock::LiveBlocks(), blocks);

        // A BMP offered by another program keeps its palette.
        QImage indexed(9, 5, QImage::Format_Indexed8);
        indexed.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 0)});
        indexed.fill(1);
        indexed.setPixel(0, 0, 0);
        QBuffer bmp;
        bmp.open(QIODevice::WriteOnly);
        QVERIFY(indexed.save(&bmp, "BMP"));
        auto* offered = new QMimeData;
        offered->setData(QStringLiteral("image/bmp"), bmp.data());
        QGuiApplication::clipboard()->setMimeData(offered);
        Action("PicInsertItem")->trigger();
        QCOMPARE(form->CurrentPicNo, 3);
        const QImage inserted = static_cast<const TBitmap*>(form->pic->Picture.Graphic())->Image();
        QCOMPARE(inserted.format(), QImage::Format_Indexed8);
        QCOMPARE(inserted.pixel(0, 0), qRgb(10, 20, 30));
        QCOMPARE(inserted.pixel(8, 4), qRgb(200, 100, 0));
        QCOMPARE(MemBlock::LiveBlocks(), blocks);

        // A damaged one leaves an empty new page, and the block is freed all the same.
        auto* damaged = new QMimeData;
        damaged->setData(QStringLiteral("image/bmp"), QByteArray("BM").append(40, '\x7f'));
        QGuiApplication::clipboard()->setMimeData(damaged);
        Action("PicInsertItem")->trigger();
        QCOMPARE(ReportedError(), QStringLiteral("EInvalidGraphic : Bitmap ist ungültig"));
        QCOMPARE(form->CurrentPicNo, 4);
        QVERIFY(form->pic->IsEmpty());
        QCOMPARE(MemBlock::LiveBlocks(), blocks);
        QCOMPARE(Broken(), QString());
    }

    void copyingToTheClipboard() {
        OpenForm();
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("vorher"));
        Action("Bildkopieren1")->trigger(); // empty page: nothing
        QCOMPARE(clipboard->text(), QStringLiteral("vorher"));

        Fill(33, 17, Qt::darkRed);
        form->pic->xZoom = 3; // the picture goes at its own size
        Action("Bildkopieren1")->trigger();
        QCOMPARE(AsRgb(clipboard->image()), Pattern(33, 17, Qt::darkRed));

        form->pic->Picture.SetGraphic(std::make_unique<TTestMetafile>());
        Action("Bildkopieren1")->trigger();
        const QImage rendered = AsRgb(clipboard->image());
        QCOMPARE(rendered.size(), QSize(30, 20));
        QCOMPARE(rendered.pixelColor(15, 10), QColor(Qt::blue));

        // What was copied can be inserted again.
        form->AddNewPic();
        form->PicInsertItemClick();
        QCOMPARE(form->CurrentPicNo, 2);
        QCOMPARE(form->pic->PicWidth(), 30);
    }

    // ---- Saving -----------------------------------------------------------------------------

    void saveAsFilterFollowsTheKind_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("filter");
        QTest::newRow("bitmap") << int(GraphicKind::Bitmap) << BitmapFilter;
        QTest::newRow("jpeg") << int(GraphicKind::Jpeg)
                              << "Alle (*.jpg;*.jpeg)|*.jpg;*.jpeg|JPEG-Grafikdatei (*.jpg)|*.jpg|"
                                 "JPEG-Grafikdatei (*.jpeg)|*.jpeg|" +
                                     BitmapFilter;
        QTest::newRow("metafile") << int(GraphicKind::Metafile)
                                  << "Alle (*.emf;*.wmf)|*.emf;*.wmf|Erweiterte Metadateien "
                                     "(*.emf)|*.emf|Metadateien (*.wmf)|*.wmf|" +
                                         BitmapFilter;
    }

    void saveAsFilterFollowsTheKind() {
        QFETCH(int, kind);
        QFETCH(QString, filter);
        OpenForm();
        Action("PicSaveAsItem")->trigger(); // empty page: no dialog
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::SaveFile), 0);

        const QString jpeg = Path("k.jpg");
        QVERIFY(Pattern(10, 10, Qt::red).save(jpeg, "JPEG"));
        switch (GraphicKind(kind)) {
        case GraphicKind::Jpeg:
            form->LoadPicFromFile(jpeg);
            break;
        case GraphicKind::Metafile:
            form->pic->Picture.SetGraphic(std::make_unique<TTestMetafile>());
            break;
        default:
            Fill();
        }
        Action("PicSaveAsItem")->trigger();
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::SaveFile), 1);
        const FileDialogRequest asked = dialogs->History.last().file;
        QCOMPARE(asked.Title, QStringLiteral("Bild sichern"));
        QCOMPARE(asked.Filter, filter);
        QCOMPARE(asked.DefaultExt, QStringLiteral("bmp"));
        QVERIFY(asked.PathMustExist);
        QVERIFY(!asked.OverwritePrompt);
    }

    void saveAsWritesByKind() {
        OpenForm();
        const QString jpeg = Path("original.jpg");
        QVERIFY(Pattern(300, 200, Qt::darkYellow).save(jpeg, "JPEG", 75));
        form->LoadPicFromFile(jpeg);

        // A JPEG keeps its bytes as ".jpeg" and is decoded for ".bmp".
        Choose("PicSaveAsItem", Path("kopie.jpeg"));
        QCOMPARE(ReadAll(Path("kopie.jpeg")), ReadAll(jpeg));
        Choose("PicSaveAsItem", Path("kopie.BMP"));
        QVERIFY(ReadAll(Path("kopie.BMP")).startsWith("BM"));
        QCOMPARE(QImage(Path("kopie.BMP"), "BMP").size(), QSize(300, 200));

        // A bitmap is encoded for ".jpg" and replaces an existing file without asking.
        form->AddNewPic();
        Fill(50, 40, Qt::white);
        WriteFile(Path("bitmap.jpg"), "alt");
        Choose("PicSaveAsItem", Path("bitmap.jpg"));
        QVERIFY(ReadAll(Path("bitmap.jpg")).startsWith("\xFF\xD8"));
        QCOMPARE(QImage(Path("bitmap.jpg")).size(), QSize(50, 40));
        Choose("PicSaveAsItem", Path("bitmap.bmp"));
        QCOMPARE(AsRgb(QImage(Path("bitmap.bmp"))), Pattern(50, 40, Qt::white));

        // A metafile is rasterised at its own size.
        form->AddNewPic();
        form->pic->Picture.SetGraphic(std::make_unique<TTestMetafile>());
        Choose("PicSaveAsItem", Path("vektor.bmp"));
        QCOMPARE(QImage(Path("vektor.bmp")).size(), QSize(30, 20));
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void metafilePictureThroughTheWindow() {
        OpenForm();
        // An enhanced metafile as Velmora's own writer makes it.
        TMetaRecorder recorder(TMetafileKind::Emf, QSize(90, 60));
        {
            QPainter p(&recorder);
            p.setBrush(Qt::darkGreen);
            p.drawEllipse(QRectF(5, 5, 80, 50));
        }
        const QByteArray emf = recorder.Bytes();
        WriteFile(Path("zeichnung.emf"), emf);
        Choose("PicOpenItem", Path("zeichnung.emf"));
        QVERIFY(dynamic_cast<const TMetafile*>(form->pic->Picture.Graphic()));

        Choose("PicSaveAsItem", Path("kopie.emf"));
        QVERIFY(dialogs->History.last().file.Filter.startsWith(
            QStringLiteral("Alle (*.emf;*.wmf)|*.emf;*.wmf|Erweiterte Metadateien (*.emf)|")));
        QCOMPARE(ReadAll(Path("kopie.emf")), emf);
        Choose("PicSaveAsItem", Path("kopie.wmf"));
        const QByteArray wmf = ReadAll(Path("kopie.wmf"));
        QCOMPARE(MetafileKindOf(wmf), std::optional<TMetafileKind>(TMetafileKind::Wmf));
        const TMetafile reread(wmf);
        QCOMPARE(QSize(reread.Width(), reread.Height()), QSize(90, 60));
        Choose("PicSaveAsItem", Path("kopie.jpg"));
        QCOMPARE(QImage(Path("kopie.jpg")).size(), QSize(90, 60));
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);

        // Copied as the enhanced metafile plus an image; inserted again as the metafile.
        Action("Bildkopieren1")->trigger();
        const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
        QVERIFY(offered);
        QCOMPARE(offered->data(QStringLiteral("image/emf")), emf);
        QCOMPARE(offered->data(QStringLiteral("image/x-emf")), emf);
        QCOMPARE(qvariant_cast<QImage>(offered->imageData()).size(), QSize(90, 60));
        form->AddNewPic();
        form->PicInsertItemClick();
        QCOMPARE(form->CurrentPicNo, 2);
        const auto* pasted = dynamic_cast<const TMetafile*>(form->pic->Picture.Graphic());
        QVERIFY(pasted);
        QCOMPARE(pasted->OriginalBytes(), emf);

        // A Windows metafile alone on the clipboard enables "Bild einfügen" and is inserted.
        auto* wmfOnly = new QMimeData;
        wmfOnly->setData(QStringLiteral("image/x-wmf"), wmf);
        QGuiApplication::clipboard()->setMimeData(wmfOnly);
        form->Datei1Click();
        QVERIFY(Action("PicInsertItem")->isEnabled());
        form->PicInsertItemClick();
        QCOMPARE(form->CurrentPicNo, 3);
        const auto* inserted = dynamic_cast<const TMetafile*>(form->pic->Picture.Graphic());
        QVERIFY(inserted);
        QCOMPARE(inserted->MetafileKind(), TMetafileKind::Wmf);
        QCOMPARE(form->pic->PicWidth(), 90);
        QCOMPARE(Broken(), QString());
    }

    void saveAllContinuesTheNumbering() {
        OpenForm();
        WriteFile(Path("Pic007.jpg"), "schon da");
        WriteFile(Path("Pic.jpg"), "ohne Nummer");
        Fill(40, 30, Qt::red);
        form->AddNewPic();
        Fill(50, 20, Qt::blue);

        dialogs->FileAnswers.push_back(Path("Pic.jpg"));
        Action("SaveAllPicsItem")->trigger();
        const FileDialogRequest asked = dialogs->History.last().file;
        QCOMPARE(asked.Title, QStringLiteral("Alle Bilder unter fortlaufender Nummer sichern"));
        QCOMPARE(asked.Filter, BitmapFilter);
        QCOMPARE(asked.DefaultExt, QStringLiteral("jpg"));
        QVERIFY(asked.PathMustExist);
        QVERIFY(!asked.OverwritePrompt);
        // The proposed name is only a name, so the dialog opens where the user last saved.
        QCOMPARE(asked.FileName, QStringLiteral("Pic.jpg"));

        QCOMPARE(ReadAll(Path("Pic007.jpg")), QByteArray("schon da"));
        QCOMPARE(QImage(Path("Pic008.jpg")).size(), QSize(40, 30));
        QCOMPARE(QImage(Path("Pic009.jpg")).size(), QSize(50, 20));

        // A second run continues; the folder of the first is offered again.
        Choose("SaveAllPicsItem", Path("Pic.jpg"));
        QCOMPARE(dialogs->History.last().file.InitialDir, dir->path());
        QVERIFY(QFile::exists(Path("Pic010.jpg")));
        QVERIFY(QFile::exists(Path("Pic011.jpg")));
        QVERIFY(!QFile::exists(Path("Pic012.jpg")));

        // As bitmaps, from 1000 on with all digits.
        WriteFile(Path("Seite999.bmp"), "");
        Choose("SaveAllPicsItem", Path("Seite.bmp"));
        QCOMPARE(QImage(Path("Seite1000.bmp")).size(), QSize(40, 30));
        QCOMPARE(QImage(Path("Seite1001.bmp")).size(), QSize(50, 20));
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    // ".png" is written as PNG; a name no writer knows saves nothing and says so, instead of
    // looking like a saved file.
    void namesWithoutAWriter_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("metafile");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("written"); // the file and its format; empty: nothing written
        QTest::addColumn<QString>("offered"); // ends the message's list of extensions
        QTest::newRow("save as, png") << "PicSaveAsItem" << false << "b.png"
                                      << "b.png png"
                                      << "";
        QTest::newRow("save as, PNG") << "PicSaveAsItem" << false << "b.PNG"
                                      << "b.PNG png"
                                      << "";
        QTest::newRow("save as, tif") << "PicSaveAsItem" << false << "b.tif"
                                      << "b.tif tiff"
                                      << "";
        QTest::newRow("save as, bitmap as metafile") << "PicSaveAsItem" << false << "b.wmf"
                                                     << ""
                                                     << ".png, .tif oder .tiff";
        QTest::newRow("save as, gif") << "PicSaveAsItem" << false << "b.gif"
                                      << ""
                                      << ".png, .tif oder .tiff";
        QTest::newRow("save as, metafile as gif") << "PicSaveAsItem" << true << "m.gif"
                                                  << ""
                                                  << ".wmf oder .emf";
        QTest::newRow("save all, png") << "SaveAllPicsItem" << false << "Pic.png"
                                       << "Pic001.png png"
                                       << "";
        QTest::newRow("save all, tiff") << "SaveAllPicsItem" << false << "Pic.tiff"
                                        << "Pic001.tiff tiff"
                                        << "";
        QTest::newRow("save all, gif") << "SaveAllPicsItem" << false << "Pic.gif"
                                       << ""
                                       << ".png, .tif oder .tiff";
    }
    void namesWithoutAWriter() {
        QFETCH(QString, command);
        QFETCH(bool, metafile);
        QFETCH(QString, name);
        QFETCH(QString, written);
        QFETCH(QString, offered);
        OpenForm();
        if (metafile)
            form->pic->Picture.SetGraphic(std::make_unique<TTestMetafile>());
        else
            Fill(50, 40, Qt::blue);
        Choose(qPrintable(command), Path(name));
        if (!written.isEmpty()) {
            QFile file(Path(written.section(' ', 0, 0)));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QImageReader(&file).format(), written.section(' ', 1).toLatin1());
            QCOMPARE(QImage(file.fileName()).size(), QSize(50, 40));
            QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
            return;
        }
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
        const MessageRequest box = dialogs->LastMessage();
        QCOMPARE(box.Text.section('\r', 0, 0),
                 QStringLiteral("Die Datei %1 wurde nicht gesichert:").arg(Path(name)));
        QVERIFY2(box.Text.endsWith(offered + " gesichert werden."), qPrintable(box.Text));
        QCOMPARE(box.Icon, MsgIcon::Warning);
    }

    void saveAllWithAnEmptyCurrentPageDoesNothing() {
        OpenForm();
        AddPages(1);
        form->AddNewPic(); // a new page, still empty, current
        form->AddNewPic();
        QCOMPARE(Buttons().size(), 2);
        for (const char* action : {"SaveAllPicsItem", "PicSaveAsItem"})
            Action(action)->trigger();
        QCOMPARE(dialogs->History.size(), 0);
    }

    // ---- Command line -----------------------------------------------------------------------

    void commandLinePictures_data() {
        // Placeholders: A, B picture files; INI1, INI2 settings files; MISSING a missing file.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<int>>("widths"); // picture widths by page; 0 = empty page
        QTest::addColumn<int>("dpi");           // resolution the pictures got; 0 = the screen's
        QTest::addColumn<QString>("error");     // the error reported; empty = none
        QTest::newRow("none") << QStringList{} << QList<int>{0} << 0 << QString();
        QTest::newRow("picture, -i path, picture")
            << QStringList{"A", "-i", "INI2", "B"} << QList<int>{70, 90} << 150 << QString();
        QTest::newRow("-i twice") << QStringList{"-i", "INI1", "-i", "INI2", "A"} << QList<int>{70}
                                  << 150 << QString();
        QTest::newRow("-i last") << QStringList{"A", "-i"} << QList<int>{70} << 0 << QString();
        QTest::newRow("-i -i path")
            << QStringList{"-i", "-i", "INI1"} << QList<int>{0} << 0 << QString();
        QTest::newRow("-I is a picture")
            << QStringList{"-I", "INI1"} << QList<int>{0} << 0
            << QStringLiteral("EInvalidGraphic : Unbekannte Bilddateierweiterung (.)");
        QTest::newRow("missing, then valid")
            << QStringList{"MISSING", "A"} << QList<int>{0} << 0
            << QStringLiteral("EFOpenError : Datei MISSING kann nicht geöffnet werden");
        QTest::newRow("valid, missing, valid")
            << QStringList{"A", "MISSING", "B"} << QList<int>{70, 0} << 0
            << QStringLiteral("EFOpenError : Datei MISSING kann nicht geöffnet werden");
    }

    void commandLinePictures() {
        QFETCH(QStringList, arguments);
        QFETCH(QList<int>, widths);
        QFETCH(int, dpi);
        QFETCH(QString, error);
        QVERIFY(Pattern(70, 50, Qt::red).save(Path("a.bmp"), "BMP"));
        QVERIFY(Pattern(90, 60, Qt::blue).save(Path("b.jpg"), "JPEG"));
        // Different resolutions by hand, so the pictures tell which settings were read.
        WriteFile(Path("eins.ini"), "[Source]\r\nAutoDPI=0\r\nXDPI=200\r\nYDPI=200\r\n");
        WriteFile(Path("zwei.ini"), "[Source]\r\nAutoDPI=0\r\nXDPI=150\r\nYDPI=150\r\n");
        const QHash<QString, QString> files{{"A", Path("a.bmp")},
                                            {"B", Path("b.jpg")},
                                            {"INI1", Path("eins.ini")},
                                            {"INI2", Path("zwei.ini")},
                                            {"MISSING", Path("fehlt.bmp")}};
        for (QString& argument : arguments)
            argument = files.value(argument, argument);
        error.replace(QStringLiteral("MISSING"), files["MISSING"]);

        OpenFormWith(arguments);
        QList<int> shown;
        for (const TPicProperties* p : Order())
            shown << p->PicWidth();
        QCOMPARE(shown, widths);
        QCOMPARE(form->CurrentPicNo, int(widths.size()));
        for (const TPicProperties* p : Order())
            if (!p->IsEmpty())
                QCOMPARE(p->ScannerDPI.X, dpi ? dpi : form->logicalDpiX());
        QCOMPARE(Broken(), QString());
        if (error.isEmpty()) {
            QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
            QVERIFY(!form->CmdLineHandler);
        } else {
            QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
            QCOMPARE(ReportedError(), error);
            // The first show ended there: the command line is still held.
            QVERIFY(form->CmdLineHandler);
        }
        QVERIFY(form->isVisible());
    }
};

VELMORA_GUI_TEST_MAIN(PicturesTest)
#include "PicturesTest.moc"

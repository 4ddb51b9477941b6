// The print command on the real main window against the private scheduler of scripts/testenv.sh:
// page lists, collated copies, the measured size and position of the copy on the printed page,
// the bitmap target, failures of the queue, and the choices of the printer setup on the jobs.

#include "app/MainForm.h"
#include "app/SpinEdits.h"
#include "layout/Graphic.h"
#include "layout/PicObj.h"
#include "output/Printer.h"
#include "platform/Dialogs.h"
#include "tests/gui/GuiTestEnv.h"
#include "tests/support/DialogRecorder.h"
#include "tests/support/PrintedJobs.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QKeySequence>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstring>
#include <map>

#include <cups/cups.h>

namespace {

const QString kQueue = QStringLiteral("Kopierer");
const TPrintedJobs Jobs(kQueue);

// The file of job `n` (0 the first of the test, -1 the last).
QString JobFile(int n = -1) {
    const QStringList files = Jobs.Files();
    if (files.isEmpty())
        return QString();
    return n < 0 ? files.last() : files.value(n);
}

QString PdfInfo(const QString& key, int job = -1) {
    for (const QString& line : Exec("pdfinfo", {JobFile(job)}).split('\n'))
        if (line.startsWith(key + ":"))
            return line.mid(key.size() + 1).trimmed();
    return QString();
}

// Page `page` of job `job`'s file at `dpi`.
QImage Render(int page, int dpi, int job = -1) {
    const QString prefix = qEnvironmentVariable("VELMORA_TEST_OUT") + "/render";
    const QString n = QString::number(page);
    Exec("pdftoppm", {"-r", QString::number(dpi), "-f", n, "-l", n, "-singlefile", "-png",
                      JobFile(job), prefix});
    QImage image(prefix + ".png");
    QFile::remove(prefix + ".png");
    return image.convertToFormat(QImage::Format_RGB32);
}

// The colour in the middle of the dark box: which picture a page shows.
QColor Middle(const QImage& image) {
    const QRect box = DarkBox(image);
    return box.isEmpty() ? QColor() : image.pixelColor(box.center());
}

// The printable area's top-left corner on the sheet, in points, from the queue's driver.
QPointF PrintableOrigin() {
    QFile ppd(qEnvironmentVariable("VELMORA_TEST_CUPS_DIR") + "/etc/ppd/" + kQueue + ".ppd");
    if (!ppd.open(QIODevice::ReadOnly))
        return {};
    const QRegularExpression re(QStringLiteral("^\\*ImageableArea A4/A4: \"(\\S+) (\\S+) (\\S+) "
                                               "(\\S+)\""),
                                QRegularExpression::MultilineOption);
    const auto m = re.match(QString::fromLatin1(ppd.readAll()));
    if (!m.hasMatch())
        return {};
    return {m.captured(1).toDouble(), 842.0 - m.captured(4).toDouble()};
}

// Attribute `name` of every job of the queue the scheduler still knows, in job order, as the
// scheduler recorded it.
QStringList JobAttribute(const char* name) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    const QByteArray uri = "ipp://localhost/printers/" + kQueue.toUtf8();
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.constData());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    const char* const wanted[] = {"job-id", name};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  wanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    std::map<int, QString> byJob;
    int job = 0;
    QString value;
    auto flush = [&] {
        if (job > 0)
            byJob[job] = value;
        job = 0;
        value = QStringLiteral("(none)");
    };
    flush();
    for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
        if (!ippGetName(a)) { // the separator between two jobs
            flush();
            continue;
        }
        if (ippGetGroupTag(a) != IPP_TAG_JOB)
            continue;
        if (std::strcmp(ippGetName(a), "job-id") == 0)
            job = ippGetInteger(a, 0);
        else if (std::strcmp(ippGetName(a), name) == 0) {
            char text[256];
            ippAttributeString(a, text, sizeof text);
            value = QString::fromUtf8(text);
        }
    }
    flush();
    ippDelete(response);
    QStringList list;
    for (const auto& entry : byJob)
        list << entry.second;
    return list;
}

// Qt's own print dialog, set up as the printer setup, on `printer`, confirmed as the user would
// after `choice`: the radio button of that name clicked, or with "priority:N" the job priority
// set to N in the printer's properties ("Eigenschaften"), or nothing when empty.
void ConfirmSetupDialog(QPrinter& printer, const QString& choice) {
    QPrintDialog dialog(&printer);
    PreparePrinterSetupDialog(dialog, QString());
    dialog.open();
    if (!QTest::qWaitForWindowExposed(&dialog))
        qWarning("the print dialog did not show");
    if (choice.startsWith(QLatin1String("priority:"))) {
        bool set = false;
        QTimer::singleShot(0, [&] {
            QWidget* properties = QApplication::activeModalWidget();
            auto* spin =
                properties && properties != &dialog
                    ? properties->findChild<QSpinBox*>(QStringLiteral("jobPrioritySpinBox"))
                    : nullptr;
            if (spin) {
                spin->setValue(choice.section(':', 1).toInt());
                set = true;
            }
            if (auto* d = qobject_cast<QDialog*>(properties); d && d != &dialog)
                d->accept();
        });
        if (auto* button = dialog.findChild<QPushButton*>(QStringLiteral("properties")))
            button->click();
        if (!set)
            qWarning("no job priority in the printer's properties");
    } else if (!choice.isEmpty()) {
        auto* radio = dialog.findChild<QRadioButton*>(choice);
        // Where the user would find it: behind "Optionen >>", on its page of the dialog, which
        // must be one shown.
        if (auto* box = dialog.findChild<QDialogButtonBox*>(QString(), Qt::FindDirectChildrenOnly))
            for (QAbstractButton* b : box->buttons())
                if (box->buttonRole(b) == QDialogButtonBox::ResetRole)
                    b->click();
        auto* tabs = dialog.findChild<QTabWidget*>();
        for (QWidget* w = radio; tabs && w; w = w->parentWidget())
            if (const int page = tabs->indexOf(w); page >= 0 && tabs->isTabVisible(page))
                tabs->setCurrentIndex(page);
        // A button the user cannot reach leaves the choice as it was; the job shows it.
        if (radio && radio->isVisible() && radio->isEnabled())
            radio->click();
        else
            qWarning("button %s not offered in the print dialog", qPrintable(choice));
    }
    dialog.accept();
}

} // namespace

class PrintTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<TMainForm> form;

    // A page holding a w x h picture of one colour scanned at `dpi`, laid out at zoom 100 %.
    void AddPicture(int w, int h, int dpi, const QColor& colour) {
        if (!form->pic->IsEmpty())
            form->AddNewPic();
        QImage img(w, h, QImage::Format_RGB888);
        img.fill(colour);
        auto bmp = std::make_unique<TBitmap>();
        bmp->SetImage(img);
        form->pic->Picture.SetGraphic(std::move(bmp));
        form->pic->ScannerDPI = {dpi, dpi};
        form->pic->xZoom = form->pic->yZoom = 1.0;
        form->ShowZoomValues();
        form->UpdatePicInfo(true);
        form->PaintPanelResize();
    }

    TSpinEdit* Copies() { return Child<TSpinEdit>(*form, "CopiesEdit"); }
    QLineEdit* Pages() { return Child<QLineEdit>(*form, "PagesEdit"); }
    void Print() { Child<QToolButton>(*form, "PrintBtn")->click(); }

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER") ||
            qEnvironmentVariableIsEmpty("VELMORA_TEST_OUT"))
            QSKIP("needs the private scheduler of scripts/testenv.sh");
    }

    void init() {
        QVERIFY(Jobs.Install());
        Exec("cancel", {"-a", "-x"});
        QDir(Jobs.Folder()).removeRecursively();
        TPrinter::Printer().Reset();
        dialogs = std::make_unique<DialogRecorder>();
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(Child<QRadioButton>(*form, "PrinterBtn")->isChecked());
    }

    void cleanup() {
        form.reset();
        dialogs.reset();
        Exec("lpadmin", {"-x", kQueue});
        TPrinter::Printer().Reset();
    }

    void allPagesInCollatedCopies() {
        AddPicture(300, 300, 300, Qt::red);
        AddPicture(300, 300, 300, Qt::green);
        AddPicture(300, 300, 300, Qt::blue);
        Copies()->SetValue(2);
        Print();
        QCOMPARE(form->PrintJobCount, 1);
        // Two documents of three pages each, both with the title and number of the one job.
        QVERIFY(Jobs.WaitFor(2));
        QCOMPARE(Jobs.Files().size(), 2);
        const QColor expected[] = {Qt::red, Qt::green, Qt::blue};
        for (int copy = 0; copy < 2; ++copy) {
            QCOMPARE(PdfInfo("Pages", copy), QStringLiteral("3"));
            QCOMPARE(PdfInfo("Title", copy), QStringLiteral("Velmora 1"));
            QVERIFY(JobFile(copy).endsWith("-Velmora 1.pdf"));
            for (int page = 1; page <= 3; ++page) {
                const QColor c = Middle(Render(page, 30, copy));
                QVERIFY2(qAbs(c.red() - expected[page - 1].red()) < 40 &&
                             qAbs(c.green() - expected[page - 1].green()) < 40 &&
                             qAbs(c.blue() - expected[page - 1].blue()) < 40,
                         qPrintable(QStringLiteral("copy %1, page %2: %3")
                                        .arg(copy + 1)
                                        .arg(page)
                                        .arg(c.name())));
            }
        }
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void pageListsAndTheJobNumber() {
        AddPicture(300, 300, 300, Qt::red);
        AddPicture(300, 300, 300, Qt::green);
        AddPicture(300, 300, 300, Qt::blue);
        Child<QRadioButton>(*form, "SelPagesBtn")->setChecked(true);
        Pages()->setText(QStringLiteral("3,1"));
        Print();
        QVERIFY(Jobs.WaitFor(1));
        QCOMPARE(PdfInfo("Pages"), QStringLiteral("2"));
        QVERIFY(Middle(Render(1, 30)).blue() > 150);
        QVERIFY(Middle(Render(2, 30)).red() > 150);

        // An empty list prints nothing, but the job number advances.
        Pages()->clear();
        Print();
        QCOMPARE(form->PrintJobCount, 2);
        Pages()->setText(QStringLiteral("7"));
        Print();
        QCOMPARE(form->PrintJobCount, 3);
        QThread::msleep(300);
        QCOMPARE(Jobs.Completed(), 1);
        QCOMPARE(Exec("lpstat", {"-o", kQueue}).trimmed(), QString());

        Pages()->setText(QStringLiteral("2-9"));
        Print();
        QVERIFY(Jobs.WaitFor(2));
        QCOMPARE(Jobs.Files().size(), 2);
        QCOMPARE(PdfInfo("Title", 0), QStringLiteral("Velmora 1"));
        QCOMPARE(PdfInfo("Pages", 1), QStringLiteral("2"));
        QCOMPARE(PdfInfo("Title", 1), QStringLiteral("Velmora 4"));
        QVERIFY(Middle(Render(1, 30, 1)).green() > 100);
        QVERIFY(Middle(Render(2, 30, 1)).blue() > 150);
    }

    // A fast copy of three sheets from the feeder, with two pictures open before and two copies
    // asked for: every sheet is printed once, right after it arrived, in two documents of one
    // page, whatever the page selection; afterwards "Drucken" prints the selection as it is.
    void fastCopyPrintsEachScannedSheetOnce_data() {
        QTest::addColumn<bool>("allPages");
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("pagesPrintedAfterwards");
        QTest::newRow("Alle Seiten") << true << QString() << 5;
        QTest::newRow("page list") << false << QStringLiteral("1,1-5") << 6;
    }
    void fastCopyPrintsEachScannedSheetOnce() {
        QFETCH(bool, allPages);
        QFETCH(QString, list);
        QFETCH(int, pagesPrintedAfterwards);
        QTemporaryDir dir;
        QFile scenario(dir.filePath(QStringLiteral("scenario")));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write("count = unknown\n"
                       "page = 300x300 8 black 300\n"
                       "page = 300x300 8 black 300\n"
                       "page = 300x300 8 black 300\n");
        scenario.close();
        qputenv("VELMORA_SCRIPTED_SCENARIO", QFile::encodeName(scenario.fileName()));
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        AddPicture(300, 300, 300, Qt::red);
        AddPicture(300, 300, 300, Qt::green);
        if (allPages) {
            Child<QRadioButton>(*form, "AllPagesBtn")->setChecked(true);
        } else {
            Child<QRadioButton>(*form, "SelPagesBtn")->setChecked(true);
            Pages()->setText(list);
        }
        Copies()->SetValue(2);
        Child<QPushButton>(*form, "FastCopyBtn")->click();
        QCOMPARE(static_cast<int>(form->PicRecords.size()), 5);
        QCOMPARE(form->PrintJobCount, 3);
        QVERIFY(Jobs.WaitFor(6));
        QCOMPARE(Jobs.Files().size(), 6);
        for (int doc = 0; doc < 6; ++doc) {
            QCOMPARE(PdfInfo("Pages", doc), QStringLiteral("1"));
            QCOMPARE(PdfInfo("Title", doc), QStringLiteral("Velmora %1").arg(doc / 2 + 1));
            // The scanned sheet, not a picture opened before.
            const QColor c = Middle(Render(1, 30, doc));
            QVERIFY2(c.red() < 60 && c.green() < 60, qPrintable(c.name()));
        }
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);

        QCOMPARE(Child<QRadioButton>(*form, "AllPagesBtn")->isChecked(), allPages);
        if (!allPages)
            QCOMPARE(Pages()->text(), list);
        Copies()->SetValue(1);
        Print();
        QVERIFY(Jobs.WaitFor(7));
        QCOMPARE(PdfInfo("Pages"), QString::number(pagesPrintedAfterwards));
        qunsetenv("VELMORA_SCRIPTED_SCENARIO");
    }

    void emptyCurrentPicturePrintsNothingAtAll() {
        AddPicture(300, 300, 300, Qt::red);
        form->AddNewPic(); // an empty current page
        QVERIFY(form->pic->IsEmpty());
        Child<QRadioButton>(*form, "SelPagesBtn")->setChecked(true);
        Pages()->setText(QStringLiteral("1"));
        Print();
        QCOMPARE(form->PrintJobCount, 0);
        QThread::msleep(300);
        QCOMPARE(Exec("lpstat", {"-W", "all", "-o", kQueue}).trimmed(), QString());
    }

    void copyMeasuresItsOriginalOnThePage() {
        // 600 x 300 pixels at 300 dpi: 2 x 1 inches at 100 %, one inch from the corner of the
        // printable area in both directions.
        AddPicture(600, 300, 300, Qt::black);
        const int dpi = form->PrinterProps->PrnDPI.X;
        QVERIFY(dpi > 0);
        QCOMPARE(form->pic->PrnPicWidth(), 2 * dpi);
        Child<TSpinEdit>(*form, "XPosEdit")->SetValue(dpi);
        Child<TSpinEdit>(*form, "YPosEdit")->SetValue(dpi);
        Print();
        QVERIFY(Jobs.WaitFor(1));
        QCOMPARE(PdfInfo("Page size"), QStringLiteral("595 x 842 pts (A4)"));

        const int render = 300; // one render pixel is dpi / 300 printer pixels
        const QImage page = Render(1, render);
        const QRect box = DarkBox(page);
        const QPointF origin = PrintableOrigin() * render / 72.0;
        QVERIFY(!origin.isNull());
        const double tolerance = 1.0 + double(render) / dpi; // anti-aliased edge + a printer pixel
        QVERIFY2(qAbs(box.width() - 2.0 * render) <= tolerance,
                 qPrintable(QString::number(box.width())));
        QVERIFY2(qAbs(box.height() - 1.0 * render) <= tolerance,
                 qPrintable(QString::number(box.height())));
        QVERIFY2(qAbs(box.left() - (origin.x() + render)) <= tolerance,
                 qPrintable(QStringLiteral("%1 vs %2").arg(box.left()).arg(origin.x() + render)));
        QVERIFY2(qAbs(box.top() - (origin.y() + render)) <= tolerance,
                 qPrintable(QStringLiteral("%1 vs %2").arg(box.top()).arg(origin.y() + render)));
        // A scan is not blown up: the page holds the picture once, compressed.
        QVERIFY(QFile(JobFile()).size() < 200 * 1024);
    }

    // The ID-card copy of a card laid into the scanner's corner (both sides 85.6 x 54 mm of
    // black, 1011 x 638 pixels at 300 dpi), with a picture already there and two copies: one
    // print command of the new page alone, and each side of the card at its real size on the
    // printed page, 75 mm from the top of the one to the top of the other.
    void idCardCopyPrintsEachSideAtItsRealSize() {
        QTemporaryDir dir;
        QFile scenario(dir.filePath(QStringLiteral("scenario")));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write("set = accept\npage = 1011x638 8 black 300\n");
        scenario.close();
        qputenv("VELMORA_SCRIPTED_SCENARIO", QFile::encodeName(scenario.fileName()));
        qputenv("VELMORA_TWAIN_DSM", TWAIN_DSM);
        AddPicture(300, 300, 300, Qt::red);
        Child<TSpinEdit>(*form, "SrcXDPIEdit")->SetValue(300);
        Copies()->SetValue(2);
        Child<QAction>(*form, "AusweiskopieItem")->trigger();
        QCOMPARE(static_cast<int>(form->PicRecords.size()), 2);
        QCOMPARE(form->PrintJobCount, 1);
        QVERIFY(Jobs.WaitFor(2));
        QCOMPARE(Jobs.Files().size(), 2);
        QCOMPARE(PdfInfo("Pages", 0), QStringLiteral("1"));
        QCOMPARE(PdfInfo("Title", 1), QStringLiteral("Velmora 1"));

        const int render = 300;
        const QImage page = Render(1, render, 0);
        const QRect both = DarkBox(page);
        QVERIFY(!both.isEmpty());
        // The middle of the two dark sides lies in the white between them.
        const int middle = both.top() + both.height() / 2;
        const QRect front = DarkBox(page.copy(0, 0, page.width(), middle));
        QRect back = DarkBox(page.copy(0, middle, page.width(), page.height() - middle));
        back.translate(0, middle);
        auto mm = [render](int pixels) { return pixels * 25.4 / render; };
        const double tolerance = 0.5;
        qInfo("front %.2f x %.2f mm, back %.2f x %.2f mm, %.2f mm apart", mm(front.width()),
              mm(front.height()), mm(back.width()), mm(back.height()),
              mm(back.top() - front.top()));
        for (const QRect& side : {front, back}) {
            QVERIFY2(qAbs(mm(side.width()) - 85.6) <= tolerance,
                     qPrintable(QString::number(mm(side.width()))));
            QVERIFY2(qAbs(mm(side.height()) - 54.0) <= tolerance,
                     qPrintable(QString::number(mm(side.height()))));
        }
        QVERIFY2(qAbs(mm(back.top() - front.top()) - 75.0) <= tolerance,
                 qPrintable(QString::number(mm(back.top() - front.top()))));
        QCOMPARE(front.left(), back.left());
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 2);
        qunsetenv("VELMORA_SCRIPTED_SCENARIO");
    }

    void refusingAndStoppedQueuesAreReported() {
        AddPicture(300, 300, 300, Qt::red);
        for (const char* how : {"cupsreject", "cupsdisable"}) {
            bool ok = false;
            Exec(QString::fromLatin1(how), {kQueue}, &ok);
            QVERIFY(ok);
            const int before = form->PrintJobCount;
            const int messages = dialogs->Count(DialogRecorder::Shown::Message);
            Print();
            // The job number stays advanced, the report names the printer error, and the window
            // goes on.
            QCOMPARE(form->PrintJobCount, before + 1);
            QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), messages + 1);
            QVERIFY2(dialogs->LastMessage().Text.contains(QStringLiteral("EPrinter : ")),
                     qPrintable(dialogs->LastMessage().Text));
            Exec("cupsaccept", {kQueue});
            Exec("cupsenable", {kQueue});
        }
        QThread::msleep(300);
        QCOMPARE(Exec("lpstat", {"-W", "all", "-o", kQueue}).trimmed(), QString());
        QVERIFY(Jobs.Files().isEmpty());
        // Accepting again, the next job goes through.
        Print();
        QVERIFY(Jobs.WaitFor(1));
    }

    void bitmapTargetCopiesTheCurrentPictureAtScreenSize() {
        AddPicture(300, 150, 300, Qt::blue);
        Child<QRadioButton>(*form, "BitmapBtn")->setChecked(true);
        Child<TFloatSpinEdit>(*form, "XZoomEdit")->SetValue(200);
        // 300 pixels at 300 dpi on a 96-dpi screen at 200 %.
        const int w = qRound(300 * 96 / 300.0 * 2), h = qRound(150 * 96 / 300.0 * 2);
        const QString dir = qEnvironmentVariable("VELMORA_TEST_OUT");
        struct Case {
            QString file;
            const char* format; // what the file holds; nullptr: nothing written, which is said
        };
        const Case cases[] = {{dir + "/kopie.bmp", "bmp"},
                              {dir + "/kopie.jpg", "jpeg"},
                              {dir + "/kopie.png", "png"},
                              {dir + "/kopie.gif", nullptr}};
        for (const Case& c : cases) {
            QGuiApplication::clipboard()->clear();
            dialogs->History.clear();
            dialogs->FileAnswers.push_back(c.file);
            Print();
            const QImage copied = QGuiApplication::clipboard()->image();
            QCOMPARE(copied.size(), QSize(w, h));
            QVERIFY(copied.pixelColor(w / 2, h / 2).blue() > 200);
            QVERIFY(!dialogs->History.isEmpty());
            const DialogRecorder::Shown& shown = dialogs->History.first();
            QCOMPARE(shown.kind, DialogRecorder::Shown::SaveFile);
            QCOMPARE(shown.file.Title, QStringLiteral("Sichere in Datei"));
            QCOMPARE(shown.file.Filter,
                     QStringLiteral("Bitmaps (*.BMP)|*.BMP|JPeg (*.JPG)|*.JPG|Rest (*.*)|*.*"));
            if (c.format) {
                QCOMPARE(dialogs->History.size(), 1);
                QFile f(c.file);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(QImageReader(&f).format(), QByteArray(c.format));
                QCOMPARE(QImage(c.file).size(), QSize(w, h));
            } else {
                QVERIFY(!QFile::exists(c.file));
                QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 1);
                const MessageRequest box = dialogs->LastMessage();
                QVERIFY(box.Text.startsWith("Die Datei " + c.file + " wurde nicht gesichert"));
                QCOMPARE(box.Icon, MsgIcon::Warning);
            }
        }
        // The dialog remembers the last file chosen.
        dialogs->FileAnswers.push_back(QString());
        Print();
        QCOMPARE(dialogs->History.last().file.FileName, dir + "/kopie.gif");
        // Nothing went to the printer, and no job number was taken.
        QCOMPARE(form->PrintJobCount, 0);
    }

    // The two-sided choice made in the printer setup ("Einstellungen..") goes with every job of
    // the rest of the run, and so do the queue options of the printer's properties: a second
    // print, a setup confirmed again without a change, and a choice taken back all show in the
    // job's attributes as the scheduler recorded them.
    void setupChoicesReachEveryJob_data() {
        // Each step: the button clicked in the setup dialog ("" confirms it unchanged, "-"
        // prints without opening it), then the attribute of the job printed after it.
        QTest::addColumn<QByteArray>("attribute");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("long edge")
            << QByteArray("sides") << QStringList{"duplexLong", "-", ""}
            << QStringList{"two-sided-long-edge", "two-sided-long-edge", "two-sided-long-edge"};
        QTest::newRow("short edge")
            << QByteArray("sides") << QStringList{"duplexShort", "-", ""}
            << QStringList{"two-sided-short-edge", "two-sided-short-edge", "two-sided-short-edge"};
        QTest::newRow("one-sided again")
            << QByteArray("sides") << QStringList{"duplexLong", "noDuplex", "-"}
            << QStringList{"two-sided-long-edge", "one-sided", "one-sided"};
        // Qt's dialog opens its properties on the queue's defaults, not on the options chosen
        // before: only a confirmed choice is followed.
        QTest::newRow("job priority") << QByteArray("job-priority")
                                      << QStringList{"-", "priority:77", "-", "priority:20", "-"}
                                      << QStringList{"50", "77", "77", "20", "20"};
    }
    void setupChoicesReachEveryJob() {
        QFETCH(QByteArray, attribute);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, values);
        AddPicture(300, 300, 300, Qt::red);
        AddPicture(300, 300, 300, Qt::green);
        QString button;
        dialogs->PrinterSetupChoice = [&button](QPrinter& p) { ConfirmSetupDialog(p, button); };
        for (int i = 0; i < steps.size(); ++i) {
            if (steps[i] != QLatin1String("-")) {
                button = steps[i];
                dialogs->PrinterSetupAnswers = {true};
                Child<QPushButton>(*form, "SetupBtn")->click();
            }
            Print();
            QVERIFY(Jobs.WaitFor(i + 1));
        }
        QCOMPARE(JobAttribute(attribute.constData()), values);
        QCOMPARE(dialogs->Count(DialogRecorder::Shown::Message), 0);
    }

    void pageListKeyFilter_data() {
        QTest::addColumn<QString>("text");      // in the edit, cursor at the end
        QTest::addColumn<QString>("clipboard"); // before the keys
        QTest::addColumn<QString>("keys");      // typed with keyClicks, or a key sequence
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("clipboardAfter");
        // Typed characters: only digits, comma and hyphen get in.
        QTest::newRow("typing") << ""
                                << ""
                                << "type:1a -3.,5"
                                << "1-3,5"
                                << "";
        QTest::newRow("backspace") << "1-3,5"
                                   << ""
                                   << "Backspace"
                                   << "1-3,"
                                   << "";
        QTest::newRow("delete") << "123"
                                << ""
                                << "Home, Del"
                                << "23"
                                << "";
        QTest::newRow("cursor keys") << "123"
                                     << ""
                                     << "Left, Left, Del"
                                     << "13"
                                     << "";
        QTest::newRow("home and end") << "23"
                                      << ""
                                      << "Home, 1, End, 4"
                                      << "1234"
                                      << "";
        QTest::newRow("copy all") << "1-3"
                                  << "alt"
                                  << "Ctrl+A, Ctrl+C"
                                  << "1-3"
                                  << "1-3";
        QTest::newRow("cut all") << "1-3"
                                 << "alt"
                                 << "Ctrl+A, Ctrl+X"
                                 << ""
                                 << "1-3";
        // Pasting is not filtered by keys; the page list copes with any text.
        QTest::newRow("paste") << "1,"
                               << "2 x"
                               << "Ctrl+V"
                               << "1,2 x"
                               << "2 x";
    }

    void pageListKeyFilter() {
        QFETCH(QString, text);
        QFETCH(QString, clipboard);
        QFETCH(QString, keys);
        QFETCH(QString, expected);
        QFETCH(QString, clipboardAfter);
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        Pages()->setFocus();
        Pages()->setText(text);
        QGuiApplication::clipboard()->setText(clipboard);
        if (keys.startsWith("type:"))
            QTest::keyClicks(Pages(), keys.mid(5));
        else
            QTest::keySequence(Pages(), QKeySequence(keys));
        QCOMPARE(Pages()->text(), expected);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 clipboardAfter.isEmpty() ? clipboard : clipboardAfter);
    }

    void pageListPassesTheFocusOn() {
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        Pages()->setFocus();
        QTest::keyClick(Pages(), Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        QVERIFY(next && next != Pages());
        QTest::keyClick(next, Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), Pages());
        QTest::keyClick(Pages(), Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(QApplication::focusWidget() != Pages());
    }
};

VELMORA_GUI_TEST_MAIN(PrintTest)
#include "PrintTest.moc"

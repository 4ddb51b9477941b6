// The main window's application shell: window design values the form cannot hold, creation,
// the first show, closing and destruction in their fixed order, the key preview, the close
// command and the help commands.

#include "app/MainForm.h"

#include "app/CmdLine.h"
#include "app/EventHook.h"
#include "app/HelpWindow.h"
#include "app/VelmoraApplication.h"
#include "layout/PicObj.h"
#include "platform/Errors.h"
#include "platform/VelmoraPaths.h"
#include "twain/Twain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLayout>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QSvgRenderer>
#include <utility>

// The order of start-up and shut-down matters to the settings file and to the owned objects;
// enable "velmora.lifecycle.debug" to follow it.
Q_LOGGING_CATEGORY(lcLifecycle, "velmora.lifecycle", QtWarningMsg)

namespace {

const char* const DefaultHelpFileName = "velmorix.hlp";

// The hand the preview shows over the picture, drawn from the cursor resource "HANDCURSOR";
// its hot spot is the tip of the index finger.
QCursor LoadHandCursor() {
    QSvgRenderer renderer(QStringLiteral(":/cursors/HANDCURSOR"));
    if (!renderer.isValid())
        return QCursor(Qt::OpenHandCursor);
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    return QCursor(pixmap, 11, 2);
}

// The window's hints break their lines with CR LF, and the form stores them so, but uic drops
// every carriage return from the strings it generates. Put them back, for the hints shown as
// tool tips and for those kept in the "hint" property.
void RestoreHintLineBreaks(QWidget* root) {
    static const QRegularExpression bareLineFeed(QStringLiteral("(?<!\r)\n"));
    const QString crlf = QStringLiteral("\r\n");
    const QList<QWidget*> children = root->findChildren<QWidget*>();
    for (QWidget* widget : children) {
        if (widget->toolTip().contains(QLatin1Char('\n')))
            widget->setToolTip(widget->toolTip().replace(bareLineFeed, crlf));
        const QVariant hint = widget->property("hint");
        if (hint.isValid())
            widget->setProperty("hint", hint.toString().replace(bareLineFeed, crlf));
    }
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    // The resources live in a static library; without this the linker may leave them out.
    Q_INIT_RESOURCE(Velmora);
    setupUi(this);
    RestoreHintLineBreaks(this);

    // Window design values a Designer form cannot express: the font is given in pixels, and the
    // title bar offers the system menu, minimize and close, but no maximize button (the frame
    // stays sizeable).
    QFont windowFont(QStringLiteral("Times New Roman"));
    windowFont.setPixelSize(13);
    setFont(windowFont);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    ButtonScrollBox->hide();

    SaveToBmpDialog.Title = QStringLiteral("Sichere in Datei");
    SaveToBmpDialog.DefaultExt = QStringLiteral("bmp");
    SaveToBmpDialog.OverwritePrompt = true;
    SaveToBmpDialog.PathMustExist = true;

    // Handlers are bound before the window is created, so that the change events the creation
    // raises (the zoom edits are set to 100) already reach them.
    SetupShellHandlers();
    SetupTwainHandlers();
    SetupScannerButton();
    SetupLayoutHandlers();
    SetupOutputHandlers();
    SetupPicturesHandlers();
    SetupAboutHandlers();

    try {
        FormCreate();
    } catch (...) {
        // The window is not going to exist: its error handler must not outlive it.
        VelmoraApplication::SetExceptionHandler({});
        throw;
    }
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    StopButtonWatch();
    FormDestroy();
    VelmoraApplication::SetExceptionHandler({});
}

void TMainForm::SetupShellHandlers() {
    connect(CloseBtn, &QPushButton::clicked, this, Guarded([this] { MCloseClick(); }));
    connect(MClose, &QAction::triggered, this, Guarded([this] { MCloseClick(); }));
    connect(Hilfe1, &QAction::triggered, this, Guarded([this] { Hilfe1Click(); }));
    connect(Hilfebenutzen1, &QAction::triggered, this, Guarded([this] { Hilfebenutzen1Click(); }));

    // The page-button strip is aligned to the left edge of the preview panel: it always spans
    // the panel's height, its width is the layout's business.
    HookEvent(PreviewPanel, QEvent::Resize, [this](QEvent*) {
        ButtonScrollBox->resize(ButtonScrollBox->width(), PreviewPanel->height());
        return false;
    });

    // Key preview: the window sees every key press of its controls before they do.
    qApp->installEventFilter(this);
}

void TMainForm::FormCreate() {
    qCDebug(lcLifecycle) << "FormCreate";

    // 3. The help file becomes an absolute path: beside the program, or in the data folder of an
    // installed Velmora.
    QString helpName = QFileInfo(VelmoraApplication::HelpFile()).fileName();
    if (helpName.isEmpty())
        helpName = QString::fromLatin1(DefaultHelpFileName);
    VelmoraApplication::SetHelpFile(VelmoraFile(TVelmoraFiles::Data, helpName));

    // 4.
    PreviewBitmap.emplace();

    // 5.
    HandCursor = LoadHandCursor();

    // 6. The command line also fixes the settings path.
    CmdLineHandler = std::make_unique<TCommandLineHandler>();
    IniFileName = CmdLineHandler->IniFileName;

    // 7. Nothing of the picture shows until a picture is laid out.
    PreviewPaintBox->move(PaintPanel->width(), PreviewPaintBox->y());

    // 8. From here on every error that escapes a handler ends in the diagnostic report.
    VelmoraApplication::SetExceptionHandler([this](const Exception& E) { HandleAppException(E); });

    // Steps 9 to 14 fail only when the machine is out of resources. Their error is reported
    // like any other, with the window's state as far as it got; a window without its objects
    // cannot go on, so the program then ends quietly.
    try {
        CreateOwnedObjects();
    } catch (...) {
        VelmoraApplication::ReportCurrentException();
        throw EAbort(QStringLiteral("Velmora konnte nicht gestartet werden"));
    }
}

void TMainForm::CreateOwnedObjects() {
    const auto step = [](int number) {
        if (StartUpProbe)
            StartUpProbe(number);
    };

    // 9.
    step(9);
    PrinterProps = std::make_unique<TPrinterProperties>();

    // 10.
    step(10);
    auto& first = PicRecords[PicBtn];
    first = std::make_unique<TPicProperties>(PrinterProps.get());
    pic = first.get();

    // 11.
    step(11);
    UpdatesEnabled = true;

    // 12. The window design limits the zoom to 32767 %.
    step(12);
    for (TFloatSpinEdit* edit : {XZoomEdit, YZoomEdit}) {
        edit->SetMaxValue(2147483647);
        edit->SetValue(100);
    }

    // 13.
    step(13);
    PrintJobCount = 0;

    // 14.
    step(14);
    Twain = std::make_unique<TTwain>();
}

void TMainForm::setVisible(bool visible) {
    if (visible && !FormShown) {
        FormShown = true;
        FormShow();
        // The stored position is not used: the copier always starts in the middle of the
        // screen, with the size and state read from the settings.
        CenterOnScreen();
    }
    QMainWindow::setVisible(visible);
}

void TMainForm::FormShow() {
    qCDebug(lcLifecycle) << "FormShow";
    try {
        ReadSettings(IniFileName);
        SaveToBmpDialog.Filter =
            QStringLiteral("Bitmaps (*.BMP)|*.BMP|JPeg (*.JPG)|*.JPG|Rest (*.*)|*.*");
        UpdatePrinterInfo();
        ApplyLayouts();
        FormResize();
        if (CmdLineHandler) {
            // A file that cannot be opened ends the first show here: the files after it stay
            // closed, and the command line is kept.
            for (const QString& name : CmdLineHandler->FileNames)
                LoadPicFromFile(name);
            CmdLineHandler.reset();
            qCDebug(lcLifecycle) << "FormShow: CmdLineHandler released";
        }
    } catch (...) {
        VelmoraApplication::ReportCurrentException();
    }
}

void TMainForm::ApplyLayouts() {
    // The first show runs before the window is visible, and Qt lays out a hidden window's
    // controls only when it shows: the preview panel would still have its unlaid-out size
    // (100 x 30). Apply the layouts now, each window and panel before the controls inside it,
    // so that the preview is laid out on the final geometry.
    ensurePolished();
    QList<QWidget*> widgets{this};
    widgets += findChildren<QWidget*>(); // parents come before their children
    for (QWidget* widget : widgets) {
        if (widget->isWindow() && widget != this)
            continue;
        if (QLayout* layout = widget->layout()) {
            layout->invalidate();
            layout->activate();
        }
    }
}

void TMainForm::CenterOnScreen() {
    const QScreen* target = screen();
    if (!target)
        return;
    const QRect area = target->geometry();
    // move() makes Qt forget a minimised or maximised state until the window system applies it
    // again: keep the state read from the settings.
    const Qt::WindowStates state = windowState();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    setWindowState(state);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (Acquiring) {
        // The window takes no close while the scanner works, as it takes no other input: closed
        // now, it would write the settings at once and hide while the scan went on into it,
        // and the program would never end. A close by the window system (its close button) is
        // simply refused; one from the program itself (a quit request: logout, a signal, a
        // fatal error) is carried out once the scanner is closed.
        if (!event->spontaneous())
            QuitAfterAcquisition = true;
        event->ignore();
        qCDebug(lcLifecycle) << "closeEvent refused during an acquisition";
        return;
    }
    FormClose();
    QMainWindow::closeEvent(event);
}

TMainForm::AcquisitionScope::AcquisitionScope(TMainForm& Form) : m_form(Form) {
    // The acquisition opens the scanner that the button watch holds.
    m_form.StopButtonWatch();
    m_form.Acquiring = true;
    m_form.QuitAfterAcquisition = false;
}

TMainForm::AcquisitionScope::~AcquisitionScope() {
    m_form.Acquiring = false;
    // The application carries a quit request out by closing its windows one by one and gives up
    // at the first that refuses: the window itself, or the scanner's dialog. So the window may
    // never have heard of the request that ended the acquisition loop.
    const bool loopQuit = m_form.Twain && m_form.Twain->TakeQuitRequest();
    const bool refusedQuit = std::exchange(m_form.QuitAfterAcquisition, false);
    // The request is posted, not carried out here: the handler that ran the acquisition still
    // has its own steps to finish.
    if (loopQuit || refusedQuit) {
        qCDebug(lcLifecycle) << "acquisition ended: passing the quit request on";
        QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
    }
}

void TMainForm::FormClose() {
    PreviewBitmap.reset();
    qCDebug(lcLifecycle) << "FormClose: PreviewBitmap released";
    qCDebug(lcLifecycle) << "FormClose: WriteSettings";
    try {
        WriteSettings(IniFileName);
    } catch (...) {
        // The program still ends; the user learns that the settings were not written.
        VelmoraApplication::ReportCurrentException();
    }
}

void TMainForm::FormDestroy() {
    // The current picture goes first, then the records of the other pages.
    for (auto& entry : PicRecords)
        if (entry.second.get() == pic)
            entry.second.reset();
    pic = nullptr;
    qCDebug(lcLifecycle) << "FormDestroy: pic released";
    PicRecords.clear();
    qCDebug(lcLifecycle) << "FormDestroy: picture records released";
    PrinterProps.reset();
    qCDebug(lcLifecycle) << "FormDestroy: PrinterProps released";
    // The acquisition always closes its TWAIN session before it returns: nothing to close here.
    Twain.reset();
    qCDebug(lcLifecycle) << "FormDestroy: Twain released";
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    // Every fresh key press is preceded by its shortcut check; a press climbing the parents is
    // not. Qt builds key events on the stack, so two presses in a row often share an address.
    if (event->type() == QEvent::ShortcutOverride)
        PreviewedKey = nullptr;
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QMainWindow::eventFilter(watched, event);
    auto* target = static_cast<QWidget*>(watched);
    // Dialogs and menus are windows of their own; a menu bar in keyboard mode keeps its keys.
    if (target->window() != this || qobject_cast<QMenuBar*>(target))
        return false;
    if (event == PreviewedKey && PreviewedKeyTarget && target != PreviewedKeyTarget &&
        target->isAncestorOf(PreviewedKeyTarget)) {
        PreviewedKeyTarget = target;
        return false;
    }
    PreviewedKey = event;
    PreviewedKeyTarget = target;

    auto* keyEvent = static_cast<QKeyEvent*>(event);
    int key = keyEvent->key();
    // The filter runs inside Qt's event delivery: an error of the key handler must end here.
    try {
        FormKeyDown(key, keyEvent->modifiers());
    } catch (...) {
        ReportEscapedError();
        return true;
    }
    if (key == 0)
        return true;
    // CloseBtn is the window's cancel button: Esc presses it wherever the focus is.
    if (key == Qt::Key_Escape && keyEvent->modifiers() == Qt::NoModifier) {
        CloseBtn->click();
        return true;
    }
    return false;
}

void TMainForm::MCloseClick() {
    close();
}

void TMainForm::Hilfe1Click() {
    if (!HelpWindow)
        HelpWindow = new THelpWindow(this);
    HelpWindow->ShowContents(VelmoraApplication::HelpFile());
}

THelpWindow* TMainForm::HelpViewer() const {
    return HelpWindow;
}

void TMainForm::Hilfebenutzen1Click() {
    if (!HelpWindow)
        HelpWindow = new THelpWindow(this);
    HelpWindow->ShowHelpOnHelp();
}

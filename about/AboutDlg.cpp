#include "about/AboutDlg.h"

#include "about/AboutText.h"
#include "about/InfoAdd.h"
#include "about/SysComp.h"
#include "app/EventHook.h"
#include "app/IniHelp.h"
#include "app/VersionInfo.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QUrl>

namespace {

void OpenWithShell(const QUrl& url) {
    // The desktop reports nothing useful when it cannot open an address; neither do we.
    QDesktopServices::openUrl(url);
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), SystemCheck(new TSystem(this)) {
    SystemCheck->OnHandlerError = ReportEscapedError;
    // The icon lives in the main window's resources, a static library.
    Q_INIT_RESOURCE(Velmora);
    setupUi(this);

    // Design values a Designer form cannot express: fonts in pixels, the fixed dialog border.
    QFont dialogFont(QStringLiteral("Arial"));
    dialogFont.setPixelSize(12);
    setFont(dialogFont);
    QFont titleFont(QStringLiteral("Times New Roman"));
    titleFont.setStyleHint(QFont::Serif);
    titleFont.setPixelSize(27);
    titleFont.setBold(true);
    titleFont.setItalic(true);
    ProductName->setFont(titleFont);
    QFont smallFont = dialogFont;
    smallFont.setPixelSize(11);
    Copyright->setFont(smallFont);
    CommentLabel->setFont(smallFont);
    TimeStamp->setFont(smallFont);
    QFont boldFont = dialogFont;
    boldFont.setBold(true);
    SystemTitleLabel->setFont(boldFont);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(339, 274);
    LoadMemGauge->setRange(0, 100);
    LoadMemGauge->setTextVisible(false);

    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(Scroller, &TScroller::Click, this, Guarded([this] { ScrollerClick(); }));
    AboutTimer.setInterval(100);
    connect(&AboutTimer, &QTimer::timeout, this, Guarded([this] { AboutTimerTimer(); }));
    MakeLink(LinkLabel);
    MakeLink(MailLabel);
    HookEvent(IniLabel, QEvent::MouseButtonDblClick, [this](QEvent*) {
        IniLabelDblClick();
        return true;
    });
    qApp->installEventFilter(this);

    FormCreate();
    AboutTimer.start();
}

TAboutBox::~TAboutBox() {
    qApp->removeEventFilter(this);
}

void TAboutBox::MakeLink(QLabel* Label) {
    QFont linkFont = Label->font();
    linkFont.setUnderline(true);
    Label->setFont(linkFont);
    QPalette palette = Label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    Label->setPalette(palette);
    Label->setCursor(Qt::PointingHandCursor);
    HookEvent(Label, QEvent::MouseButtonRelease, [this, Label](QEvent* event) {
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        if (Label == MailLabel)
            MailLabelClick();
        else
            LinkLabelClick(Label);
        return true;
    });
}

void TAboutBox::FormCreate() {
    ProductName->setText(QGuiApplication::applicationDisplayName());
    LinkLabel->setText(QString::fromLatin1(VelmoraWebAddress));

    // The icon on the dialog's own background. It is drawn at the size it is shown: the program
    // icon is a vector image, and stretching a small bitmap of it would only blur it.
    const QSize size = ProgramIcon->contentsRect().size();
    QPixmap picture(size);
    picture.fill(palette().color(QPalette::Window));
    {
        QPainter painter(&picture);
        QIcon(QStringLiteral(":/icons/velmora.svg")).paint(&painter, QRect(QPoint(0, 0), size));
    }
    ProgramIcon->setPixmap(picture);

    Version->setText(AboutVersionLine(Version->text(), ProductVersionText()));
    Copyright->setText(VersionInfoString(QString(), QStringLiteral("LegalCopyright")));
    CommentLabel->setText(VersionInfoString(QString(), QStringLiteral("Comments")));

    const QString iniFile = GetIniFileName();
    IniLabel->setText(iniFile.isEmpty() ? QString() : QFileInfo(iniFile).fileName());
    IniLabel->setToolTip(iniFile);
}

void TAboutBox::FormShow() {
    Scroller->SetMax(Notebook->count() - 1);
    if (Notebook->count() == 1) {
        Scroller->hide();
    } else {
        // The form stores the "System" page; the box opens on the icon.
        Scroller->SetPosition(0);
        Notebook->setCurrentIndex(0);
    }
    LinkLabel->setToolTip(LinkTarget(LinkLabel->text()));
}

void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    try {
        if (const QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
        FormShow();
    } catch (...) {
        ReportEscapedError();
    }
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    // A fresh key press is preceded by its shortcut check; a press climbing the parents is not.
    if (event->type() == QEvent::ShortcutOverride)
        m_previewedKey = nullptr;
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return QDialog::eventFilter(watched, event);
    auto* target = static_cast<QWidget*>(watched);
    if (target->window() != this)
        return false;
    // A key press that no control takes climbs to the parents, and the application's filter
    // sees it again at each of them: the dialog looks at it once, at its first receiver.
    if (event == m_previewedKey && m_previewedTarget && target != m_previewedTarget &&
        target->isAncestorOf(m_previewedTarget)) {
        m_previewedTarget = target;
        return false;
    }
    m_previewedKey = event;
    m_previewedTarget = target;
    try {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        int key = keyEvent->key();
        FormKeyDown(key, keyEvent->modifiers());
        if (key == 0)
            return true;
        const QString text = keyEvent->text();
        if (text.size() == 1) {
            QChar ch = text.at(0);
            FormKeyPress(ch);
            if (ch.isNull())
                return true;
        }
    } catch (...) {
        ReportEscapedError();
        return true;
    }
    return false;
}

void TAboutBox::FormKeyDown(int& Key, Qt::KeyboardModifiers) {
    if (Key == Qt::Key_PageDown) {
        Scroller->SetPosition(Scroller->Position() + 1);
        Key = 0;
    } else if (Key == Qt::Key_PageUp) {
        Scroller->SetPosition(Scroller->Position() - 1);
        Key = 0;
    }
}

void TAboutBox::FormKeyPress(QChar& Key) {
    if (Key == QLatin1Char('i') || Key == QLatin1Char('I')) {
        TimeStamp->setVisible(!TimeStamp->isVisible());
        Key = QChar();
    }
}

void TAboutBox::AboutTimerTimer() {
    if (Notebook->currentWidget() != System)
        return;
    FreeMemLabel->setText(
        FreeMemoryText(SystemCheck->AvailPhysMemory(), SystemCheck->AvailPageFile()));
    LoadMemGauge->setValue(SystemCheck->MemoryLoad());
    const double mhz = SystemCheck->Mhz();
    MhzLabel->setText(MhzText(mhz));
    MhzLbLabel->setVisible(mhz > 0);
}

void TAboutBox::ScrollerClick() {
    Notebook->setCurrentIndex(Scroller->Position());
}

void TAboutBox::LinkLabelClick(QObject* Sender) {
    if (auto* label = qobject_cast<QLabel*>(Sender))
        OpenWithShell(QUrl(label->toolTip()));
}

void TAboutBox::MailLabelClick() {
    OpenWithShell(SupportMailUrl(MailLabel->text(), QGuiApplication::applicationDisplayName(),
                                 ProductVersionText()));
}

void TAboutBox::IniLabelDblClick() {
    const QString iniFile = IniLabel->toolTip();
    if (iniFile.isEmpty())
        return;
    OpenWithShell(QUrl::fromLocalFile(QFileInfo(iniFile).absolutePath()));
}

void TAboutBox::AddInfoAdds(const TInfoAdds& List) {
    for (const QString& text : List.Paragraphs())
        AddInfoText(text);
}

void TAboutBox::AddInfoText(const QString& Text) {
    QWidget* page = AddInfoPage();
    auto* label = new QLabel(Text, page);
    label->setObjectName(QStringLiteral("InfoLabel") + page->objectName());
    label->setGeometry(page->rect().adjusted(8, 4, -8, -4));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    const QString link = InfoTextLink(Text);
    if (!link.isEmpty()) {
        label->setToolTip(link);
        label->setCursor(Qt::PointingHandCursor);
        HookEvent(label, QEvent::MouseButtonRelease, [this, label](QEvent* event) {
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
                return false;
            LinkLabelClick(label);
            return true;
        });
    }
}

QWidget* TAboutBox::AddInfoPage() {
    auto* page = new QWidget;
    page->setObjectName(QString::number(Notebook->count()));
    Notebook->addWidget(page);
    page->resize(Notebook->size());
    return page;
}

#include "app/HelpWindow.h"

#include "app/EventHook.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char* const HelpOnHelpPage = R"(<html><head><title>Hilfe verwenden</title></head><body>
<h2>Hilfe verwenden</h2>
<p>Dieses Fenster zeigt die Hilfe zu Velmora. Es bleibt neben dem Hauptfenster offen, so dass
Sie beim Lesen weiterarbeiten können.</p>
<h3>Blättern</h3>
<ul>
<li><b>Unterstrichene Verweise</b> führen zu einem anderen Abschnitt. Ein Klick darauf genügt.</li>
<li><b>Zurück</b> kehrt zur zuletzt gezeigten Stelle zurück, <b>Vor</b> geht den Weg wieder
vorwärts. Mit der Tastatur: Alt+Pfeil links und Alt+Pfeil rechts.</li>
<li><b>Inhalt</b> zeigt wieder das Inhaltsverzeichnis der Hilfe.</li>
<li>Mit dem Mausrad, den Bildlaufleisten oder den Tasten Bild auf und Bild ab blättern Sie
innerhalb eines Abschnitts.</li>
</ul>
<h3>Text übernehmen</h3>
<p>Markieren Sie Text mit der Maus und kopieren Sie ihn mit Strg+C, etwa um ihn in eine
E-Mail einzufügen.</p>
<h3>Schließen</h3>
<p>Esc oder der Schließknopf der Titelleiste schließen das Hilfefenster. Taste F1 im
Hauptfenster öffnet es wieder beim Inhalt.</p>
</body></html>)";

} // namespace

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    // The title bar adds the program's name (the application's display name) itself.
    setWindowTitle(QStringLiteral("Hilfe"));
    // The help stays open beside the copier but never keeps the program alive on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(560, 480);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("HelpBrowser"));
    m_browser->setOpenExternalLinks(true);

    m_contentsButton = new QPushButton(QStringLiteral("&Inhalt"), this);
    m_backButton = new QPushButton(QStringLiteral("&Zurück"), this);
    m_forwardButton = new QPushButton(QStringLiteral("&Vor"), this);
    m_helpOnHelpButton = new QPushButton(QStringLiteral("&Hilfe verwenden"), this);
    for (QPushButton* b : {m_contentsButton, m_backButton, m_forwardButton, m_helpOnHelpButton})
        b->setAutoDefault(false);
    m_backButton->setEnabled(false);
    m_forwardButton->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_contentsButton);
    buttons->addWidget(m_backButton);
    buttons->addWidget(m_forwardButton);
    buttons->addStretch(1);
    buttons->addWidget(m_helpOnHelpButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser, 1);

    connect(m_contentsButton, &QPushButton::clicked, this,
            Guarded([this] { ShowContents(m_helpFile); }));
    connect(m_backButton, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forwardButton, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_helpOnHelpButton, &QPushButton::clicked, this, &THelpWindow::ShowHelpOnHelp);
    connect(m_browser, &QTextBrowser::backwardAvailable, m_backButton, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forwardButton, &QPushButton::setEnabled);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void THelpWindow::ShowContents(const QString& helpFile) {
    m_helpFile = helpFile;
    const QFileInfo file(helpFile);
    if (file.isFile() && file.isReadable()) {
        // The file keeps its traditional name, so its kind must be given: it is HTML.
        m_browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()),
                             QTextDocument::HtmlResource);
    } else {
        m_browser->clearHistory();
        m_browser->setHtml(
            QStringLiteral("<h2>Hilfe nicht gefunden</h2>"
                           "<p>Die Hilfedatei <b>%1</b> ist nicht vorhanden oder kann nicht "
                           "gelesen werden.</p><p>Sie gehört in den Ordner des Programms. "
                           "Installieren Sie Velmora bitte neu, falls sie fehlt.</p>")
                .arg(helpFile.toHtmlEscaped()));
    }
    Present();
}

void THelpWindow::ShowHelpOnHelp() {
    m_browser->setHtml(QString::fromUtf8(HelpOnHelpPage));
    Present();
}

void THelpWindow::Present() {
    show();
    raise();
    activateWindow();
}

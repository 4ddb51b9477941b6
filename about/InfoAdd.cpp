#include "about/InfoAdd.h"

TInfoAdds::TInfoAdds() {
    // Each paragraph fills one page of the about box: keep it short enough for the page.
    m_paragraphs = {
        QStringLiteral(
            "Kopieren in drei Schritten: Vorlage auflegen, \"Hole Bild\" klicken und im "
            "Fenster des Scanners scannen, dann unter \"Kopien\" die Anzahl eintragen und "
            "\"Drucken\" klicken. Ein Druckdialog erscheint nicht mehr: Velmora druckt sofort."),
        QStringLiteral(
            "Schnellkopie: Der Knopf \"Schnellkopie\" scannt ohne das Fenster des Scanners mit "
            "der eingestellten Auflösung und druckt jede Seite sofort, zentriert und in der "
            "eingestellten Anzahl von Kopien. Ideal für viele gleichartige Vorlagen."),
        QStringLiteral(
            "Originalgröße: 100 % in den Feldern X und Y ergibt eine Kopie genau in der Größe der "
            "Vorlage. Dafür muss die Scannerauflösung unter \"Quelle (dpi)\" stimmen. Liefert der "
            "Treiber falsche Werte, nehmen Sie den Haken bei \"Automatisch\" weg und tragen die "
            "Auflösung von Hand ein."),
        QStringLiteral(
            "Welche Auflösung? Für Texte und Zeichnungen genügen meist 300 dpi, für Fotos 300 "
            "bis 600 dpi. Höhere Werte kosten viel Speicher und Zeit, ohne dass der Ausdruck "
            "besser wird. Die Qualitätszahl im Fenster zeigt es: ab 1 ist die Kopie so fein wie "
            "die Vorlage."),
        QStringLiteral(
            "Vergrößern und verkleinern: 200 % ergibt die doppelte, 50 % die halbe Breite. Ist "
            "das Kästchen zwischen X und Y angehakt, folgt der eine Wert dem anderen, und die "
            "Kopie behält ihre Form. Ohne Haken lässt sie sich auch verzerren."),
        QStringLiteral(
            "Ganzes Blatt nutzen: Der Knopf neben den Prozentfeldern macht die Kopie so groß wie "
            "möglich und zentriert sie. Der Knopf neben der Position zentriert sie, ohne ihre "
            "Größe zu ändern."),
        QStringLiteral(
            "Mit der Maus: Ziehen Sie die Kopie in der Vorschau, um sie zu verschieben, oder an "
            "einer Kante oder Ecke, um ihre Größe zu ändern. Der Mauszeiger zeigt, was gerade "
            "gegriffen wird. Die Vorschau zeigt das Blatt genau so, wie es gedruckt wird."),
        QStringLiteral(
            "Papierfarbe: Ein Klick auf \"Papierfarbe\" wählt die Farbe des Blattes in der "
            "Vorschau, etwa für farbiges Papier im Drucker. Die Farbe dient nur der Anschauung "
            "und wird nicht gedruckt."),
        QStringLiteral(
            "Seitenliste: Bei mehreren Bildern druckt \"Alle Seiten\" alles, oder Sie geben "
            "einzelne Seiten an: 1,3-5 druckt die Seiten 1, 3, 4 und 5. Einzelne Seiten trennt "
            "ein Komma, Folgen schreibt man mit Bindestrich."),
        QStringLiteral(
            "Sortierte Kopien: Jede Kopie wird als eigener Druckauftrag gedruckt. Drei Kopien "
            "von vier Seiten kommen also als drei vollständige Sätze aus dem Drucker und müssen "
            "nicht von Hand sortiert werden."),
        QStringLiteral(
            "Mehrere Seiten: Jedes gescannte oder geöffnete Bild bekommt einen nummerierten "
            "Seitenknopf links neben der Vorschau. Bild auf und Bild ab wechseln die Seite, "
            "Strg+Bild auf und Strg+Bild ab verschieben das Bild, Strg+F4 schließt es."),
        QStringLiteral(
            "Faxen: Wählen Sie oben \"Fax\" und unter \"Einstellungen..\" Ihren Faxdrucker. "
            "Velmora merkt sich für Drucker und Fax je einen eigenen Drucker, so wechseln Sie "
            "mit einem Klick zwischen beiden."),
        QStringLiteral(
            "Ohne Drucker: In der Ausgabeart \"Bitmap\" legt \"Kopieren\" die aktuelle Seite in "
            "der eingestellten Größe als Bild in die Zwischenablage, etwa für ein Textprogramm. "
            "Auf Wunsch sichert Velmora sie zusätzlich als BMP- oder JPEG-Datei."),
        QStringLiteral(
            "Bilder sichern: \"Alle Bilder sichern...\" speichert alle Seiten mit fortlaufender "
            "Nummer, etwa Pic001.jpg, Pic002.jpg. Vorhandene Dateien bleiben erhalten; die "
            "Zählung setzt hinter der höchsten vorhandenen Nummer fort."),
        QStringLiteral(
            "Bilder öffnen: Velmora öffnet BMP-, JPEG-, WMF-, EMF- und ICO-Dateien als neue "
            "Seiten, auch beim Start: \"velmora bild1.jpg bild2.bmp\" öffnet beide Bilder. "
            "\"Bild einfügen\" übernimmt ein Bild aus der Zwischenablage."),
        QStringLiteral(
            "Einstellungen: Velmora merkt sich Fenster, Ausgabeart, Drucker, Scannerauflösung "
            "und Optionen in einer INI-Datei; ihr Name steht auf der Seite \"System\", ein "
            "Doppelklick darauf öffnet ihren Ordner. Mit \"velmora -i datei.ini\" wählen Sie "
            "eine andere Datei."),
        QStringLiteral(
            "Neuigkeiten, Antworten auf häufige Fragen und neue Versionen von Velmora finden Sie "
            "unter www.velmora.example.org. Ein Klick auf diese Seite öffnet sie. Fehlerberichte "
            "schicken Sie bitte mit allen Angaben an die unten genannte Mail-Adresse."),
    };
}

const TInfoAdds& ApplicationInfoAdds() {
    static const TInfoAdds List;
    return List;
}

QString InfoTextLink(const QString& Text) {
    const QString address = QString::fromLatin1(VelmoraWebAddress);
    if (!Text.contains(address, Qt::CaseInsensitive))
        return {};
    return QStringLiteral("http://") + address + QLatin1Char('/');
}

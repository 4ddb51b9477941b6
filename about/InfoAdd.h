#pragma once
// The additional text pages of the about box: short German paragraphs with tips for working
// with Velmora, one page each. The list is made once per run and lives until the program ends.

#include <QString>
#include <QStringList>

// The web address the about box links to. A paragraph that names it becomes a link as well.
inline constexpr char VelmoraWebAddress[] = "www.velmora.example.org";

class TInfoAdds {
public:
    TInfoAdds();

    int Count() const { return int(m_paragraphs.size()); }
    const QString& Strings(int Index) const { return m_paragraphs.at(Index); }
    const QStringList& Paragraphs() const { return m_paragraphs; }

private:
    QStringList m_paragraphs;
};

// The application's list.
const TInfoAdds& ApplicationInfoAdds();

// The link target of a paragraph: the web address as a full URL with a closing "/" when Text
// names it, otherwise empty.
QString InfoTextLink(const QString& Text);

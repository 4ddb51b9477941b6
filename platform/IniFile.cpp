#include "platform/IniFile.h"

#include "platform/Errors.h"
#include "platform/NewFile.h"
#include "platform/WholeNumber.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QStringView>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

bool IsBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Only blanks and tabs count: QString::trimmed() would also strip a Latin-1 no-break space
// (0xA0) from a value, and form feeds and the like never separate INI fields.
QStringView TrimBlanks(QStringView s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.mid(begin, end - begin);
}

bool SameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool IsQuote(QChar c) {
    return c == QLatin1Char('"') || c == QLatin1Char('\'');
}

bool IsEnclosedInQuotes(QStringView v) {
    return v.size() >= 2 && IsQuote(v.front()) && v.front() == v.back();
}

// Line breaks would start a new line of the file, so they become blanks.
QString SingleLine(const QString& text) {
    QString s = text;
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

QString EncodeValue(const QString& value) {
    const QString v = SingleLine(value);
    if (!v.isEmpty() && (IsBlank(v.front()) || IsBlank(v.back()) || IsEnclosedInQuotes(v)))
        return QLatin1Char('"') + v + QLatin1Char('"');
    return v;
}

QString DecodeLine(QByteArrayView bytes) {
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    return QString::fromLatin1(bytes);
}

// One line of the file: its bytes exactly as read (with the line ending) and what they mean.
struct Line {
    enum Kind { Other, Blank, Comment, Section, Entry };

    QByteArray raw;
    QString text; // decoded, without the line ending
    Kind kind = Other;
    QString name;          // section name or key
    qsizetype valueAt = 0; // Entry: where the value begins in `text`, after '=' and blanks

    QStringView Value() const { return TrimBlanks(QStringView(text).mid(valueAt)); }

    QByteArrayView Ending() const {
        if (raw.endsWith("\r\n"))
            return "\r\n";
        if (raw.endsWith('\n'))
            return "\n";
        return {};
    }
};

Line ParseLine(QByteArray raw, bool firstLine) {
    Line line;
    line.raw = std::move(raw);
    QByteArrayView body = line.raw;
    if (body.endsWith('\n'))
        body.chop(1);
    if (body.endsWith('\r'))
        body.chop(1);
    if (firstLine && body.startsWith("\xEF\xBB\xBF"))
        body = body.sliced(3);
    line.text = DecodeLine(body);

    const QStringView t = TrimBlanks(line.text);
    if (t.isEmpty()) {
        line.kind = Line::Blank;
    } else if (t.front() == QLatin1Char(';') || t.front() == QLatin1Char('#')) {
        line.kind = Line::Comment;
    } else if (t.front() == QLatin1Char('[')) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        line.kind = Line::Section;
        line.name = TrimBlanks(t.mid(1, close < 0 ? -1 : close - 1)).toString();
    } else if (const qsizetype eq = line.text.indexOf(QLatin1Char('=')); eq > 0) {
        const QStringView key = TrimBlanks(QStringView(line.text).left(eq));
        if (!key.isEmpty()) {
            line.kind = Line::Entry;
            line.name = key.toString();
            line.valueAt = eq + 1;
            while (line.valueAt < line.text.size() && IsBlank(line.text[line.valueAt]))
                ++line.valueAt;
        }
    }
    return line;
}

// The parsed file. Lines keep their bytes until they are changed, so saving an unchanged
// document gives back the file byte for byte.
class Document {
public:
    static Document Load(const QString& path) {
        Document doc;
        QFile file(path);
        // Only a regular file: reading a FIFO or a device given as settings path would hang.
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
            return doc;
        const QByteArray data = file.readAll();
        bool eolKnown = false;
        qsizetype start = 0;
        while (start < data.size()) {
            qsizetype end = data.indexOf('\n', start);
            end = end < 0 ? data.size() : end + 1;
            doc.m_lines.push_back(ParseLine(data.mid(start, end - start), start == 0));
            if (!eolKnown && !doc.m_lines.back().Ending().isEmpty()) {
                doc.m_eol = doc.m_lines.back().Ending().toByteArray();
                eolKnown = true;
            }
            start = end;
        }
        return doc;
    }

    QByteArray Save() const {
        QByteArray out;
        for (const Line& line : m_lines)
            out += line.raw;
        return out;
    }

    bool HasSection(QStringView section) const {
        for (const Line& line : m_lines)
            if (line.kind == Line::Section && SameName(line.name, section))
                return true;
        return false;
    }

    // The first line that sets `key` in a section named `section`, or -1.
    qsizetype Find(QStringView section, QStringView key) const {
        bool inSection = false;
        for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i) {
            const Line& line = m_lines[std::size_t(i)];
            if (line.kind == Line::Section)
                inSection = SameName(line.name, section);
            else if (inSection && line.kind == Line::Entry && SameName(line.name, key))
                return i;
        }
        return -1;
    }

    const Line& At(qsizetype i) const { return m_lines[std::size_t(i)]; }

    // Returns whether the file content changed.
    bool Set(const QString& section, const QString& key, const QString& value) {
        const QString encoded = EncodeValue(value);
        if (const qsizetype i = Find(section, key); i >= 0) {
            Line& line = m_lines[std::size_t(i)];
            // Keep the line's own spelling of the key and its spacing around '='.
            if (QStringView(line.text).mid(line.valueAt) == encoded)
                return false;
            const QByteArray ending = line.Ending().toByteArray();
            line = ParseLine((line.text.left(line.valueAt) + encoded).toUtf8() + ending, false);
            return true;
        }
        const QString entry = SingleLine(key) + QLatin1Char('=') + encoded;
        if (const qsizetype header = FirstHeader(section); header >= 0) {
            // After the last key (or other content) of the section; comments and blank lines
            // at its end usually introduce the next section and stay with it.
            qsizetype at = header + 1;
            for (qsizetype i = header + 1;
                 i < qsizetype(m_lines.size()) && At(i).kind != Line::Section; ++i)
                if (At(i).kind == Line::Entry || At(i).kind == Line::Other)
                    at = i + 1;
            Insert(at, entry);
            return true;
        }
        if (!m_lines.empty() && m_lines.back().kind != Line::Blank)
            Insert(qsizetype(m_lines.size()), QString());
        Insert(qsizetype(m_lines.size()),
               QLatin1Char('[') + SingleLine(section) + QLatin1Char(']'));
        Insert(qsizetype(m_lines.size()), entry);
        return true;
    }

    bool Remove(QStringView section, QStringView key) {
        bool removed = false;
        bool inSection = false;
        for (auto it = m_lines.begin(); it != m_lines.end();) {
            if (it->kind == Line::Section)
                inSection = SameName(it->name, section);
            if (inSection && it->kind == Line::Entry && SameName(it->name, key)) {
                it = m_lines.erase(it);
                removed = true;
            } else {
                ++it;
            }
        }
        return removed;
    }

private:
    qsizetype FirstHeader(QStringView section) const {
        for (qsizetype i = 0; i < qsizetype(m_lines.size()); ++i)
            if (At(i).kind == Line::Section && SameName(At(i).name, section))
                return i;
        return -1;
    }

    void Insert(qsizetype at, const QString& text) {
        // A file whose last line has no line ending gets one before anything follows it.
        if (at > 0 && At(at - 1).Ending().isEmpty())
            m_lines[std::size_t(at - 1)].raw += m_eol;
        m_lines.insert(m_lines.begin() + at, ParseLine(text.toUtf8() + m_eol, false));
    }

    std::vector<Line> m_lines;
    QByteArray m_eol = "\n";
};

[[noreturn]] void CannotWrite(const QString& path) {
    throw EIniFileException(QStringLiteral("In %1 kann nicht geschrieben werden").arg(path));
}

// The file that is really replaced: a settings file that is a symbolic link (dotfile
// managers do this) stays a link, and its target gets the new content.
QString ReplacementTarget(const QString& path) {
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

// access() says yes to root for everything, so a file or folder without any write permission
// bit counts as read-only as well: the user made it so on purpose.
bool Writable(const QByteArray& path, const struct stat& st, int mode) {
    return (st.st_mode & 0222) != 0 && ::access(path.constData(), mode) == 0;
}

bool ReplaceAtomically(const QString& targetPath, const QByteArray& content) {
    struct stat old {};
    if (::stat(QFile::encodeName(targetPath).constData(), &old) == 0 && !S_ISREG(old.st_mode))
        return false;
    TNewFile file(targetPath);
    return file.Write(content) && file.Replace(targetPath);
}

// Whether the settings file may be replaced; see IniFile.h for why a file the user made
// read-only is refused although the rename over it would succeed.
bool CanReplace(const QString& targetPath) {
    const QByteArray target = QFile::encodeName(targetPath);
    struct stat st {};
    if (::stat(target.constData(), &st) == 0 && !Writable(target, st, W_OK))
        return false;
    const QByteArray folder = QFile::encodeName(QFileInfo(targetPath).absolutePath());
    return ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           Writable(folder, st, W_OK | X_OK);
}

// Applies `change` to the file and replaces it when the content changed. A write must be
// possible even when it would change nothing, so that a settings file that cannot be written
// is reported at the first key and not only at the first key whose value differs.
template <typename Change> void Modify(const QString& path, bool mustBeWritable, Change change) {
    const QString target = ReplacementTarget(path);
    const bool writable = CanReplace(target);
    if (mustBeWritable && !writable)
        CannotWrite(path);
    Document doc = Document::Load(target);
    if (!change(doc))
        return;
    if (!writable || !ReplaceAtomically(target, doc.Save()))
        CannotWrite(path);
}

// The value of the key as ReadString returns it; false when the key is not there.
bool Lookup(const QString& path, const QString& section, const QString& key, QString& value) {
    const Document doc = Document::Load(path);
    const qsizetype i = doc.Find(section, key);
    if (i < 0)
        return false;
    QStringView v = doc.At(i).Value();
    if (IsEnclosedInQuotes(v))
        v = v.mid(1, v.size() - 2);
    if (v.size() > TIniFile::MaxValueLength) {
        v = v.left(TIniFile::MaxValueLength);
        // Never end on half of a surrogate pair.
        if (v.back().isHighSurrogate())
            v.chop(1);
    }
    value = v.toString();
    return true;
}

} // namespace

QString TIniFile::ReadString(const QString& section, const QString& key,
                             const QString& defaultValue) const {
    QString value;
    return Lookup(m_fileName, section, key, value) ? value : defaultValue;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    QString text;
    int value = 0;
    if (!Lookup(m_fileName, section, key, text) || !ReadWholeNumber(text, value))
        return defaultValue;
    return value;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    Modify(m_fileName, true, [&](Document& doc) { return doc.Set(section, key, value); });
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    Modify(m_fileName, false, [&](Document& doc) { return doc.Remove(section, key); });
}

bool TIniFile::SectionExists(const QString& section) const {
    return Document::Load(m_fileName).HasSection(section);
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return Document::Load(m_fileName).Find(section, key) >= 0;
}

#include "dsm/sane/SaneCatalogue.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

namespace sanebridge {

namespace {

// The GNU .mo layout: a header of 32-bit words (magic, revision, number of strings, offsets of
// the table of original strings and of the table of translations, hash table size and
// offset), then per table one (length, offset) pair per string. The magic's byte order is the
// file's. Translations are looked up in a map of our own, so neither the sort order of the
// originals nor the hash table has to be trusted.
constexpr std::uint32_t Magic = 0x950412de;
constexpr std::uint32_t MagicSwapped = 0xde120495;
constexpr std::size_t HeaderSize = 28;

class Reader {
public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    void SetBigEndian(bool big) { m_big = big; }

    bool Word(std::uint64_t at, std::uint32_t* out) const {
        if (at > m_bytes.size() || m_bytes.size() - at < 4)
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(m_bytes.data() + at);
        *out = m_big ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                           std::uint32_t(p[2]) << 8 | p[3]
                     : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 |
                           std::uint32_t(p[1]) << 8 | p[0];
        return true;
    }

    // String `i` of the table at `table`, when it lies wholly inside the file.
    bool String(std::uint32_t table, std::uint32_t i, std::string_view* out) const {
        const std::uint64_t at = table + std::uint64_t(i) * 8;
        std::uint32_t length = 0, offset = 0;
        if (!Word(at, &length) || !Word(at + 4, &offset))
            return false;
        if (offset > m_bytes.size() || m_bytes.size() - offset < length)
            return false;
        *out = m_bytes.substr(offset, length);
        return true;
    }

    std::size_t Size() const { return m_bytes.size(); }

private:
    std::string_view m_bytes;
    bool m_big = false;
};

// A plural entry holds its forms separated by NUL bytes: the first is the singular.
std::string_view FirstForm(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

bool Fail(std::string* error, const char* reason) {
    if (error)
        *error = reason;
    return false;
}

// Whether the catalogue header (the translation of the empty text) declares UTF-8 or nothing:
// the dialog reads the translations as UTF-8.
bool CharsetIsUtf8(std::string_view header) {
    const std::string_view key = "charset=";
    const std::size_t at = header.find(key);
    if (at == std::string_view::npos)
        return true;
    std::string charset;
    for (char c : header.substr(at + key.size())) {
        if (c == '\n' || c == ';' || c == ' ' || c == '\r')
            break;
        charset += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return charset == "UTF-8" || charset == "UTF8" || charset == "ASCII" || charset == "US-ASCII" ||
           charset == "CHARSET";
}

} // namespace

MessageCatalogue MessageCatalogue::FromBytes(std::string_view bytes, std::string* error) {
    MessageCatalogue result;
    if (error)
        error->clear();
    auto fill = [&]() -> bool {
        if (bytes.size() < HeaderSize)
            return Fail(error, "zu kurz für einen Nachrichtenkatalog");
        Reader r(bytes);
        std::uint32_t magic = 0;
        r.Word(0, &magic);
        if (magic == MagicSwapped)
            r.SetBigEndian(true);
        else if (magic != Magic)
            return Fail(error, "kein GNU-Nachrichtenkatalog");
        std::uint32_t revision = 0, count = 0, originals = 0, translations = 0;
        r.Word(4, &revision);
        r.Word(8, &count);
        r.Word(12, &originals);
        r.Word(16, &translations);
        if (revision >> 16 > 1)
            return Fail(error, "unbekannte Version des Nachrichtenkatalogs");
        // Both tables must fit before any entry is read: a forged count cannot make us loop
        // over billions of entries.
        const std::uint64_t tableBytes = std::uint64_t(count) * 8;
        if (originals > r.Size() || r.Size() - originals < tableBytes || translations > r.Size() ||
            r.Size() - translations < tableBytes)
            return Fail(error, "Tabellen des Nachrichtenkatalogs außerhalb der Datei");
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string_view original, translation;
            if (!r.String(originals, i, &original) || !r.String(translations, i, &translation))
                return Fail(error, "Eintrag des Nachrichtenkatalogs außerhalb der Datei");
            original = FirstForm(original);
            translation = FirstForm(translation);
            if (original.empty()) {
                if (!CharsetIsUtf8(translation))
                    return Fail(error, "Nachrichtenkatalog nicht in UTF-8");
                continue;
            }
            // Texts with a context (context, byte 4, text) are never asked for by backends.
            if (original.find('\x04') != std::string_view::npos || translation.empty())
                continue;
            result.m_entries.emplace(std::string(original), std::string(translation));
        }
        return true;
    };
    if (!fill())
        result.m_entries.clear();
    return result;
}

MessageCatalogue MessageCatalogue::FromFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "Datei nicht lesbar";
        return {};
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > MaxFileSize) {
        if (error)
            *error = size < 0 ? "Datei nicht lesbar" : "Nachrichtenkatalog zu groß";
        return {};
    }
    in.seekg(0);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), size);
    const auto got = static_cast<std::size_t>(in.gcount());
    return FromBytes(std::string_view(bytes.data(), got), error);
}

std::string MessageCatalogue::Translate(const std::string& text) const {
    const auto it = m_entries.find(text);
    return it == m_entries.end() ? text : it->second;
}

bool MessageCatalogue::Translates(const std::string& text) const {
    const auto it = m_entries.find(text);
    return it != m_entries.end() && it->second != text;
}

const MessageCatalogue& SaneGerman() {
    static const MessageCatalogue catalogue = [] {
        // SANE's own installation first, then where distributions put it.
        const char* const folders[] = {VELMORA_SANE_LOCALEDIR, "/usr/share/locale",
                                       "/usr/local/share/locale"};
        for (const char* folder : folders) {
            const std::string path = std::string(folder) + "/de/LC_MESSAGES/sane-backends.mo";
            if (!std::ifstream(path))
                continue;
            std::string error;
            MessageCatalogue found = MessageCatalogue::FromFile(path, &error);
            if (error.empty())
                return found;
            // The dialog still works, in SANE's English: say why, for whoever reads the log.
            std::fprintf(stderr, "velmora: %s: %s\n", path.c_str(), error.c_str());
        }
        return MessageCatalogue();
    }();
    return catalogue;
}

} // namespace sanebridge

#pragma once
// SANE's German texts for the scanner dialog. Backends name their options, describe them and
// name their choices in English; SANE ships the German words in its GNU message catalogue
// (domain "sane-backends"). Velmora speaks German whatever the user's locale, and gettext
// answers only for a message locale other than "C" (and the German locale is often not even
// generated), so the catalogue is read here directly instead of through gettext.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace sanebridge {

// The translations of one compiled GNU catalogue (.mo file). The file comes from outside:
// anything damaged makes an empty catalogue (which translates nothing), never a crash.
class MessageCatalogue {
public:
    MessageCatalogue() = default;

    // `error` gets the reason when the bytes are not a catalogue Velmora can read.
    static MessageCatalogue FromBytes(std::string_view bytes, std::string* error = nullptr);
    static MessageCatalogue FromFile(const std::string& path, std::string* error = nullptr);

    // The translation of `text`, or `text` itself when the catalogue has none.
    std::string Translate(const std::string& text) const;
    // Whether the catalogue translates `text` into something else (a text shown untranslated
    // that this is true for is a forgotten translation).
    bool Translates(const std::string& text) const;
    std::size_t Size() const { return m_entries.size(); }

    // Catalogue files larger than this are refused: SANE's own are about 100 KB.
    static constexpr std::size_t MaxFileSize = 16u << 20;

private:
    std::unordered_map<std::string, std::string> m_entries;
};

// SANE's German catalogue, read on first use (thread-safe); empty when the machine has none.
const MessageCatalogue& SaneGerman();

} // namespace sanebridge

// SANE's German texts for the scanner dialog: the machine's own catalogue translates what the
// test backend and sane-airscan show, and catalogue files that are damaged or forged give an
// empty catalogue (the dialog stays in English) without reading outside the file.

#include "dsm/sane/SaneCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace sanebridge;

namespace {

struct Entry {
    std::string original, translation;
};

void PutWord(std::string& out, std::size_t at, std::uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i)
        out[at + std::size_t(i)] = static_cast<char>(big ? v >> (24 - 8 * i) : v >> (8 * i));
}

// A catalogue as msgfmt writes it: header, both tables, then every string with a NUL after it.
// Words at fixed places of it, for forging: 8 count, 12/16 table offsets, 28 + 8 i the first
// table's entry i (length, offset).
std::string Mo(std::vector<Entry> entries, bool big = false, std::uint32_t revision = 0) {
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.original < b.original; });
    const std::size_t n = entries.size();
    std::string out(28 + 16 * n, '\0');
    PutWord(out, 0, 0x950412de, big);
    PutWord(out, 4, revision, big);
    PutWord(out, 8, std::uint32_t(n), big);
    PutWord(out, 12, 28, big);
    PutWord(out, 16, std::uint32_t(28 + 8 * n), big);
    for (int table = 0; table < 2; ++table)
        for (std::size_t i = 0; i < n; ++i) {
            const std::string& s = table == 0 ? entries[i].original : entries[i].translation;
            const std::size_t at = 28 + 8 * n * std::size_t(table) + 8 * i;
            PutWord(out, at, std::uint32_t(s.size()), big);
            PutWord(out, at + 4, std::uint32_t(out.size()), big);
            out += s;
            out += '\0';
        }
    return out;
}

const std::vector<Entry> Small = {
    {"", "Content-Type: text/plain; charset=UTF-8\n"},
    {"Brightness", "Helligkeit"},
    {"file\0files", "Datei\0Dateien"}, // a plural entry: found by its singular
    {"menu\x04Open", "Öffnen"},        // with a context: never asked for
    {"Untranslated", ""},
};

} // namespace

// The machine's catalogue (libsane-common) through the one the dialog uses: the words of the
// test backend and of sane-airscan in German, texts SANE does not know unchanged.
TEST(SaneCatalogue, SanesGermanCatalogueTranslatesTheDialogsWords) {
    const MessageCatalogue& german = SaneGerman();
    ASSERT_GT(german.Size(), 1000u) << "libsane-common's sane-backends.mo is missing or unread";
    const Entry table[] = {
        // titles and values named in Velmora's own tests
        {"Brightness", "Helligkeit"},
        {"Color", "Farbe"},
        {"Flatbed", "Flachbett"},
        {"ADF Duplex", "Dokumenteneinzug mit Duplex"},
        // sane-airscan's option titles, descriptions and values
        {"Scan source", "Scanquelle"},
        {"Scan mode", "Scanmodus"},
        {"Scan resolution", "Scanauflösung"},
        {"ADF", "Automatischer Dokumenteneinzug"},
        {"Gray", "Graustufen"},
        {"Top-left x", "Links-oben x"},
        {"Bottom-right y", "Rechts-unten y"},
        {"Contrast", "Kontrast"},
        {"Shadow", "Schatten"},
        {"Highlight", "Hervorhebung"},
        {"Analog gamma correction", "Analoge Gammakorrektur"},
        {"Analog gamma-correction", "Analoge Gammakorrektur"},
        {"Negative", "Negativ"},
        {"Swap black and white", "Invertiere die Farben, z.B. tausche Schwarz gegen Weiß"},
        {"Controls the brightness of the acquired image.",
         "Stellt die Helligkeit des gewonnenen Abbilds ein."},
        // the test backend's
        {"Automatic Document Feeder", "Automatischer Dokumenteneinzug"},
        {"Default", "Standardeinstellung"},
        {"Color pattern", "Farbmuster"},
        // what SANE leaves in English (sane-airscan's feeder justification) stays as it is
        {"ADF Width Justification", "ADF Width Justification"},
        {"Left", "Left"},
        {"Velmora-Prüftext", "Velmora-Prüftext"},
        {"", ""},
    };
    for (const Entry& e : table) {
        EXPECT_EQ(german.Translate(e.original), e.translation) << e.original;
        EXPECT_EQ(german.Translates(e.original), e.original != e.translation) << e.original;
    }
}

TEST(SaneCatalogue, ReadsEitherByteOrderPluralsAndSkipsContextsAndEmptyTranslations) {
    for (const bool big : {false, true}) {
        std::string error;
        const MessageCatalogue c = MessageCatalogue::FromBytes(Mo(Small, big), &error);
        EXPECT_EQ(error, "") << big;
        EXPECT_EQ(c.Translate("Brightness"), "Helligkeit") << big;
        EXPECT_EQ(c.Translate("file"), "Datei") << big;
        EXPECT_EQ(c.Translate("Open"), "Open") << big;
        EXPECT_EQ(c.Translate(std::string("menu\x04Open")), "menu\x04Open") << big;
        EXPECT_EQ(c.Translate("Untranslated"), "Untranslated") << big;
        EXPECT_EQ(c.Size(), 2u) << big;
    }
}

// Each forged or damaged catalogue is refused as a whole, with a reason.
TEST(SaneCatalogue, DamagedOrForgedCataloguesAreRefused) {
    const std::string good = Mo(Small);
    const std::size_t firstOriginal = 28; // (length, offset) of the header entry ""
    const std::size_t brightness = firstOriginal + 8;
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"empty", ""},
        {"header cut", good.substr(0, 20)},
        {"no catalogue", std::string(64, 'x')},
        {"unknown major revision", Mo(Small, false, 2u << 16)},
        {"Latin-1 texts",
         Mo({{"", "Content-Type: text/plain; charset=ISO-8859-1\n"}, {"Color", "Farbe"}})},
    };
    auto forged = [&](const char* what, std::size_t at, std::uint32_t v) {
        std::string bytes = good;
        PutWord(bytes, at, v, false);
        cases.push_back({what, bytes});
    };
    forged("count beyond the tables", 8, 0xFFFFFFFF);
    forged("originals table beyond the file", 12, 0xFFFFFFF8);
    forged("translations table beyond the file", 16, std::uint32_t(good.size()) - 4);
    forged("string beyond the file", brightness + 4, std::uint32_t(good.size()));
    forged("string longer than the file", brightness, 0xFFFFFFFF);
    forged("offset plus length wraps around", brightness + 4, 0xFFFFFFF0);
    for (const Case& c : cases) {
        std::string error;
        const MessageCatalogue catalogue = MessageCatalogue::FromBytes(c.bytes, &error);
        EXPECT_EQ(catalogue.Size(), 0u) << c.what;
        EXPECT_NE(error, "") << c.what;
        EXPECT_EQ(catalogue.Translate("Brightness"), "Brightness") << c.what;
    }

    // Cut anywhere before the last string's end: refused (the NUL after it is not needed).
    for (std::size_t n = 0; n + 1 < good.size(); ++n)
        EXPECT_EQ(MessageCatalogue::FromBytes(good.substr(0, n)).Size(), 0u) << n;
    EXPECT_EQ(MessageCatalogue::FromBytes(good.substr(0, good.size() - 1)).Size(), 2u);
}

TEST(SaneCatalogue, FilesThatAreMissingOrNoFilesGiveAnEmptyCatalogue) {
    for (const std::string path : {"/nonexistent/sane-backends.mo", "/tmp", "/dev/null"}) {
        std::string error;
        EXPECT_EQ(MessageCatalogue::FromFile(path, &error).Size(), 0u) << path;
        EXPECT_NE(error, "") << path;
    }
}

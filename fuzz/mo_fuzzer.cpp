// Feeds arbitrary bytes as a GNU message catalogue (SANE's German texts for the scanner dialog)
// through the catalogue reader. Besides crashes and memory errors, a catalogue that is refused
// yet translates something is a finding. Seeds from fuzz/make_mo_corpus.sh.

#include "dsm/sane/SaneCatalogue.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const sanebridge::MessageCatalogue catalogue = sanebridge::MessageCatalogue::FromBytes(
        std::string_view(reinterpret_cast<const char*>(data), size), &error);
    if (!error.empty() && catalogue.Size() != 0)
        std::abort();
    // The seeds' own texts: looked up in whatever came out.
    for (const char* text : {"Brightness", "ADF Duplex", "%d page", "Open", ""})
        if (catalogue.Translate(text).empty() != (*text == '\0'))
            std::abort();
    return 0;
}

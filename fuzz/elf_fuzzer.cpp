// Feeds arbitrary bytes as an ELF file through the section reader the version information uses.
// Besides crashes and memory errors, a section handed back that is not a slice of the input is
// a finding. Any small ELF program (a build of test_versioninfo, say) makes a good seed.

#include "platform/ElfVersion.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView image(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray section;
    if (ElfVersion::ReadSectionFromImage(image, ".velmora_version", section) &&
        !section.isEmpty() && image.indexOf(section) < 0)
        std::abort();
    // A limit below the section's size must refuse it, never cut it.
    QByteArray limited;
    if (ElfVersion::ReadSectionFromImage(image, ".velmora_version", limited, 16) &&
        limited.size() > 16)
        std::abort();
    return 0;
}

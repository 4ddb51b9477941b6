// Feeds arbitrary bytes as a BMP file through DecodeBmpFile.

#include "layout/Dib.h"
#include "platform/Errors.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const QImage image = DecodeBmpFile(file);
        // Touch the result so a decoder that returned a broken image is caught here.
        if (!image.isNull())
            (void)image.pixel(image.width() - 1, image.height() - 1);
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}

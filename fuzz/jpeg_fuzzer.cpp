// Feeds arbitrary bytes as a JPEG file through DecodeJpeg. A clean picture or EJPEG are the only
// acceptable outcomes; a picture that decodes must also encode, and its encoding decode again at
// the same size.

#include "pictures/Jpeg.h"
#include "platform/Errors.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QImage image;
    try {
        image = DecodeJpeg(file);
    } catch (const EJPEG&) {
        return 0;
    }
    if (image.isNull() || (image.format() != QImage::Format_RGB888 &&
                           image.format() != QImage::Format_Indexed8))
        std::abort();
    (void)image.pixel(image.width() - 1, image.height() - 1);
    if (DecodeJpeg(EncodeJpeg(image)).size() != image.size())
        std::abort();
    return 0;
}

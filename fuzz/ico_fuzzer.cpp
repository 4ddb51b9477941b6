// Feeds arbitrary bytes as an icon file through DecodeIconFile and IconToBitmap, the way opening
// an .ico file does. A picture no larger than an icon may be or "Ungültiges Symbol" are the only
// acceptable outcomes.

#include "pictures/IconFile.h"
#include "pictures/PictureFiles.h"
#include "platform/Errors.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QImage icon;
    try {
        icon = DecodeIconFile(file);
    } catch (const EInvalidGraphic&) {
        return 0;
    }
    if (icon.isNull() || icon.width() > 4096 || icon.height() > 4096)
        std::abort();
    const QImage bitmap = IconToBitmap(icon);
    if (bitmap.size() != icon.size() || bitmap.format() != QImage::Format_RGB888)
        std::abort();
    return 0;
}

// Feeds arbitrary bytes as a packed DIB through DIBToGraphic, the way a scanner transfer or the
// clipboard does. Anything but a clean picture or EInvalidGraphic is a finding, and so is a
// block left locked, changed in size, or changed at all by a refused load.

#include "layout/PicObj.h"
#include "platform/Errors.h"
#include "platform/MemBlock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    HGLOBAL block = MemBlock::Alloc(size);
    if (!block)
        return 0;
    if (size > 0)
        std::memcpy(block, data, size);
    TBitmap bitmap;
    try {
        DIBToGraphic(block, bitmap);
        if (bitmap.Image().isNull())
            std::abort(); // success must mean a picture
    } catch (const EInvalidGraphic&) {
        if (!bitmap.Image().isNull() || (size > 0 && std::memcmp(block, data, size) != 0))
            std::abort(); // failure must leave nothing behind
    }
    if (MemBlock::LockCount(block) != 0 || MemBlock::Size(block) != size)
        std::abort();
    MemBlock::Free(block);
    return 0;
}

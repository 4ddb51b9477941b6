// What a TWAIN source hands over: capability containers and native images. The first byte
// chooses: even bytes read a container (the next byte picks the container kind, the one after
// the requested item type), odd bytes take a native image (DIB or TIFF) and load the DIB that
// comes of it as a picture. A read past the block, a write when nothing was delivered, a crash
// or a leaked block is a finding.

#include "layout/PicObj.h"
#include "platform/Errors.h"
#include "platform/MemBlock.h"
#include "twain/TwainData.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Container(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return;
    static const std::uint16_t kinds[] = {3, 4, 5, 6}; // array, enumeration, one value, range
    const std::uint16_t conType = kinds[data[0] % 4];
    const std::uint16_t want = data[1] % 14; // TWTY_INT8 .. TWTY_STR255, and one beyond
    // An exact-size copy, so that AddressSanitizer sees every byte read past the container.
    std::vector<unsigned char> block(data + 2, data + size);
    unsigned char out[256 + 8];
    std::memset(out, 0xA5, sizeof out);
    const bool delivered = ReadCurrentItem(block.data(), block.size(), conType, want, out);
    const std::size_t itemSize = TwainItemSize(want);
    for (std::size_t i = delivered ? itemSize : 0; i < sizeof out; ++i)
        if (out[i] != 0xA5)
            std::abort(); // written beyond the item, or written without delivering
}

void NativeImage(const std::uint8_t* data, std::size_t size) {
    const std::size_t before = MemBlock::LiveBlocks();
    std::vector<unsigned char> block(data, data + size);
    HGLOBAL dib = NativeImageToDib(block.data(), block.size());
    if (dib) {
        TBitmap bitmap;
        try {
            DIBToGraphic(dib, bitmap);
        } catch (const EInvalidGraphic&) {
        }
        MemBlock::Free(dib);
    }
    if (MemBlock::LiveBlocks() != before)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    if (data[0] % 2 == 0)
        Container(data + 1, size - 1);
    else
        NativeImage(data + 1, size - 1);
    return 0;
}

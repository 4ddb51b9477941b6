// Feeds arbitrary bytes as a .tiff file through DecodeRasterFile (fuzz/RasterFuzz.h).

#include "fuzz/RasterFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RasterFuzzOne(data, size, TRasterKind::Tiff);
}

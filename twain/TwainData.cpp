#include "twain/TwainData.h"

#include "twain/twainh.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <tiffio.h>
#include <vector>

std::size_t TwainItemSize(std::uint16_t itemType) {
    static const std::size_t sizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256};
    return itemType < sizeof sizes / sizeof sizes[0] ? sizes[itemType] : 0;
}

bool TwainItemTypesMatch(std::uint16_t have, std::uint16_t want) {
    if (have == want)
        return true;
    return have <= TWTY_UINT32 && want <= TWTY_UINT32 && TwainItemSize(have) == TwainItemSize(want);
}

namespace {

template <class T> T Read(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

bool ReadCurrentItem(const unsigned char* data, std::size_t size, std::uint16_t conType,
                     std::uint16_t want, void* out) {
    const std::size_t itemSize = TwainItemSize(want);
    if (!data || !out || itemSize == 0 || size < 2)
        return false;
    const auto have = Read<TW_UINT16>(data);
    if (!TwainItemTypesMatch(have, want))
        return false;
    std::size_t offset = 0;
    if (conType == TWON_ONEVALUE) {
        offset = 2;
    } else if (conType == TWON_ENUMERATION) {
        if (size < 14)
            return false;
        // Signed, as the source's fields are compared: a "negative" index delivers nothing.
        const auto numItems = static_cast<TW_INT32>(Read<TW_UINT32>(data + 2));
        const auto current = static_cast<TW_INT32>(Read<TW_UINT32>(data + 6));
        if (current < 0 || numItems <= current)
            return false;
        offset = 14 + static_cast<std::size_t>(current) * itemSize;
    } else {
        return false;
    }
    if (offset > size || size - offset < itemSize)
        return false;
    std::memcpy(out, data + offset, itemSize);
    return true;
}

namespace {

bool IsTiff(const unsigned char* data, std::size_t size) {
    return size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0);
}

// Header sizes a packed DIB may have: core, info, and the later versions.
bool IsDibHeaderSize(std::uint32_t headerSize) {
    return headerSize == 12 || headerSize == 40 || headerSize == 52 || headerSize == 56 ||
           headerSize == 64 || headerSize == 108 || headerSize == 124;
}

struct MemoryFile {
    const unsigned char* data;
    toff_t size;
    toff_t pos;
};

tsize_t ReadProc(thandle_t h, tdata_t buf, tsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (n <= 0 || f->pos >= f->size)
        return 0;
    const toff_t count = std::min<toff_t>(static_cast<toff_t>(n), f->size - f->pos);
    std::memcpy(buf, f->data + f->pos, static_cast<std::size_t>(count));
    f->pos += count;
    return static_cast<tsize_t>(count);
}
tsize_t WriteProc(thandle_t, tdata_t, tsize_t) {
    return 0;
}
toff_t SeekProc(thandle_t h, toff_t off, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    toff_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
    if (off > std::numeric_limits<toff_t>::max() - base)
        return static_cast<toff_t>(-1);
    f->pos = base + off;
    return f->pos;
}
int CloseProc(thandle_t) {
    return 0;
}
toff_t SizeProc(thandle_t h) {
    return static_cast<MemoryFile*>(h)->size;
}
int MapProc(thandle_t, tdata_t*, toff_t*) {
    return 0;
}
void UnmapProc(thandle_t, tdata_t, toff_t) {}

std::int32_t PelsPerMetre(float resolution, std::uint16_t unit) {
    double perMetre = 0;
    if (unit == RESUNIT_INCH)
        perMetre = resolution / 0.0254;
    else if (unit == RESUNIT_CENTIMETER)
        perMetre = resolution * 100.0;
    if (!(perMetre > 0) || perMetre > 1e7)
        return 0;
    return static_cast<std::int32_t>(std::lround(perMetre));
}

HGLOBAL TiffToDib(const unsigned char* data, std::size_t size) {
    // libtiff would otherwise print every complaint about a damaged file on standard error.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    MemoryFile file{data, static_cast<toff_t>(size), 0};
    TIFF* tif = TIFFClientOpen("native image", "rm", &file, ReadProc, WriteProc, SeekProc,
                               CloseProc, SizeProc, MapProc, UnmapProc);
    if (!tif)
        return nullptr;
    HGLOBAL dib = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    const long long pixels = static_cast<long long>(width) * height;
    if (width > 0 && height > 0 && width <= 0x7FFFFFFF / 3 && height <= 0x7FFFFFFF &&
        pixels <= MaxTiffPixels) {
        std::vector<std::uint32_t> raster;
        raster.resize(static_cast<std::size_t>(pixels));
        // Bottom-left orientation gives the rows in a DIB's bottom-up order.
        if (TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_BOTLEFT, 0)) {
            const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
            const std::size_t bits = stride * height;
            dib = MemBlock::Alloc(40 + bits);
            if (dib) {
                auto* p = static_cast<unsigned char*>(dib);
                float xres = 0;
                float yres = 0;
                std::uint16_t unit = RESUNIT_INCH;
                TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
                TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres);
                TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
                const std::uint32_t header[] = {40, width, height};
                std::memcpy(p, header, sizeof header);
                const std::uint16_t planes[] = {1, 24};
                std::memcpy(p + 12, planes, sizeof planes);
                const auto sizeImage = static_cast<std::uint32_t>(bits);
                std::memcpy(p + 20, &sizeImage, 4);
                const std::int32_t ppm[] = {PelsPerMetre(xres, unit), PelsPerMetre(yres, unit)};
                std::memcpy(p + 24, ppm, sizeof ppm);
                for (std::uint32_t y = 0; y < height; ++y) {
                    unsigned char* row = p + 40 + y * stride;
                    const std::uint32_t* src = raster.data() + static_cast<std::size_t>(y) * width;
                    for (std::uint32_t x = 0; x < width; ++x) {
                        row[x * 3] = static_cast<unsigned char>(TIFFGetB(src[x]));
                        row[x * 3 + 1] = static_cast<unsigned char>(TIFFGetG(src[x]));
                        row[x * 3 + 2] = static_cast<unsigned char>(TIFFGetR(src[x]));
                    }
                }
            }
        }
    }
    TIFFClose(tif);
    return dib;
}

} // namespace

HGLOBAL NativeImageToDib(const unsigned char* data, std::size_t size) {
    if (!data || size < 4)
        return nullptr;
    if (IsTiff(data, size))
        return TiffToDib(data, size);
    const auto headerSize = Read<std::uint32_t>(data);
    if (!IsDibHeaderSize(headerSize) || size < headerSize)
        return nullptr;
    HGLOBAL dib = MemBlock::Alloc(size);
    if (dib)
        std::memcpy(dib, data, size);
    return dib;
}

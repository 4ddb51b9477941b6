#pragma once
// What a TWAIN source hands over, read as untrusted bytes: capability containers and native
// images. Every size and index is checked against the bytes really there.

#include "platform/MemBlock.h"

#include <cstddef>
#include <cstdint>

// Size in bytes of an item of a TWTY_* type (TWTY_INT8 .. TWTY_STR255); 0 for other types.
std::size_t TwainItemSize(std::uint16_t itemType);

// A container item of type `have` reads as a request for `want`: the same type, or integers of
// the same size (a signed item reads as its unsigned twin and the reverse).
bool TwainItemTypesMatch(std::uint16_t have, std::uint16_t want);

// Copies the current item of a container (TWON_ONEVALUE, or TWON_ENUMERATION at CurrentIndex)
// of `size` bytes at `data` into `out` (TwainItemSize(want) bytes). False, with nothing written,
// for other containers, a mismatching item type, an index out of range or a block too small.
bool ReadCurrentItem(const unsigned char* data, std::size_t size, std::uint16_t conType,
                     std::uint16_t want, void* out);

// A native image of `size` bytes as a packed DIB in a new memory block: a DIB is copied after
// checking that its header fits, a TIFF (as vendor drivers on Linux deliver) is decoded into a
// 24-bit DIB. nullptr for anything else, or a TIFF that does not decode.
HGLOBAL NativeImageToDib(const unsigned char* data, std::size_t size);

// Largest TIFF page decoded, in pixels: the decoder needs four bytes a pixel at once.
constexpr long long MaxTiffPixels = 150LL * 1000 * 1000;

// A PNG file of 8-bit RGBA from BGRA pixels, written without a compression library:
// the zlib stream holds the rows in "stored" deflate blocks (no compression). An icon's
// 256-pixel image is stored as PNG only so that the platform reads it as that size; its
// few hundred kilobytes are the price of no dependency, and every PNG reader takes stored
// blocks. Free of <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "PictureScaling.h"

namespace orvane {

// CRC-32 as PNG chunks and zip use it (polynomial 0xEDB88320), continued from `crc`.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

// Adler-32 as zlib streams end with it.
std::uint32_t Adler32(const std::uint8_t* data, std::size_t size);

// The whole PNG file of the picture (straight alpha, as PNG keeps it). Throws
// std::bad_alloc when memory runs out.
std::vector<std::uint8_t> EncodePng(const Picture& picture);

} // namespace orvane

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

// Adler-32 as zlib streams end with it, continued from `adler`.
std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);

// The whole PNG file of the picture (straight alpha, as PNG keeps it). Throws
// std::bad_alloc when memory runs out.
std::vector<std::uint8_t> EncodePng(const Picture& picture);

// The bytes EncodePng gives, counted without encoding.
std::size_t EncodedPngSize(const Picture& picture);

// The PNG file of the picture appended to `out`, with no copy of its own: reserve
// EncodedPngSize first to have no copy at all. Throws std::bad_alloc when memory runs
// out.
void PutPng(std::vector<std::uint8_t>& out, const Picture& picture);

} // namespace orvane

#include "PictureHeader.h"

#include <cstring>

namespace orvane {

namespace {

std::uint32_t Big(const std::uint8_t* p, int bytes)
{
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

std::uint32_t Little(const std::uint8_t* p, int bytes)
{
    std::uint32_t value = 0;
    for (int i = bytes; i-- > 0;)
        value = (value << 8) | p[i];
    return value;
}

bool Starts(const std::uint8_t* head, std::size_t size, const char* signature, std::size_t length)
{
    return size >= length && std::memcmp(head, signature, length) == 0;
}

PictureHeader Sized(std::uint32_t width, std::uint32_t height) { return {true, true, width, height}; }

// The frame header (SOF0 to SOF15, without DHT C4, JPG C8 and DAC CC): precision, then
// height and width, big-endian.
PictureHeader JpegHeader(const std::uint8_t* head, std::size_t size)
{
    std::size_t at = 2;
    while (at + 4 <= size && head[at] == 0xFF) {
        const std::uint8_t marker = head[at + 1];
        const std::size_t length = Big(head + at + 2, 2);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return at + 9 <= size ? Sized(Big(head + at + 7, 2), Big(head + at + 5, 2)) : PictureHeader{true};
        if (marker == 0xDA || length < 2)
            break;
        at += 2 + length;
    }
    return PictureHeader{true};
}

// BITMAPCOREHEADER (12 bytes, 16-bit sides) or BITMAPINFOHEADER and later (32-bit sides,
// a negative height for top-down rows).
PictureHeader BmpHeader(const std::uint8_t* head, std::size_t size)
{
    if (size < 26)
        return PictureHeader{true};
    if (Little(head + 14, 4) == 12)
        return Sized(Little(head + 18, 2), Little(head + 20, 2));
    const auto height = static_cast<std::int32_t>(Little(head + 22, 4));
    const auto width = static_cast<std::int32_t>(Little(head + 18, 4));
    const auto side = [](std::int32_t v) { return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v); };
    return Sized(side(width), side(height));
}

} // namespace

PictureHeader ReadPictureHeader(const std::uint8_t* head, std::size_t size)
{
    if (head == nullptr)
        return {};
    if (Starts(head, size, "\x89PNG\r\n\x1A\n", 8))
        return size >= 24 && std::memcmp(head + 12, "IHDR", 4) == 0 ? Sized(Big(head + 16, 4), Big(head + 20, 4))
                                                                     : PictureHeader{true};
    if (Starts(head, size, "\xFF\xD8", 2))
        return JpegHeader(head, size);
    if (Starts(head, size, "GIF87a", 6) || Starts(head, size, "GIF89a", 6))
        return size >= 10 ? Sized(Little(head + 6, 2), Little(head + 8, 2)) : PictureHeader{true};
    if (Starts(head, size, "BM", 2))
        return BmpHeader(head, size);
    if (Starts(head, size, "II*\0", 4) || Starts(head, size, "MM\0*", 4))
        return PictureHeader{true};
    return {};
}

} // namespace orvane

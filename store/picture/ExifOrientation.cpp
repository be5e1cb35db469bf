#include "ExifOrientation.h"

namespace orvane {

namespace {

constexpr std::uint16_t OrientationTag = 274;
constexpr std::uint16_t ShortType = 3;

// TIFF data in either byte order ("II" little-endian, "MM" big-endian).
struct Tiff {
    const std::uint8_t* Data;
    std::size_t Size;
    bool Little;
    bool Has(std::size_t at, std::size_t bytes) const { return at <= Size && bytes <= Size - at; }
    std::uint32_t Read(std::size_t at, int bytes) const
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint32_t>(Data[at + i]) << (8 * (Little ? i : bytes - 1 - i));
        return value;
    }
};

// The orientation in the first image file directory of an EXIF block's TIFF data.
unsigned TiffOrientation(const std::uint8_t* data, std::size_t size)
{
    if (size < 8 || data[0] != data[1] || (data[0] != 'I' && data[0] != 'M'))
        return 0;
    const Tiff tiff{data, size, data[0] == 'I'};
    if (tiff.Read(2, 2) != 42)
        return 0;
    const std::size_t directory = tiff.Read(4, 4);
    if (!tiff.Has(directory, 2))
        return 0;
    const std::uint32_t count = tiff.Read(directory, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = directory + 2 + 12 * static_cast<std::size_t>(i);
        if (!tiff.Has(entry, 12))
            return 0;
        if (tiff.Read(entry, 2) == OrientationTag && tiff.Read(entry + 2, 2) == ShortType) {
            const std::uint32_t value = tiff.Read(entry + 8, 2);
            return value >= 1 && value <= 8 ? value : 0;
        }
    }
    return 0;
}

} // namespace

unsigned JpegExifOrientation(const std::uint8_t* head, std::size_t size)
{
    static const std::uint8_t exif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (head == nullptr || size < 4 || head[0] != 0xFF || head[1] != 0xD8)
        return 0;
    // Segments: FF, marker, big-endian length that counts itself; the image data (SOS,
    // FF DA) ends the headers.
    std::size_t at = 2;
    while (at + 4 <= size && head[at] == 0xFF && head[at + 1] != 0xDA) {
        const std::size_t length = (static_cast<std::size_t>(head[at + 2]) << 8) | head[at + 3];
        if (length < 2 || length > size - at - 2)
            return 0;
        const std::uint8_t* body = head + at + 4;
        const std::size_t bodySize = length - 2;
        if (head[at + 1] == 0xE1 && bodySize >= sizeof exif) {
            bool isExif = true;
            for (std::size_t i = 0; i < sizeof exif; ++i)
                isExif = isExif && body[i] == exif[i];
            if (isExif)
                return TiffOrientation(body + sizeof exif, bodySize - sizeof exif);
        }
        at += 2 + length;
    }
    return 0;
}

} // namespace orvane

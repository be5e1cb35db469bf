#include "IconFileMaker.h"

#include "IconFileCheck.h"
#include "PngEncoding.h"

namespace orvane {

namespace {

constexpr std::uint32_t BitmapHeaderSize = 40;
// From this size on an image is stored as PNG.
constexpr std::uint32_t PngFromSize = 256;

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One directory entry; a width or height of 256 is written as 0.
void PutEntry(std::vector<std::uint8_t>& out, std::uint32_t size, std::uint32_t bytes, std::uint32_t offset)
{
    const std::uint8_t side = static_cast<std::uint8_t>(size >= 256 ? 0 : size);
    out.insert(out.end(), {side, side, 0, 0});
    PutLittleEndian(out, 1, 2);  // planes
    PutLittleEndian(out, 32, 2); // bits a pixel
    PutLittleEndian(out, bytes, 4);
    PutLittleEndian(out, offset, 4);
}

} // namespace

std::vector<std::uint8_t> IconBitmap(const Picture& square)
{
    const std::uint32_t size = square.Width;
    const std::uint32_t maskStride = (size + 31) / 32 * 4;
    std::vector<std::uint8_t> out;
    out.reserve(BitmapHeaderSize + 4u * size * size + maskStride * size);
    PutLittleEndian(out, BitmapHeaderSize, 4);
    PutLittleEndian(out, size, 4);
    PutLittleEndian(out, 2 * size, 4);
    PutLittleEndian(out, 1, 2);
    PutLittleEndian(out, 32, 2);
    PutLittleEndian(out, 0, 4); // BI_RGB
    PutLittleEndian(out, 4u * size * size + maskStride * size, 4);
    out.insert(out.end(), 16, 0); // resolution and palette counts
    for (std::uint32_t y = size; y-- > 0;) {
        const auto row = square.Bgra.begin() + 4u * static_cast<std::size_t>(y) * size;
        out.insert(out.end(), row, row + 4u * size);
    }
    for (std::uint32_t y = size; y-- > 0;) {
        std::vector<std::uint8_t> mask(maskStride, 0);
        for (std::uint32_t x = 0; x < size; ++x)
            if (square.Bgra[4u * (static_cast<std::size_t>(y) * size + x) + 3] == 0)
                mask[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), mask.begin(), mask.end());
    }
    return out;
}

std::vector<std::uint8_t> MakeIconFile(const Picture& picture)
{
    return IconFileOfSquares(ScaleIntoSquares(picture, IconFileSizes));
}

std::vector<std::uint8_t> IconFileOfSquares(const std::vector<Picture>& squares)
{
    std::vector<std::vector<std::uint8_t>> images;
    for (const Picture& square : squares)
        images.push_back(square.Width >= PngFromSize ? EncodePng(square) : IconBitmap(square));
    std::vector<std::uint8_t> file;
    PutLittleEndian(file, 0, 2);
    PutLittleEndian(file, 1, 2); // an icon, not a cursor
    PutLittleEndian(file, static_cast<std::uint32_t>(images.size()), 2);
    std::size_t offset = IconFileHeaderSize + IconFileEntrySize * images.size();
    for (std::size_t i = 0; i < images.size(); ++i) {
        PutEntry(file, squares[i].Width, static_cast<std::uint32_t>(images[i].size()), static_cast<std::uint32_t>(offset));
        offset += images[i].size();
    }
    for (const auto& image : images)
        file.insert(file.end(), image.begin(), image.end());
    return file;
}

} // namespace orvane

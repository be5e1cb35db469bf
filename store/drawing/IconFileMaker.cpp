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

// The bytes of the image of `size` pixels as a bitmap with its mask.
std::size_t BitmapBytes(std::uint32_t size)
{
    const std::size_t maskStride = (size + 31) / 32 * 4;
    return BitmapHeaderSize + (4u * size + maskStride) * size;
}

void PutIconBitmap(std::vector<std::uint8_t>& out, const Picture& square)
{
    const std::uint32_t size = square.Width;
    const std::uint32_t maskStride = (size + 31) / 32 * 4;
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
        const std::size_t maskAt = out.size();
        out.insert(out.end(), maskStride, 0);
        for (std::uint32_t x = 0; x < size; ++x)
            if (square.Bgra[4u * (static_cast<std::size_t>(y) * size + x) + 3] == 0)
                out[maskAt + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
}

} // namespace

std::vector<std::uint8_t> IconBitmap(const Picture& square)
{
    std::vector<std::uint8_t> out;
    out.reserve(BitmapBytes(square.Width));
    PutIconBitmap(out, square);
    return out;
}

std::vector<std::uint8_t> MakeIconFile(const Picture& picture)
{
    return IconFileOfSquares(ScaleIntoSquares(picture, IconFileSizes));
}

std::vector<std::uint8_t> IconFileOfSquares(const std::vector<Picture>& squares)
{
    // The images are put straight into the file, whose size is counted first: the file
    // is the only copy of them.
    std::vector<std::size_t> sizes;
    sizes.reserve(squares.size());
    std::size_t total = IconFileHeaderSize + IconFileEntrySize * squares.size();
    for (const Picture& square : squares) {
        sizes.push_back(square.Width >= PngFromSize ? EncodedPngSize(square) : BitmapBytes(square.Width));
        total += sizes.back();
    }
    std::vector<std::uint8_t> file;
    file.reserve(total);
    PutLittleEndian(file, 0, 2);
    PutLittleEndian(file, 1, 2); // an icon, not a cursor
    PutLittleEndian(file, static_cast<std::uint32_t>(squares.size()), 2);
    std::size_t offset = IconFileHeaderSize + IconFileEntrySize * squares.size();
    for (std::size_t i = 0; i < squares.size(); ++i) {
        PutEntry(file, squares[i].Width, static_cast<std::uint32_t>(sizes[i]), static_cast<std::uint32_t>(offset));
        offset += sizes[i];
    }
    for (const Picture& square : squares) {
        if (square.Width >= PngFromSize)
            PutPng(file, square);
        else
            PutIconBitmap(file, square);
    }
    return file;
}

} // namespace orvane

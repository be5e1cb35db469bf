#include "PngEncoding.h"

#include <algorithm>
#include <array>

namespace orvane {

namespace {

// A stored deflate block holds at most 65,535 bytes.
constexpr std::size_t StoredBlockLimit = 65535;

const std::array<std::uint32_t, 256>& CrcTable()
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> made{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            made[n] = c;
        }
        return made;
    }();
    return table;
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The bytes a row takes behind its filter byte, and all rows together.
std::size_t RowBytes(const Picture& picture) { return 1u + 4u * std::size_t{picture.Width}; }
std::size_t RawBytes(const Picture& picture) { return RowBytes(picture) * picture.Height; }

// The zlib stream of the rows: header (deflate, 32 KiB window, no dictionary), stored
// blocks each behind its length and that length's complement, Adler-32 of the rows.
std::size_t ZlibBytes(std::size_t raw)
{
    const std::size_t blocks = raw == 0 ? 1 : (raw + StoredBlockLimit - 1) / StoredBlockLimit;
    return 2 + 5 * blocks + raw + 4;
}

void PutBlockHeader(std::vector<std::uint8_t>& out, std::size_t length, bool last)
{
    out.insert(out.end(), {static_cast<std::uint8_t>(last ? 1 : 0), static_cast<std::uint8_t>(length),
                           static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(~length),
                           static_cast<std::uint8_t>(~length >> 8)});
}

// The rows written straight into stored blocks, a row at a time, each row behind its
// filter byte (0: none) in the order red, green, blue, alpha.
void PutStoredZlib(std::vector<std::uint8_t>& out, const Picture& picture)
{
    const std::size_t raw = RawBytes(picture);
    out.insert(out.end(), {0x78, 0x01});
    std::vector<std::uint8_t> row(RowBytes(picture));
    std::size_t left = raw, blockLeft = 0;
    std::uint32_t adler = 1;
    const auto put = [&](const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            if (blockLeft == 0) {
                blockLeft = std::min(StoredBlockLimit, left);
                PutBlockHeader(out, blockLeft, blockLeft == left);
            }
            const std::size_t part = std::min(size, blockLeft);
            out.insert(out.end(), data, data + part);
            data += part;
            size -= part;
            blockLeft -= part;
            left -= part;
        }
    };
    if (raw == 0)
        PutBlockHeader(out, 0, true);
    for (std::uint32_t y = 0; y < picture.Height; ++y) {
        const std::uint8_t* pixel = picture.Bgra.data() + 4u * std::size_t{picture.Width} * y;
        row[0] = 0;
        for (std::uint32_t x = 0; x < picture.Width; ++x, pixel += 4) {
            row[1 + 4 * x] = pixel[2];
            row[2 + 4 * x] = pixel[1];
            row[3 + 4 * x] = pixel[0];
            row[4 + 4 * x] = pixel[3];
        }
        adler = Adler32(row.data(), row.size(), adler);
        put(row.data(), row.size());
    }
    PutBigEndian(out, adler);
}

// A chunk: length, type, data put by `data`, and the CRC of type and data.
template <typename Data>
void PutChunk(std::vector<std::uint8_t>& out, const char* type, std::size_t size, Data data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(size));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    data();
    PutBigEndian(out, Crc32(out.data() + typeAt, out.size() - typeAt));
}

constexpr std::size_t SignatureBytes = 8, ChunkFrameBytes = 12, HeaderBytes = 13;

} // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    const auto& table = CrcTable();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler)
{
    // 5552 bytes is the most that can be summed before b could pass 2^32.
    constexpr std::size_t Run = 5552;
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (size > 0) {
        const std::size_t run = std::min(size, Run);
        for (std::size_t i = 0; i < run; ++i) {
            a += data[i];
            b += a;
        }
        a %= 65521;
        b %= 65521;
        data += run;
        size -= run;
    }
    return (b << 16) | a;
}

std::size_t EncodedPngSize(const Picture& picture)
{
    return SignatureBytes + ChunkFrameBytes + HeaderBytes + ChunkFrameBytes + ZlibBytes(RawBytes(picture)) + ChunkFrameBytes;
}

void PutPng(std::vector<std::uint8_t>& out, const Picture& picture)
{
    out.insert(out.end(), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
    PutChunk(out, "IHDR", HeaderBytes, [&] {
        PutBigEndian(out, picture.Width);
        PutBigEndian(out, picture.Height);
        // 8 bits a channel, colour type 6 (RGBA), deflate, adaptive filtering, no interlace.
        out.insert(out.end(), {8, 6, 0, 0, 0});
    });
    PutChunk(out, "IDAT", ZlibBytes(RawBytes(picture)), [&] { PutStoredZlib(out, picture); });
    PutChunk(out, "IEND", 0, [] {});
}

std::vector<std::uint8_t> EncodePng(const Picture& picture)
{
    std::vector<std::uint8_t> png;
    png.reserve(EncodedPngSize(picture));
    PutPng(png, picture);
    return png;
}

} // namespace orvane

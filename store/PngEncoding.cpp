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

// A chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(out.data() + typeAt, out.size() - typeAt));
}

// Each row behind its filter byte (0: none), red, green, blue, alpha.
std::vector<std::uint8_t> FilteredRows(const Picture& picture)
{
    std::vector<std::uint8_t> rows;
    rows.reserve((4u * picture.Width + 1u) * picture.Height);
    for (std::size_t i = 0; i < static_cast<std::size_t>(picture.Width) * picture.Height; ++i) {
        if (i % picture.Width == 0)
            rows.push_back(0);
        const std::uint8_t* pixel = picture.Bgra.data() + 4 * i;
        rows.insert(rows.end(), {pixel[2], pixel[1], pixel[0], pixel[3]});
    }
    return rows;
}

// zlib header (deflate, 32 KiB window, no dictionary), stored blocks, Adler-32.
std::vector<std::uint8_t> StoredZlib(const std::vector<std::uint8_t>& raw)
{
    std::vector<std::uint8_t> out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = std::min(StoredBlockLimit, raw.size() - at);
        const bool last = at + length == raw.size();
        out.push_back(last ? 1 : 0);
        out.insert(out.end(), {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                               static_cast<std::uint8_t>(~length), static_cast<std::uint8_t>(~length >> 8)});
        out.insert(out.end(), raw.begin() + at, raw.begin() + at + length);
        at += length;
    } while (at < raw.size());
    PutBigEndian(out, Adler32(raw.data(), raw.size()));
    return out;
}

} // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc)
{
    const auto& table = CrcTable();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t Adler32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t a = 1, b = 0;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::vector<std::uint8_t> EncodePng(const Picture& picture)
{
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBigEndian(header, picture.Width);
    PutBigEndian(header, picture.Height);
    // 8 bits a channel, colour type 6 (RGBA), deflate, adaptive filtering, no interlace.
    header.insert(header.end(), {8, 6, 0, 0, 0});
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(FilteredRows(picture)));
    PutChunk(png, "IEND", {});
    return png;
}

} // namespace orvane

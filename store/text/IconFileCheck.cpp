#include "IconFileCheck.h"

namespace orvane {

namespace {

// Icon files are little-endian whatever the machine that reads them.
std::uint32_t Word(const unsigned char* p) { return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8); }

std::uint32_t DoubleWord(const unsigned char* p) { return Word(p) | (Word(p + 2) << 16); }

} // namespace

bool ReadsAsIconFile(const unsigned char* head, std::size_t size)
{
    if (head == nullptr || size < 4)
        return false;
    if (head[0] == 'M' && head[1] == 'Z')
        return false;
    const std::uint32_t type = Word(head + 2);
    return type == 1 || type == 2;
}

std::size_t IconDirectoryExtent(const unsigned char* head, std::size_t size)
{
    if (head == nullptr || size < IconFileHeaderSize)
        return 0;
    return IconFileHeaderSize + IconFileEntrySize * static_cast<std::size_t>(Word(head + 4));
}

bool IconDirectoryFits(const unsigned char* head, std::size_t size, std::uint64_t fileSize)
{
    if (head == nullptr || size < IconFileHeaderSize || size > fileSize)
        return false;
    const std::uint32_t type = Word(head + 2);
    const std::uint32_t count = Word(head + 4);
    if (Word(head) != 0 || (type != 1 && type != 2) || count == 0)
        return false;
    const std::uint64_t directoryEnd = IconFileHeaderSize + std::uint64_t{IconFileEntrySize} * count;
    if (directoryEnd > fileSize || directoryEnd > size)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* entry = head + IconFileHeaderSize + IconFileEntrySize * i;
        // 64-bit sums: offset and size are each up to 2^32 - 1, and their 32-bit sum
        // would wrap back into the file.
        const std::uint64_t bytes = DoubleWord(entry + 8);
        const std::uint64_t offset = DoubleWord(entry + 12);
        if (bytes == 0 || offset < directoryEnd || offset + bytes > fileSize)
            return false;
    }
    return true;
}

} // namespace orvane

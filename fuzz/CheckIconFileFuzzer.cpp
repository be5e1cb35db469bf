// Feeds arbitrary bytes to the icon file directory check as a whole file, and again as
// the file's first bytes only (what the caller reads of a large file), and checks that
// an accepted directory really lies inside the file: any read beyond the input is caught
// by the address sanitizer.
#include <cstdint>
#include <cstdlib>

#include "IconFileCheck.h"

using namespace orvane;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::uint64_t Field(const std::uint8_t* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool fits = IconDirectoryFits(data, size, size);
    const std::size_t extent = IconDirectoryExtent(data, size);
    // The head given to the check may be shorter than the file: enough for the directory
    // gives the same answer, too little refuses.
    if (extent != 0 && extent <= size)
        Check(IconDirectoryFits(data, extent, size) == fits);
    if (size > 0)
        Check(!IconDirectoryFits(data, size - 1, size) || (fits && extent <= size - 1));
    if (!fits)
        return 0;
    Check(ReadsAsIconFile(data, size));
    Check(extent >= IconFileHeaderSize + IconFileEntrySize && extent <= size);
    const std::uint64_t count = Field(data + 4, 2);
    Check(Field(data, 2) == 0 && count > 0);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = data + IconFileHeaderSize + IconFileEntrySize * i;
        const std::uint64_t bytes = Field(entry + 8, 4);
        const std::uint64_t offset = Field(entry + 12, 4);
        Check(bytes > 0 && offset >= extent && offset + bytes <= size);
        // What the platform's parser reads of the image is inside the input.
        volatile std::uint8_t first = data[offset];
        volatile std::uint8_t last = data[offset + bytes - 1];
        (void)first;
        (void)last;
    }
    return 0;
}

#include "Fnv1a.h"

namespace orvane {

std::uint64_t Fnv1a64(const std::uint8_t* bytes, std::size_t size)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace orvane

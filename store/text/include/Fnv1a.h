// The 64-bit FNV-1a hash of bytes: what names a made icon after its content, and what
// tells whether a Desktop.ini is still as this product left it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

std::uint64_t Fnv1a64(const std::uint8_t* bytes, std::size_t size);

} // namespace orvane

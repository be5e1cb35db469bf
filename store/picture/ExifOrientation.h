// The EXIF orientation (tag 274) of a JPEG file, read from its bytes. Wine's imaging
// component gives JPEG frames no metadata, so the orientation that Windows' component
// reports through the frame's query reader is read here where that reports none. Only
// the file's head is needed: EXIF sits in an APP1 segment before the image data. Free of
// <windows.h>, and never reads beyond the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

// The orientation (1 to 8) in the first EXIF block of the JPEG whose first `size` bytes
// are `head`; 0 when there is none (not a JPEG, no EXIF, no tag 274, a value out of range,
// or the block cut off).
unsigned JpegExifOrientation(const std::uint8_t* head, std::size_t size);

} // namespace orvane

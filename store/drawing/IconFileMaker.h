// The bytes of an icon file (.ico) made from a picture: one square image at each of the
// sizes Windows asks for (IconFileSizes), the picture fitted into each with its aspect
// ratio kept (see PictureScaling.h). The 256-pixel image is a PNG, as Windows since
// Vista stores it; the others are 32-bit bitmaps with their AND masks, which every
// reader of icons takes. Free of <windows.h>.
#pragma once

#include <cstdint>
#include <vector>

#include "PictureScaling.h"

namespace orvane {

// Small icons at 100%, 125% and 150% scaling (16, 20, 24), large ones (32, 40, 48),
// Explorer's medium and large views (64, 256).
inline const std::vector<std::uint32_t> IconFileSizes{16, 20, 24, 32, 40, 48, 64, 256};

// The image of `size` pixels as an icon directory stores it: a BITMAPINFOHEADER whose
// height counts the colour rows and the mask's, the rows bottom-up in straight BGRA,
// then the AND mask (1 bit a pixel, rows padded to 32 bits, 1 where alpha is 0).
std::vector<std::uint8_t> IconBitmap(const Picture& square);

// The whole icon file of the picture. Throws std::bad_alloc when memory runs out.
std::vector<std::uint8_t> MakeIconFile(const Picture& picture);

// The icon file of square images already made at their sizes, in that order. Throws
// std::bad_alloc when memory runs out.
std::vector<std::uint8_t> IconFileOfSquares(const std::vector<Picture>& squares);

} // namespace orvane

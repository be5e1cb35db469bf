// A photo's orientation as EXIF records it (tag 274): cameras store the sensor's rows as
// they came and say how to turn them upright. Free of <windows.h>.
//   1 upright             2 mirrored left-right   3 turned 180 degrees  4 mirrored top-bottom
//   5 mirrored along the  6 to be turned 90       7 mirrored along the  8 to be turned 90
//     main diagonal         degrees clockwise       other diagonal        degrees anticlockwise
// Any other value is taken as 1.
#pragma once

#include <cstdint>

#include "PictureScaling.h"

namespace orvane {

// Whether the upright picture's width is the stored height (values 5 to 8).
bool OrientationSwapsSides(unsigned orientation);

// Copies `count` stored rows, starting at row `first` of a stored picture of `width` x
// `height`, from `rows` (straight BGRA, no padding) to their places in `upright`, which
// holds the upright picture (its sides swapped where the orientation says so).
void PlaceStoredRows(const std::uint8_t* rows, std::uint32_t first, std::uint32_t count, std::uint32_t width,
                     std::uint32_t height, unsigned orientation, Picture& upright);

} // namespace orvane

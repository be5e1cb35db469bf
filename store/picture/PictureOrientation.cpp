#include "PictureOrientation.h"

#include <cstring>

namespace orvane {

bool OrientationSwapsSides(unsigned orientation) { return orientation >= 5 && orientation <= 8; }

void PlaceStoredRows(const std::uint8_t* rows, std::uint32_t first, std::uint32_t count, std::uint32_t width,
                     std::uint32_t height, unsigned orientation, Picture& upright)
{
    const std::size_t uprightWidth = upright.Width;
    for (std::uint32_t row = 0; row < count; ++row) {
        const std::uint32_t y = first + row;
        const std::uint8_t* from = rows + 4u * static_cast<std::size_t>(row) * width;
        if (orientation < 2 || orientation > 8) {
            std::memcpy(upright.Bgra.data() + 4u * y * uprightWidth, from, 4u * width);
            continue;
        }
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t ux = x, uy = y;
            switch (orientation) {
            case 2: ux = width - 1 - x; break;
            case 3: ux = width - 1 - x; uy = height - 1 - y; break;
            case 4: uy = height - 1 - y; break;
            case 5: ux = y; uy = x; break;
            case 6: ux = height - 1 - y; uy = x; break;
            case 7: ux = height - 1 - y; uy = width - 1 - x; break;
            default: ux = y; uy = width - 1 - x; break; // 8
            }
            std::memcpy(upright.Bgra.data() + 4u * (uy * uprightWidth + ux), from + 4u * x, 4);
        }
    }
}

} // namespace orvane

// Folder colours: the named palette, colour texts ("teal", "#1E88E5"), and a folder
// picture recoloured into a colour. Where the picture comes from and how the coloured
// icon is written is FolderColourIcon.h. Free of <windows.h>.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "PictureScaling.h"

namespace orvane {

struct FolderColour {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
};

inline bool operator==(FolderColour a, FolderColour b)
{
    return a.Red == b.Red && a.Green == b.Green && a.Blue == b.Blue;
}

struct NamedColour {
    const wchar_t* Name;
    FolderColour Colour;
};

// The twelve colours offered by name, in the order a palette shows them.
const std::vector<NamedColour>& FolderPalette();

// A palette name in any case ("gray" is grey too) or "#RRGGBB" (six hex digits, any
// case). Anything else, surrounding blanks included, is none.
std::optional<FolderColour> ParseFolderColour(const wchar_t* text);

// The picture in the colour: every pixel keeps its alpha, and its lightness keeps its
// place relative to the picture's mean lightness (darker pixels stay darker, lighter
// lighter, so the shading stays), with the mean itself moved to the colour's lightness;
// hue and saturation are the colour's. Black, white and greys have no saturation, so
// their pictures are grey, only lighter or darker. Throws std::bad_alloc when memory runs
// out.
Picture RecolouredPicture(const Picture& picture, FolderColour colour);

} // namespace orvane

// A coloured folder icon: the platform's own plain-folder picture at each size of
// IconFileSizes, recoloured (FolderColour.h), written into the folder as a made icon
// (MadeIconFile.h). Uses only user32, gdi32 and shell32, so the shell extension and the
// dialog can make one without the imaging component.
//
// Where the picture comes from: the shell's stock folder icon
// (SHGetStockIconInfo(SIID_FOLDER), imageres.dll,-3 on Windows), as Explorer shows a
// plain folder. Wine 8 answers every stock icon with shell32.dll,-1, its document
// picture; when the stock folder is the stock document, the shell is asked for a plain
// folder's icon instead (SHGetFileInfo, shell32.dll,-4 on Wine). When no size can be
// read from either, a folder shape drawn here stands in at every size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FolderColour.h"
#include "PictureScaling.h"

namespace orvane {

struct IconPlace {
    std::wstring Module;
    int Index = 0;
};

// Where the platform keeps the picture of a plain folder; none when the shell says nothing.
std::optional<IconPlace> PlainFolderIconPlace();

// The icon of the module at `index` (negative: a resource id) extracted at `size`
// pixels, as straight BGRA. An icon without an alpha channel takes its mask as alpha
// (opaque or transparent). False when the module has no such icon or it cannot be read.
bool ReadIconPicture(const wchar_t* module, int index, std::uint32_t size, Picture& picture);

// A folder shape of this product's own in neutral greys with shading and soft edges.
Picture DrawnFolderPicture(std::uint32_t size);

// The plain folder's picture at every size of IconFileSizes: the platform's where every
// size reads, else the drawn one. *drawn says which. Throws std::bad_alloc.
std::vector<Picture> PlainFolderPictures(bool* drawn = nullptr);

// The bytes of the coloured folder icon file, from the plain folder's pictures as this
// process first read them. Throws std::bad_alloc.
std::vector<std::uint8_t> FolderColourIconBytes(FolderColour colour);

} // namespace orvane

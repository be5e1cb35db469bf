// A folder's made icon written inside the folder, from a picture or from a colour
// (MadeIconFile.h says how it is named, MadeIconSweep.h when it goes again). Making one
// from a picture needs the imaging component (WIC).
#pragma once

#include <string>

#include "FolderColour.h"
#include "PictureDecoder.h"

namespace orvane {

// Makes the icon file from the picture inside the folder (through a temporary file, so a
// failure leaves nothing) and gives its file name in *name. An identical made file
// already there is kept. The calling thread must have initialised COM. Never throws.
PictureProblem MakeFolderPictureIcon(const wchar_t* folder, const wchar_t* picture, std::wstring* name);

// Writes the coloured folder icon into the folder as a made icon and gives its file name
// in *name. False when it cannot be made or written; nothing is then left. Never throws.
bool MakeFolderColourIcon(const wchar_t* folder, FolderColour colour, std::wstring* name);

} // namespace orvane

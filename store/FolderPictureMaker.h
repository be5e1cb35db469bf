// Making a folder's icon from a picture (FolderPicture.h says where it lives and how it
// is named). Apart from FolderPicture.h because it needs the imaging component (WIC),
// which the shell extension and the dialog do not load.
#pragma once

#include <string>

#include "PictureDecoder.h"

namespace orvane {

// Makes the icon file from the picture inside the folder (through a temporary file, so a
// failure leaves nothing) and gives its file name in *name. An identical made file
// already there is kept. The calling thread must have initialised COM. Never throws.
PictureProblem MakeFolderPictureIcon(const wchar_t* folder, const wchar_t* picture, std::wstring* name);

} // namespace orvane

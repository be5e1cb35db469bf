// An icon file on disk made from a picture file: decoded (PictureDecoder.h), made into
// an icon file of every size (IconFileMaker.h), written to a temporary file beside the
// destination and then moved into its place, so that a failure at any step leaves no
// file and an existing one as it was. The calling thread must have initialised COM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PictureDecoder.h"

namespace orvane {

// Whether the file starts as a picture does, or is named as one (.png, .jpg, .jpeg, .bmp,
// .gif, .tif, .tiff), so that a damaged or mislabelled picture gets the picture's own
// error rather than "holds no icons".
bool IsPictureFile(const wchar_t* file);

// The bytes of the icon file made from the picture. Never throws; on a problem `bytes`
// is empty (PictureProblemText says why).
PictureProblem MakeIconBytesFromPicture(const std::wstring& picturePath, std::vector<std::uint8_t>& bytes);

// Never throws. On a problem nothing is written (PictureProblemText says why).
PictureProblem MakeIconFromPicture(const std::wstring& picturePath, const std::wstring& iconPath);

} // namespace orvane

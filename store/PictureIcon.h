// An icon file on disk made from a picture file: decoded (PictureDecoder.h), made into
// an icon file of every size (IconFileMaker.h), written to a temporary file beside the
// destination and then moved into its place, so that a failure at any step leaves no
// file and an existing one as it was. The calling thread must have initialised COM.
#pragma once

#include <string>

#include "PictureDecoder.h"

namespace orvane {

// Never throws. On a problem nothing is written (PictureProblemText says why).
PictureProblem MakeIconFromPicture(const std::wstring& picturePath, const std::wstring& iconPath);

} // namespace orvane

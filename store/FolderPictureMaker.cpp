#include "FolderPictureMaker.h"

#include <cstdint>
#include <vector>

#include "MadeIconFile.h"
#include "PictureIcon.h"

namespace orvane {

PictureProblem MakeFolderPictureIcon(const wchar_t* folder, const wchar_t* picture, std::wstring* name)
{
    std::vector<std::uint8_t> bytes;
    const PictureProblem problem = MakeIconBytesFromPicture(picture, bytes);
    if (problem != PictureProblem::None)
        return problem;
    return WriteMadeIcon(folder, bytes, name) ? PictureProblem::None : PictureProblem::CannotWrite;
}

} // namespace orvane

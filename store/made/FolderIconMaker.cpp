#include "FolderIconMaker.h"

#include <cstdint>
#include <vector>

#include "MadeIconFile.h"
#include "FolderColourIcon.h"
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

bool MakeFolderColourIcon(const wchar_t* folder, FolderColour colour, std::wstring* name)
{
    try {
        return WriteMadeIcon(folder, FolderColourIconBytes(colour), name);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace orvane

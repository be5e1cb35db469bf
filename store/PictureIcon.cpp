#include "PictureIcon.h"

#include <windows.h>

#include <new>
#include <vector>

#include "IconFileMaker.h"
#include "MadeIconFile.h"

namespace orvane {

namespace {

PictureProblem Make(const std::wstring& picturePath, std::vector<std::uint8_t>& bytes)
{
    Picture picture;
    const PictureProblem problem = DecodePicture(picturePath, picture);
    if (problem != PictureProblem::None)
        return problem;
    bytes = MakeIconFile(picture);
    return PictureProblem::None;
}

} // namespace

PictureProblem MakeIconBytesFromPicture(const std::wstring& picturePath, std::vector<std::uint8_t>& bytes)
{
    try {
        return Make(picturePath, bytes);
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return PictureProblem::OutOfMemory;
    } catch (...) {
        bytes.clear();
        return PictureProblem::CannotWrite;
    }
}

PictureProblem MakeIconFromPicture(const std::wstring& picturePath, const std::wstring& iconPath)
{
    std::vector<std::uint8_t> bytes;
    const PictureProblem problem = MakeIconBytesFromPicture(picturePath, bytes);
    if (problem != PictureProblem::None)
        return problem;
    return WriteFileWhole(iconPath, bytes) ? PictureProblem::None : PictureProblem::CannotWrite;
}

} // namespace orvane

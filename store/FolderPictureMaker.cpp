#include "FolderPictureMaker.h"

#include <optional>

#include "FolderPicture.h"
#include "PictureIcon.h"

namespace orvane {

PictureProblem MakeFolderPictureIcon(const wchar_t* folder, const wchar_t* picture, std::wstring* name)
{
    // A name no made icon has (it is not of the made form), unique to this process.
    const std::wstring temporary =
        InFolder(folder, L".orvane-making-" + std::to_wstring(GetCurrentProcessId()) + L".ico");
    const PictureProblem problem = MakeIconFromPicture(picture, temporary);
    if (problem != PictureProblem::None)
        return problem;
    const std::optional<std::uint64_t> hash = HashOfIconFile(temporary);
    if (!hash) {
        DeleteFileW(temporary.c_str());
        return PictureProblem::CannotWrite;
    }
    *name = MadeIconName(*hash);
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (MoveFileExW(temporary.c_str(), InFolder(folder, *name).c_str(), 0))
        return PictureProblem::None;
    // The same picture made before: the file there already holds these bytes.
    DeleteFileW(temporary.c_str());
    return IsMadeIconFile(folder, name->c_str()) ? PictureProblem::None : PictureProblem::CannotWrite;
}

} // namespace orvane

#include "TargetKind.h"

#include <windows.h>

#include <cwchar>

namespace orvane {

TargetKind ClassifyTarget(const wchar_t* path)
{
    const DWORD attributes = path != nullptr ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return TargetKind::File;
    if (path != nullptr && wcsnlen(path, 4) == 3 && path[2] == L'\\')
        return TargetKind::Drive;
    return TargetKind::Folder;
}

} // namespace orvane

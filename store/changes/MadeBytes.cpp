#include "MadeBytes.h"

#include "FolderPicture.h"
#include "MadeIconFolders.h"

namespace orvane {

ChangeResult ApplyMadeBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    if (target.Kind() == TargetKind::Folder)
        return ApplyMadeFolderBytes(target, bytes);
    return ApplyMadeIcon(target, bytes);
}

} // namespace orvane

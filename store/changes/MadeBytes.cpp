#include "MadeBytes.h"

#include "MadeIconChanges.h"

namespace orvane {

ChangeResult ApplyMadeBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    if (target.Kind() == TargetKind::Folder)
        return ApplyMadeFolderBytes(target, bytes);
    return ApplyMadeIcon(target, bytes);
}

} // namespace orvane

// Tells the shell that a target's icon changed, the same notification the Change Icon
// dialog sends after applying or restoring.
#pragma once

#include "IconTarget.h"

namespace orvane::tools {

// Folder: SHCNE_UPDATEITEM for the parent (the path cut at its last "\"); File:
// SHCNE_ASSOCCHANGED, as the type's DefaultIcon or icon handler changed; Drive:
// SHCNE_UPDATEITEM for the root.
void NotifyShell(TargetKind kind, const char* targetPath);

} // namespace orvane::tools

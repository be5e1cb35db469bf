// Tells the shell that a target's icon changed, after an icon was applied or restored.
#pragma once

#include "TargetKind.h"

namespace orvane {

// Folder: SHCNE_UPDATEITEM for the parent (the path cut at its last "\"); File:
// SHCNE_ASSOCCHANGED, as the type's DefaultIcon or icon handler changed; Drive:
// SHCNE_UPDATEITEM for the root.
void NotifyShell(TargetKind kind, const wchar_t* targetPath);

} // namespace orvane

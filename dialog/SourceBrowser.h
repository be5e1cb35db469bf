// The dialog's "..." button: the platform's open-file dialog for choosing an icon source.
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"

namespace orvane {

// Lets the user pick an icon source with the open-file dialog. A file that holds icons
// becomes the current source, fills the icon list and enters the recent list; one that
// holds none changes nothing. True when the source changed.
bool BrowseForIconFile(ChangeIconDialog& record, HWND dialog);

} // namespace orvane

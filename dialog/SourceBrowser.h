// The dialog's "..." button: the platform's open-file dialog for choosing an icon source;
// and a file dropped onto the dialog, which is taken as the button would take it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "ChangeIconDialog.h"

namespace orvane {

// Lets the user pick an icon source with the open-file dialog. A file that holds icons
// becomes the current source, fills the icon list and enters the recent list; one that
// holds none changes nothing. True when the source changed.
bool BrowseForIconFile(ChangeIconDialog& record, HWND dialog);

// A source file that exists but cannot be opened (another program holds it open,
// sharing it with nobody) would read as holding no icons: says that it cannot be read,
// and why, and answers true. False, and nothing shown, for any other source.
bool TellIfUnreadable(HWND dialog, const wchar_t* source);

// Takes `file` as the source, as the open-file dialog's choice is taken.
bool UseSourceFile(ChangeIconDialog& record, HWND dialog, const wchar_t* file);

// WM_DROPFILES: the first file dropped becomes the source as if chosen with the button;
// the drop is finished here.
bool UseDroppedFile(ChangeIconDialog& record, HWND dialog, HDROP drop);

} // namespace orvane

// The folder colour menu behind the dialog's "Colour..." button: the palette's colours,
// each with its swatch, and "Other colour..." for the platform's colour dialog.
#pragma once

#include <windows.h>

#include "ChangeIconDialog.h"

namespace orvane {

// Shows the menu under the button; the chosen item comes back as a WM_COMMAND.
void OfferFolderColours(HWND dialog);

// Handles a command of the menu (a palette colour, or any colour through the colour
// dialog): the folder icon in that colour is made and shown. False when `id` is no item
// of the menu.
bool OnColourCommand(HWND dialog, ChangeIconDialog& record, WORD id);

} // namespace orvane

// What the demo's driver does where nobody sits at the screen: chooses the icon source in
// the Change Icon dialog, selects the icon, sets "all files of that type" where the dialog
// offers it, takes a picture when asked, and presses OK; or only takes the picture.
#pragma once

#include <cstdint>
#include <string>

#include "DialogDriver.h"

namespace orvane::demo {

struct IconPick {
    std::wstring Source;     // full path of the icon source to choose
    std::int32_t Index = 0;  // the icon list item to select
    bool AllOfType = false;  // wanted state of the check box where it is shown
    std::wstring Screenshot; // BMP path, taken just before OK; empty for none
};

// Plays the pick on the open dialog and notes each step in *log; true when OK was
// pressed and the dialog closed. A dialog left open is cancelled by RunWhileDriven.
bool PlayPick(DialogDriver& driver, const IconPick& pick, std::wstring* log);

// Takes a picture of the dialog as it opened, once its icon list is filled, and presses
// Cancel; true when the picture was saved.
bool PlayPicture(DialogDriver& driver, const std::wstring& screenshot, std::wstring* log);

} // namespace orvane::demo

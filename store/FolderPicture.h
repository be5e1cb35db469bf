// Made icons of folders (MadeIconFile.h). A folder's made icon lives inside the folder it
// belongs to, and Desktop.ini names it by its file name alone (a path relative to the
// folder): the icon goes wherever the folder goes. Making one from a picture
// (FolderPictureMaker.h) is apart, so that what only reads and deletes them does not
// bring in the imaging component.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "IconLocation.h"
#include "IconTarget.h"
#include "MadeIconFile.h"

namespace orvane {

// Deletes every made icon file in the folder that neither its Desktop.ini nor a folder
// backup of either scope names any more. Files whose bytes do not hash to their name
// are not this product's and stay.
void DeleteUnnamedMadeIcons(const wchar_t* folder);

// Gives the folder target the made icon `name` (a file in the folder, named relative to
// it) at index 0. When the change fails, a made file that nothing names any more goes
// again.
ChangeResult ApplyMadeFolderIcon(IconTarget& target, const std::wstring& name);

// Writes the bytes into the folder target as its made icon (hidden and system) and gives
// it to the folder at index 0: the road every made icon of a folder takes. A made icon
// that cannot be written is refused with nothing written: PathTooLong when its full path
// would not fit into 259 characters, else the result of the system's reason; either way
// the target's LastRefusal names the made icon and that reason.
ChangeResult ApplyMadeFolderBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes);

// A folder icon's path as written (relative to the folder, or full) resolved for use:
// a relative path is taken against the folder. Environment references are left for
// ExpandIconPath. False when the result would not fit.
bool ResolveFolderIconPath(const wchar_t* folder, const wchar_t* iconPath, wchar_t (&out)[TextCapacity]);

} // namespace orvane

// Made icons given to targets: the one road by which bytes made from a picture, a colour
// or a copy of an icon become a target's icon. A folder takes its made icon inside itself
// (named relative to it, so it goes wherever the folder goes); a file, a type or a drive
// takes it from the scope's folder of made icons, by its full path. A change that fails
// leaves no made file that nothing names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IconTarget.h"

namespace orvane {

// Writes the made icon's bytes where the target's icon lives and gives it to the target
// at index 0: a folder keeps it inside itself, named relative to it, so that it goes
// wherever the folder goes (ApplyMadeFolderBytes); a file, a type or a drive in the
// folder of made icons of the scope the change goes to (ApplyMadeIcon).
ChangeResult ApplyMadeBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes);

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

// Gives a file, a type or a drive the made icon of `bytes` at index 0: works out the scope
// the change goes to first, writes the file into that scope's folder, names it by its full
// path and applies the change. When the change fails, the file goes again unless something
// names it. A folder target takes its made icon inside itself (ApplyMadeFolderIcon).
ChangeResult ApplyMadeIcon(IconTarget& target, const std::vector<std::uint8_t>& bytes);

// Gives the folder target a copy of the source's icon at `index`, written into the folder
// and named relative to it (ApplyMadeFolderBytes). WriteFailed when the icon cannot be
// copied out of the source (LastRefusal names the source when it cannot be read), or what
// ApplyMadeFolderBytes refuses; nothing is then left behind.
ChangeResult KeepCopyWithFolder(IconTarget& target, const wchar_t* source, std::int32_t index);

} // namespace orvane

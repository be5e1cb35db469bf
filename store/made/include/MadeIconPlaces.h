// Made icons (MadeIconFile.h) of single files, file types and drives. Their settings live
// in the registry and name a file by its full path, so the file cannot travel with its
// target as a folder's does: it lives in this product's own folder of made icons of the
// scope the setting goes to, this user's "<LocalAppData>\Orvane\Icons" or all users'
// "<ProgramData>\Orvane\Icons". All users' folder is made readable by every user and
// writable by administrators and the system only (as all users' registry settings are):
// a standard user's Explorer must read the icon, and must not be able to replace it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Scope.h"

namespace orvane {

// The scope's folder of made icons, full path without a trailing backslash; created (with
// its rights, see above) when `create` is set. None when the known folder cannot be found,
// the path does not fit, or the folder cannot be made.
std::optional<std::wstring> MadeIconFolder(Scope scope, bool create);

// The security descriptor all users' folder of made icons is created with, in the
// platform's descriptor language: the system and administrators full control, users read
// and execute, inherited by the files in it, and nothing inherited from above.
extern const wchar_t AllUsersMadeIconFolderRights[];

} // namespace orvane

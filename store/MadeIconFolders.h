// Made icons (MadeIconFile.h) of single files, file types and drives. Their settings live
// in the registry and name a file by its full path, so the file cannot travel with its
// target as a folder's does: it lives in this product's own folder of made icons of the
// scope the setting goes to, this user's "<LocalAppData>\Orvane\Icons" or all users'
// "<ProgramData>\Orvane\Icons". All users' folder is made readable by every user and
// writable by administrators and the system only (as all users' registry settings are):
// a standard user's Explorer must read the icon, and must not be able to replace it.
//
// A made file goes once no setting of either scope names it any more. What can name one:
// the per-file tables and the folder backups (every value below the product's key), the
// drives' icons and their backups (every value below both scopes' drive icon keys), the
// types' icons, the icons kept while this extension is a class's handler and their
// backups (every value of each class's DefaultIcon and DefaultIconBAK key in both scopes'
// classes), and the Desktop.ini of every folder that has a backup. A setting names the
// file when its text holds the file's name, whatever folder it names it in: a kept file
// costs some disk space, a deleted one that is still named costs an icon.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "IconTarget.h"
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

// Gives a file, a type or a drive the made icon of `bytes` at index 0: works out the scope
// the change goes to first, writes the file into that scope's folder, names it by its full
// path and applies the change. When the change fails, the file goes again unless something
// names it. A folder target takes its made icon inside itself (ApplyMadeFolderIcon).
ChangeResult ApplyMadeIcon(IconTarget& target, const std::vector<std::uint8_t>& bytes);

// Whether some setting of either scope names the made file `name` (a file name, no folder).
bool IsMadeIconNamed(const wchar_t* name);

// Deletes each made icon file in both scopes' folders that no setting names any more.
// Files whose bytes do not hash to their name are not this product's and stay; a folder
// this process may not write keeps its files.
void DeleteUnnamedStoredMadeIcons();

} // namespace orvane

// Drive icons, short form, in a drive letter's DefaultIcon key: for all users under
// HKEY_LOCAL_MACHINE\...\Explorer\DriveIcons, for this user under
// HKEY_CURRENT_USER\Software\Classes\Applications\Explorer.exe\Drives, which Explorer
// reads first.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"
#include "RegistryNames.h"
#include "Scope.h"

namespace orvane {

// Whether the first character of a path is a letter, which names a drive.
bool StartsWithDriveLetter(const wchar_t* path);

// The drive letter is the first character of drivePath; TargetName of the result is the letter.
// This user's entry first, then all users', then the Drive class's icon; the scope of
// the entry found through `found` (untouched for the Drive class's icon or none).
std::optional<IconLocation> ReadDriveIcon(const wchar_t* drivePath, std::optional<Scope>* found = nullptr);
// The scope whose entry of its own the drive (its letter the first character of
// drivePath) has, this user's first; none when neither has one. The entry is what
// DeleteDriveIcon takes out.
std::optional<Scope> DriveEntryScope(const wchar_t* drivePath);
bool HasDriveEntry(const wchar_t* drivePath, Scope scope);
// Whether the drive's entry in this scope is one this product set (what restoring takes
// back).
bool HasOwnDriveEntry(const wchar_t* drivePath, Scope scope);
// Whether the drive's entry in this scope may be written (or, with DELETE, taken out).
bool MayWriteDriveIcon(Scope scope, const wchar_t* drivePath, REGSAM access = KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
// Whether this process may keep drive icons in a scope at all: the scope's drive icons
// key (or, while it is missing, its nearest ancestor) accepts new keys. What decides
// between the scopes; a letter's entry that refuses where its scope accepts was locked
// on purpose, and the change is refused rather than moved.
bool MayUseDriveIcons(Scope scope);
// The drive letter is the first character of the location's TargetName. The first change of
// an entry backs up the drive's icon and marks the entry (see DriveBackupValue).
LONG WriteDriveIcon(const IconLocation& location, Scope scope = Scope::AllUsers);
// Takes back this product's entry: the backed-up icon goes back, or, when the drive had
// none, the icon goes with the keys the change created once they are empty, so that the
// scope's registry is as it was before. An entry someone else set stays as it is.
LONG DeleteDriveIcon(const IconLocation& location, Scope scope = Scope::AllUsers);

} // namespace orvane

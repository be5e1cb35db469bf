// Folder icons: "IconFile" and "IconIndex" in the ".ShellClassInfo" section of the
// folder's "Desktop.ini" (hidden), with the system attribute on the folder, and the same
// location as "IconResource" ("path,index"), which Explorer since Vista reads first;
// backups in <ProductKey>\FolderBAKIcons, one short-form value per folder path, under
// HKEY_LOCAL_MACHINE for a change made for all users and HKEY_CURRENT_USER for one made
// for this user. The Desktop.ini is the folder's own in both scopes.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

// Forms "<folder>\Desktop.ini" (no second backslash when the folder ends with one).
// False when it would not fit into 260 characters.
bool FormatProfilePath(const wchar_t* folder, wchar_t (&out)[TextCapacity]);

// "IconResource" when it parses, else "IconFile"/"IconIndex"; the Folder class's icon
// when neither names one.
std::optional<IconLocation> ReadFolderIcon(const wchar_t* folder);
// Writes the location into the profile file of the folder named by its Owner, as all
// three entries; the file's other entries and sections stay.
// ERROR_FILENAME_EXCED_RANGE, nothing written, when the profile path does not fit.
LONG WriteFolderIcon(const IconLocation& location);

// This user's backup when there is one, else all users'; the scope it was found in
// through `found` (untouched when there is none).
std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope* found = nullptr);
std::optional<IconLocation> ReadFolderBackupOf(Scope scope, const wchar_t* folder);
LONG WriteFolderBackup(const IconLocation& location, const wchar_t* folder, Scope scope = Scope::AllUsers);
// Takes one scope's backup out. For this user the FolderBAKIcons key and the product's
// keys above it go too once nothing else is in them, so that this user's registry is as
// it was before the first change.
LONG DeleteFolderBackup(const wchar_t* folder, Scope scope = Scope::AllUsers);
// Whether the backup of a folder in this scope may be written and deleted.
bool MayWriteFolderBackup(Scope scope);
// Whether this process may keep folder backups in a scope at all: the product's key (or,
// while it is missing, its nearest ancestor) accepts new keys. What decides between the
// scopes; a backup key that refuses where its scope accepts was locked on purpose, and
// the change is refused rather than moved.
bool MayUseFolderBackups(Scope scope);

} // namespace orvane

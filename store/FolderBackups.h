// Folder icon backups: in <ProductKey>\FolderBAKIcons, one value per folder path, under
// HKEY_LOCAL_MACHINE for a change made for all users and HKEY_CURRENT_USER for one made
// for this user.
//
// A backup value starts with the short form "path,index" of the icon the folder showed,
// which is all that earlier builds read. When the folder's icon entries were not the
// three that name that icon (IconFile alone, an IconResource without index, an empty
// IconIndex, entries naming different icons), the entries themselves follow, each as
// "Name=text" behind a terminating zero (a REG_MULTI_SZ list), so that restoring writes
// back exactly the entries that stood there. Where an existing Desktop.ini was not hidden,
// its folder not a system folder or the file in the ANSI code page, the list (empty when
// the three entries named the icon) and its ending empty text are followed by
// "Desktop.ini=" with those words ("shown", "plain-folder", "ansi"), so that restoring
// puts the attributes back and makes a file a change turned into UTF-16 ANSI again;
// earlier builds stop reading at the end of the list.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

// This user's backup when there is one, else all users'; the scope it was found in
// through `found` (untouched when there is none).
std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope* found = nullptr);
std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope scope);
LONG WriteFolderBackup(const IconLocation& location, const wchar_t* folder, Scope scope = Scope::AllUsers);
// Keeps `shown`, the icon the folder shows, as its backup, together with the folder's
// icon entries as they stand now when they are not the three entries naming it.
LONG WriteFolderBackupOfEntries(const IconLocation& shown, const wchar_t* folder, Scope scope);
// Writes a scope's backup of the folder back into its Desktop.ini: the entries as they
// stood, where the backup keeps them (an entry it does not list is taken out), else its
// icon into all three entries; with the file's encoding and both attributes as they were,
// where the backup keeps them. The backup stays. Nothing changes when this fails.
LONG WriteFolderIconFromBackup(const wchar_t* folder, Scope scope);
// Copies one scope's backup of the folder, as it is, into another scope.
LONG CopyFolderBackup(const wchar_t* folder, Scope from, Scope to);
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

// The folder's backups in both scopes as they are, with the keys that hold them, so that
// a change that fails after writing them can put them back.
class FolderBackupSnapshot {
public:
    explicit FolderBackupSnapshot(const wchar_t* folder);
    // Whether the backups could be read (a value too large to keep is not).
    bool Taken() const { return taken_; }
    // Puts each scope's value back (or takes it out where there was none), and removes the
    // keys that were made since, once they are empty.
    LONG PutBack() const;

private:
    struct ScopeState {
        bool HasValue = false;
        DWORD Type = REG_SZ;
        DWORD Size = 0;
        wchar_t Data[2048] = {};
        int KeysThere = 0; // how many of the keys down to FolderBAKIcons existed
    };
    const wchar_t* folder_;
    bool taken_ = false;
    ScopeState states_[2];
};

} // namespace orvane

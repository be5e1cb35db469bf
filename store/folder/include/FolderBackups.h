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
// earlier builds stop reading at the end of the list, or behind that start item.
//
// A backup is taken before the first change of a scope and stays until that change is
// restored. Beside its value, in FolderBAKStates (FolderFirstState.h), where earlier
// builds, which read the value into a buffer of fixed size, do not look: how the folder
// stood before that first change (whether it named an icon at all, the Desktop.ini's bytes
// or that there was none, the attributes of both) and what the scope's last change wrote
// (its icon, a hash of the Desktop.ini as it left it). A later change keeps the backup
// while the folder still shows what the last one set; where the icon was changed by other
// means in between, how the folder stands then is the backup.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

// This user's backup when there is one, else all users'; the scope it was found in
// through `found` (untouched when there is none).
std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope* found = nullptr);
std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope scope);
LONG WriteFolderBackup(const IconLocation& location, const wchar_t* folder, Scope scope = Scope::AllUsers);
// Keeps how the folder stands now as the scope's backup: the icon it shows (for earlier
// builds), its icon entries where they are not the three naming that icon or where there
// are none, the Desktop.ini's bytes (or that there is none) and the attributes of both.
LONG TakeFolderBackup(const wchar_t* folder, Scope scope);
// Records in the scope's backup what a change just wrote: the icon it set and the
// Desktop.ini as it left it. Without `fileKept` the bytes kept from before the first
// change are let go (the file was changed by other means between two changes), and
// restoring puts back the entries alone.
LONG RecordFolderChange(const wchar_t* folder, Scope scope, const IconLocation& set, bool fileKept);
// Whether the folder still shows the icon the scope's last change set (a backup of an
// earlier build, which does not say, counts as yes); no when the icon was changed by other
// means since, or there is no backup.
bool ShowsOwnChange(const wchar_t* folder, Scope scope);
// Whether the Desktop.ini is byte for byte as the scope's last change left it.
bool FolderStillAsWritten(const wchar_t* folder, Scope scope);
// Whether this user's backup was taken of the Desktop.ini exactly as all users' last change
// left it, so that all users' bytes from before may stand for both.
bool FolderChainIsWhole(const wchar_t* folder);
// Writes a scope's backup of the folder back into its Desktop.ini. Where the file is as
// the scope's last change left it and the backup keeps its bytes, it goes back byte for
// byte (or is deleted where there was none), with both attributes. Otherwise the entries
// as they stood go back (an entry the backup does not list is taken out; a folder that
// had no icon gets none, and a Desktop.ini the change made that holds nothing else goes),
// with the file's encoding and both attributes as they were, where the backup keeps them.
// The backup stays. Nothing changes when this fails.
LONG WriteFolderIconFromBackup(const wchar_t* folder, Scope scope);
// Gives scope `to` the backup's state from before the first change of scope `from`,
// keeping what `to`'s own last change wrote: all users' change taken out from under this
// user's.
LONG MoveFirstFolderState(const wchar_t* folder, Scope from, Scope to);
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
        // What FolderBAKStates keeps beside the value.
        bool HasState = false;
        std::vector<std::wstring> StateItems;
        bool StateKeyThere = false;
    };
    const wchar_t* folder_;
    bool taken_ = false;
    ScopeState states_[2];
};

} // namespace orvane

// Folder icons: "IconFile" and "IconIndex" in the ".ShellClassInfo" section of the
// folder's "Desktop.ini" (hidden), with the system attribute on the folder, and the same
// location as "IconResource" ("path,index"), which Explorer since Vista reads first;
// backups in <ProductKey>\FolderBAKIcons, one value per folder path, under
// HKEY_LOCAL_MACHINE for a change made for all users and HKEY_CURRENT_USER for one made
// for this user. The Desktop.ini is the folder's own in both scopes.
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

// A write refused because the folder's Desktop.ini is a link (a reparse point: a symbolic
// link, a junction) to something else: the file it leads to is not the folder's own.
// (ERROR_REPARSE_POINT_ENCOUNTERED.)
constexpr LONG ProfileIsLinkStatus = 4395;
// A write refused because "Desktop.ini" in the folder is itself a folder.
// (ERROR_DIRECTORY_NOT_SUPPORTED.)
constexpr LONG ProfileIsFolderStatus = 336;

// Forms "<folder>\Desktop.ini" (no second backslash when the folder ends with one).
// False when it would not fit into 260 characters.
bool FormatProfilePath(const wchar_t* folder, wchar_t (&out)[TextCapacity]);

// Read as Windows reads them: "IconResource" when it names a path and a whole index, else
// "IconIndex" with "IconFile", else "IconFile" without an index (or with an empty one),
// else an "IconResource" without an index; the Folder class's icon when none names one.
// A location read without an index has the index NoIndex (Windows shows icon 0).
std::optional<IconLocation> ReadFolderIcon(const wchar_t* folder);
// Whether the folder's Desktop.ini may be written: ERROR_SUCCESS when it is a file of the
// folder's own or is missing; ProfileIsLinkStatus or ProfileIsFolderStatus when it is
// not; ERROR_FILENAME_EXCED_RANGE when its path does not fit.
LONG CheckFolderProfile(const wchar_t* folder);
// Writes the location into the profile file of the folder named by its Owner, as all
// three entries; the file's other entries and sections stay. A location without an index
// is written as IconIndex=-99. Whatever fails, the file, its attributes and the folder's
// attributes are left as they were.
// ERROR_FILENAME_EXCED_RANGE, nothing written, when the profile path does not fit.
LONG WriteFolderIcon(const IconLocation& location);

// This user's backup when there is one, else all users'; the scope it was found in
// through `found` (untouched when there is none).
std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope* found = nullptr);
std::optional<IconLocation> ReadFolderBackupOf(Scope scope, const wchar_t* folder);
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

// Entries whose file moved or went. Each per-file entry keeps the identity of its file
// (FileIdentity.h); an entry whose path names nothing any more (an orphan) is its file's
// still when a file of that identity is found at another path of the same extension:
// renamed or moved within its volume. A copy, or a file moved to another volume, has
// another identity and does not take the entry; a file written and renamed over the old
// one keeps the path, which still finds the entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FileIdentity.h"
#include "Scope.h"

namespace orvane {

// Whether nothing is at the path: the system finds neither the file nor its folder. A
// path that cannot be asked for another reason (refused, a share that does not answer)
// is not gone.
bool IsGonePath(const wchar_t* path);

// Whether a path lies where the handler and the walk of orphans may open and look for
// files: not a network path, not a removable drive, where one look may take seconds or
// where a file only out of reach would count as gone.
bool IsLocalPath(const wchar_t* path);

// Whether two paths end in the same extension, compared as the registry compares class
// names: an entry keeps the class of its path's extension.
bool SameExtension(const wchar_t* a, const wchar_t* b);

struct OrphanEntry {
    std::wstring Path;
    std::wstring Text; // the entry as stored
    std::optional<FileIdentity> Identity;
};

enum class OrphansOf {
    WithIdentity, // only entries that can be followed: one walk of the identities
    All,          // every entry: one walk of the table
};

// A scope's entries whose path is gone, on local paths only. False (orphans empty)
// when the table or its identities could not be read to their end.
bool ReadOrphanEntries(Scope scope, OrphansOf which, std::vector<OrphanEntry>& orphans);

// The local volumes mounted at a drive letter, each root opened once, so that many
// identities can be looked for on them in one go.
class LocalVolumes {
public:
    LocalVolumes();
    ~LocalVolumes();
    LocalVolumes(const LocalVolumes&) = delete;
    LocalVolumes& operator=(const LocalVolumes&) = delete;

    // Where the file of that identity is now: opened by its id on the volume whose serial
    // the identity names, and named as the shell names it (ShellPathOf). None when no such
    // volume is mounted, no such file is on it, or it is a folder.
    std::optional<std::wstring> Find(const FileIdentity& identity) const;
    // Whether a volume of that serial is among them.
    bool Mounted(std::uint64_t serial) const;

private:
    struct Volume {
        std::uint64_t Serial = 0;
        HANDLE Root = INVALID_HANDLE_VALUE;
    };
    Volume volumes_[26];
    int count_ = 0;
};

// LocalVolumes().Find(identity).
std::optional<std::wstring> FindFileByIdentity(const FileIdentity& identity);

// Whether the path lies in a volume's Recycle Bin ("X:\$Recycle.Bin\..."): a file deleted
// in Explorer keeps its identity there until the bin is emptied, and is put back at its
// path, so its entry waits at that path rather than follow it in.
bool IsInRecycleBin(const wchar_t* path);

// Moves a scope's entry from one path to another; the identity recorded is that of the
// file now at `to`. Nothing is moved over an entry the scope has for `to`
// (ERROR_ALREADY_EXISTS) nor from an entry that is not there (ERROR_FILE_NOT_FOUND).
LONG MoveFileIcon(const wchar_t* from, const wchar_t* to, Scope scope);

struct MovedFileIcon {
    Scope Where = Scope::AllUsers;
    std::wstring From;
};

// For a file on a local path without an entry of its own (in either scope): the orphan
// whose identity is the file's and whose path has the file's extension, this user's
// first, moved to the file's path. What the command line and the dialog call before they
// read or change a file's icon. None when nothing moved. It costs one walk of both
// scopes' identities in the registry; only the paths recorded with the file's own
// identity are looked at on disk, so that a batch that opens file after file does not
// ask the file system about every file the tables name (under Wine, each look at a gone
// path reads its folder, and waits while another thread searches a drive by file id).
std::optional<MovedFileIcon> FollowMovedFile(const wchar_t* path);

} // namespace orvane

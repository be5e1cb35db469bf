// The per-file icon table (<ProductKey>\FileIcons, one long-form value per file path; all
// users' under HKEY_LOCAL_MACHINE, this user's under HKEY_CURRENT_USER), with the identity
// of each entry's file beside it (FileIconIdsKey, FileIdentity.h): written with the entry,
// deleted with it. Reads see this
// user's entry first; writes go to one scope, all users' unless told otherwise. A file's
// own icon is shown by this extension as its class's icon handler (IconHandlerInstall.h).
#pragma once

#include <windows.h>

#include <climits>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "IconLocation.h"
#include "TargetKind.h"
#include "Scope.h"

namespace orvane {

// This user's entry for the file, else all users'.
std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath);
std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath, Scope scope);
LONG WriteFileIcon(const IconLocation& location, const wchar_t* filePath, Scope scope = Scope::AllUsers);

// The two steps of ReadFileIcon(filePath, scope), for a caller that keeps what was read:
// the stored text of the file's value (none: no table, no value, or one that is no entry),
// and the entry that text makes for the file.
std::optional<std::wstring> ReadFileIconText(const wchar_t* filePath, Scope scope);
std::optional<IconLocation> FileIconFromText(const wchar_t* filePath, const wchar_t* text);

// A scope's whole table as it was read at one time, so that many files can be looked up
// without a registry call each.
class FileIconTableCopy {
public:
    // Reads every entry of the scope's table; a table that cannot be opened has none.
    // False (the copy then empty) when the table could not be read to its end.
    bool Read(Scope scope);
    // The file's entry as ReadFileIcon(filePath, scope) would have read it from the table
    // when it was copied: value names compare as the registry compares them.
    std::optional<IconLocation> Find(const wchar_t* filePath) const;
    std::size_t Size() const { return entries_.size(); }
    // Each entry's value name and stored text.
    const std::vector<std::pair<std::wstring, std::wstring>>& Entries() const { return entries_; }

private:
    // Value name and data text, in the order of CompareStringOrdinal without regard to case.
    std::vector<std::pair<std::wstring, std::wstring>> entries_;
};
// Whether the path names nothing on disk while a table of either scope still holds an entry
// for it: a file deleted or moved since its icon was set. Its entry, the icon handler
// that serves it and its made icon are then only taken away by restoring it, which needs
// nothing of the file itself.
bool IsGoneFileWithEntry(const wchar_t* filePath);

// Deleting this user's last entry also deletes this user's table and the product's keys
// above it that then hold nothing.
LONG DeleteFileIcon(const wchar_t* filePath, Scope scope = Scope::AllUsers);

// The number of a scope's table entries whose stored class (the third field) is typeKey,
// compared without regard to case. Without a scope, that of the class's own icon handler
// as this user sees it (all users' when there is none). The count stops at `enough`:
// whether a class has any entry left needs no walk of a whole table of 50,000.
int CountFileIconsOfType(const wchar_t* typeKey);
int CountFileIconsOfType(const wchar_t* typeKey, Scope scope, int enough = INT_MAX);

// ClassifyTarget, except that a file deleted since its icon was set (IsGoneFileWithEntry)
// is still a File: what a target of the dialog or the command line is taken for. The icon
// handler, which Explorer asks only of existing files, classifies with ClassifyTarget.
TargetKind ClassifyTargetOrGoneFile(const wchar_t* path);

} // namespace orvane

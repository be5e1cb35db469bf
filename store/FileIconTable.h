// The per-file icon table (<ProductKey>\FileIcons, one long-form value per file path; all
// users' under HKEY_LOCAL_MACHINE, this user's under HKEY_CURRENT_USER) and the
// installation of this extension as a class's icon handler, with backups of the class's
// DefaultIcon text (DefaultIconBAK) and previous handler (shellex\IconHandlerBAK). Reads
// see this user's entry and class keys first; writes go to one scope, all users' unless
// told otherwise.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

// This user's entry for the file, else all users'.
std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath);
std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath, Scope scope);
LONG WriteFileIcon(const IconLocation& location, const wchar_t* filePath, Scope scope = Scope::AllUsers);

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

private:
    // Value name and data text, in the order of CompareStringOrdinal without regard to case.
    std::vector<std::pair<std::wstring, std::wstring>> entries_;
};
// Deleting this user's last entry also deletes this user's table and the product's keys
// above it that then hold nothing.
LONG DeleteFileIcon(const wchar_t* filePath, Scope scope = Scope::AllUsers);

// The number of a scope's table entries whose stored class (the third field) is typeKey,
// compared without regard to case. Without a scope, that of the class's own icon handler
// as this user sees it (all users' when there is none).
int CountFileIconsOfType(const wchar_t* typeKey);
int CountFileIconsOfType(const wchar_t* typeKey, Scope scope);

// Installs into (or uninstalls from) one scope's class keys. Uninstalling from this
// user's classes also removes the keys of the class that installing made and that then
// hold nothing (RemoveEmptyUserClassKeys).
// A write of the installation that fails puts back what the writes before it did.
LONG InstallIconHandler(const IconLocation& location, Scope scope = Scope::AllUsers);
// Whether InstallIconHandler could back up what it replaces in the scope's class (a
// DefaultIcon or handler text over 259 characters cannot be): its reading without its
// writes, asked before anything else of a change is written.
LONG CheckIconHandlerInstall(const IconLocation& location, Scope scope = Scope::AllUsers);
LONG UninstallIconHandler(const IconLocation& location, Scope scope = Scope::AllUsers);
// Deletes this user's <typeKey>\DefaultIcon, DefaultIconBAK, shellex\IconHandler,
// shellex\IconHandlerBAK, shellex and the class key itself, each only when it holds
// nothing: the keys this system writes in a class, so that all users' show through again.
// Once the class key is gone, this user's key of `extension` (when given) goes too if it
// only points at that class and all users have no such extension: the key a change of a
// type new to this user made so that its files find the class.
LONG RemoveEmptyUserClassKeys(const wchar_t* typeKey, const wchar_t* extension = nullptr);

// This user's key of `extension` when it holds nothing but its default value naming
// typeKey, this user has no class key of that name (any more), and all users have no key
// of the extension: what a change of a type new to this user made so that its files find
// the class.
LONG RemoveUserExtensionKey(const wchar_t* extension, const wchar_t* typeKey);

enum class HandlerSlot { Current, Backup };

// Reads <name>\shellex\IconHandler (or IconHandlerBAK) into buffer; false, buffer
// untouched, when there is nothing to read.
bool ReadIconHandlerText(const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity]);
bool ReadIconHandlerText(Scope scope, const wchar_t* name, HandlerSlot slot, wchar_t (&buffer)[TextCapacity]);
bool ReadExtensionIconHandlerText(const wchar_t* extension, HandlerSlot slot, wchar_t (&buffer)[TextCapacity]);

// True when the class named by TypeKey has exactly this extension's class identifier
// as its icon handler (byte for byte, case included).
bool IsOwnIconHandler(const IconLocation& location);
// The scope of the class's visible shellex\IconHandler key when it names this extension.
std::optional<Scope> OwnIconHandlerScope(const wchar_t* typeKey);
bool IsOwnIconHandlerIn(Scope scope, const wchar_t* typeKey);
// The handler the class's files had before this extension was installed:
// shellex\IconHandlerBAK, or, for an installation of this user's (ownHandlerScope, from
// OwnIconHandlerScope) without a backup of its own, the handler all users' class names.
bool ReadPreviousIconHandlerText(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope,
                                 wchar_t (&buffer)[TextCapacity]);
// True when the extension's class has any icon handler text of two or more characters.
bool HasIconHandler(const wchar_t* extension);

// While this extension is a class's icon handler, the class's DefaultIcon says "%1" and the
// type's own icon is kept beside it: in "HandlerIconInfo" when one was chosen since
// installing, else in DefaultIconBAK, the text that uninstalling puts back.
//
// True when typeIcon, a record read from a class's DefaultIcon (TypeKey = the class in
// which it was found), is that "%1": its path contains "%1" and the class's icon handler
// is this extension.
bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon);
// The type's own icon behind that "%1": "HandlerIconInfo" if it names an icon, else the
// default value of <TypeKey>\DefaultIconBAK (short form); TypeKey is the class, Owner
// that of typeIcon. None when neither names an icon (the class had none before
// installing), or when typeIcon is no such "%1".
std::optional<IconLocation> ReadTypeIconBehindHandler(const IconLocation& typeIcon);
// The default value of <typeKey>\DefaultIconBAK in short form (TypeKey and Owner empty):
// the class's DefaultIcon text from before this extension became its icon handler.
std::optional<IconLocation> ReadDefaultIconBackup(const wchar_t* typeKey);
// The type's icon from before installing: DefaultIconBAK when it names an icon; for an
// installation of this user's (ownHandlerScope) whose backup is empty (this user's keys had no icon), the
// icon all users' class shows (behind all users' "%1" when this extension is installed
// there too). Otherwise what DefaultIconBAK holds, or none.
std::optional<IconLocation> ReadTypeIconBeforeHandler(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope);
// The class's icon as all users' keys alone hold it (the icon behind this extension's "%1"
// when it is all users' handler of the class), whatever this user's keys hide it behind.
std::optional<IconLocation> ReadAllUsersTypeIcon(const wchar_t* typeKey);
// IsOwnHandlerPlaceholder for one scope's keys: typeIcon, read from that scope's
// DefaultIcon, is "%1" and this extension is that scope's handler of the class.
bool IsOwnHandlerPlaceholderIn(Scope scope, const IconLocation& typeIcon);
// The icon behind that "%1" in one scope's keys alone: "HandlerIconInfo" if it names an
// icon, else DefaultIconBAK's text (an empty one: that scope's keys had no icon before
// installing); TypeKey is typeKey.
std::optional<IconLocation> ReadTypeIconBehindHandlerIn(Scope scope, const wchar_t* typeKey);
// Writes the short form of location into the default value of <TypeKey>\DefaultIconBAK,
// creating the key when it is missing: what DefaultIcon becomes when this extension is
// uninstalled from the class.
LONG WriteDefaultIconBackup(const IconLocation& location, Scope scope = Scope::AllUsers);

} // namespace orvane

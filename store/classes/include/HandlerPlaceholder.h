// A type's icon while this extension is the class's icon handler. The class's DefaultIcon
// then says "%1" and the type's own icon is kept beside it: in "HandlerIconInfo" when one
// was chosen since installing, else in DefaultIconBAK, the text that uninstalling puts
// back. These readers see through that "%1" to the icon the type shows for files without
// an icon of their own.
#pragma once

#include <optional>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

// True when typeIcon, a record read from a class's DefaultIcon (TypeKey = the class in
// which it was found), is that "%1": its path contains "%1" and the class's icon handler
// is this extension.
bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon);
// The type's own icon behind that "%1": "HandlerIconInfo" if it names an icon, else the
// default value of <TypeKey>\DefaultIconBAK (short form); TypeKey is the class, TargetName
// that of typeIcon. None when neither names an icon (the class had none before
// installing), or when typeIcon is no such "%1".
std::optional<IconLocation> ReadTypeIconBehindHandler(const IconLocation& typeIcon);
// The default value of <typeKey>\DefaultIconBAK in short form (TypeKey and TargetName empty):
// the class's DefaultIcon text from before this extension became its icon handler.
std::optional<IconLocation> ReadDefaultIconBackup(const wchar_t* typeKey);
// The type's icon from before installing: DefaultIconBAK when it names an icon; for an
// installation of this user's (ownHandlerScope) whose backup is empty (this user's keys
// had no icon), the icon all users' class shows (behind all users' "%1" when this
// extension is installed there too). Otherwise what DefaultIconBAK holds, or none.
std::optional<IconLocation> ReadTypeIconBeforeHandler(const wchar_t* typeKey, std::optional<Scope> ownHandlerScope);
// The class's icon as all users' keys alone hold it (the icon behind this extension's "%1"
// when it is all users' handler of the class), whatever this user's keys hide it behind.
std::optional<IconLocation> ReadAllUsersTypeIcon(const wchar_t* typeKey);
// IsOwnHandlerPlaceholder for one scope's keys: typeIcon, read from that scope's
// DefaultIcon, is "%1" and this extension is that scope's handler of the class.
bool IsOwnHandlerPlaceholder(const IconLocation& typeIcon, Scope scope);
// The icon behind that "%1" in one scope's keys alone: "HandlerIconInfo" if it names an
// icon, else DefaultIconBAK's text (an empty one: that scope's keys had no icon before
// installing); TypeKey is typeKey.
std::optional<IconLocation> ReadTypeIconBehindHandler(const wchar_t* typeKey, Scope scope);

} // namespace orvane

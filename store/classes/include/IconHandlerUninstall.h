// Takes this extension out of a class where it is the icon handler: the class's
// DefaultIcon text and previous handler come back from their backups (DefaultIconBAK,
// shellex\IconHandlerBAK), and in this user's classes the keys installing made go again
// once they hold nothing.
#pragma once

#include <windows.h>

#include "IconLocation.h"
#include "Scope.h"

namespace orvane {

// Uninstalls from one scope's class keys. Uninstalling from this user's classes also
// removes the keys of the class that installing made and that then hold nothing
// (RemoveEmptyUserClassKeys).
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

} // namespace orvane

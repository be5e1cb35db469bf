// Takes this extension out of every file class where it is the icon handler and deletes
// the per-file table (with its files' identities) and the folder backups, in one scope or in
// both.
#pragma once

#include <windows.h>

#include "Scope.h"

namespace orvane {

// Both scopes, this user's first: ERROR_SUCCESS when every uninstallation and deletion
// took effect; otherwise the first failing status (the walk goes on regardless, so that
// all users' settings refused to a standard user leave this user's removed).
LONG RemoveAllSettings();
// One scope: this user's classes (every class key of this user's where this extension is
// the handler or left a backup) and tables, which this user may always change; or all
// users' classes reached through the extension keys, and all users' tables.
LONG RemoveAllSettings(Scope scope);

} // namespace orvane

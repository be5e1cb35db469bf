// Takes this extension out of every file class where it is the icon handler and deletes
// the per-file table and the folder backups.
#pragma once

#include <windows.h>

namespace orvane {

// ERROR_SUCCESS when every uninstallation and deletion took effect; otherwise the first
// failing status (the walk goes on regardless).
LONG RemoveAllSettings();

} // namespace orvane

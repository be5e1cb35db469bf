// Tidies the per-file tables: an entry whose path is gone either moves to where its file
// is now (found by the identity recorded with it, FileIconFollow.h) or, when its file
// cannot be found, goes as a restore takes it out: with its made icon when nothing else
// names it, and this extension uninstalled from a type whose last entry of that scope it
// was. Entries on network paths and removable drives stay: their file may only be out of
// reach.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Scope.h"

namespace orvane {

struct TidiedEntry {
    Scope Where = Scope::AllUsers;
    std::wstring Path;
    // Where the entry went; empty: the entry was taken out (its file is gone, moved to
    // another volume, or now has another extension), or stayed (InRecycleBin).
    std::wstring NewPath;
    // Its file is in a Recycle Bin: the entry stays at its path, which the file takes
    // again when it is put back.
    bool InRecycleBin = false;
    // ERROR_SUCCESS, or why it could not be done (a dry run does nothing and fails nothing).
    LONG Status = ERROR_SUCCESS;
};

struct TidyReport {
    std::vector<TidiedEntry> Entries;
    // ERROR_SUCCESS, or the first failure: a table that could not be read, an entry that
    // could not be moved or taken out, a handler that could not be uninstalled.
    LONG Status = ERROR_SUCCESS;
    // Whether a type's icon handler went, which Explorer learns only from an
    // association change.
    bool HandlerRemoved = false;
};

// Both scopes, this user's first. A dry run only reports what would be done.
TidyReport TidyFileIcons(bool dryRun);

} // namespace orvane

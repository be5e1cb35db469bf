// What the command line asked of show, set and restore: the options given and the PATHs
// they apply to, in the order given; and what it asked of import.
#pragma once

#include <vector>

#include "Scope.h"
#include "SettingsTransfer.h"

namespace orvane::cli {

struct Invocation {
    bool AllOfType = false; // --all-of-type: a file stands for all files of its type
    // --for-me (this user) or --for-all (all users); neither: all users where the rights
    // allow, this user otherwise.
    ScopeChoice Scope = ScopeChoice::Automatic;
    // --trust-desktop-ini: a folder's Desktop.ini that carries the mark of the web loses
    // it once the icon is set, so that Windows shows the icon.
    bool TrustDesktopIni = false;
    // --colour NAME|#RRGGBB: set gives folders a folder icon in that colour; no SOURCE.
    const wchar_t* Colour = nullptr;
    // --copy: a folder gets a copy of the chosen icon inside itself, named relative to it.
    bool CopyWithFolder = false;
    // --recurse: a folder stands for itself and every folder below it.
    bool Recurse = false;
    std::vector<const wchar_t*> Paths;
};

// What import was asked: the settings file, the --map rewrites in the order given, the
// scope (--for-me, --for-all; neither: the usual rule) and --dry-run.
struct ImportInvocation {
    const wchar_t* File = nullptr;
    ImportOptions Options;
};

} // namespace orvane::cli

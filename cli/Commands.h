// The commands of orvane.exe. Each works through IconTarget exactly as the Change Icon
// dialog does, so the command line and the dialog share rules, backups and stores.
// Each returns the process exit code: 0 when every target succeeded, 1 when any failed.
#pragma once

#include <string>
#include <vector>

#include "IconChoice.h"
#include "IconTarget.h"
#include "Scope.h"

namespace orvane::cli {

struct TargetList {
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

// What refused a change of the target at `path` beside the registry, and the system's
// reason, as a message says it; `tooLong`: the change was refused as too long.
std::wstring RefusalText(const wchar_t* path, const Refusal& refusal, bool tooLong);

int ShowTargets(const TargetList& targets);
int SetIcon(const IconChoice& choice, const TargetList& targets);
int SetColour(const TargetList& targets);
int RestoreTargets(const TargetList& targets);
int RemoveAll();

} // namespace orvane::cli

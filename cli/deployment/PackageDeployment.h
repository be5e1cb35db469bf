// Registers and removes Orvane's sparse package (the signed MSIX that gives the installed
// files package identity, so that Explorer's top-level menu on Windows 11 shows the
// Explorer command) with Windows' package deployment API, Windows.Management.Deployment
// .PackageManager, reached through the WinRT ABI. Where that API is missing, or Windows
// is older than Windows 11 (whose Explorer is the first to show packaged context-menu
// entries), nothing is changed and the answer says so.
#pragma once

#include <string>

namespace orvane::cli {

enum class DeploymentOutcome { NotAvailable, Done, Failed };

struct DeploymentReport {
    DeploymentOutcome Outcome = DeploymentOutcome::Failed;
    std::wstring Text; // one line for the person or the installer's log
};

enum class PackageUsers {
    ThisUser, // registered for the user who runs the command
    AllUsers, // staged and provisioned, so that every user gets it (needs administrator rights)
};

// NotAvailable, with the reason, when this Windows cannot take the package; Done otherwise.
DeploymentReport CheckDeploymentAvailable();

// The package file `packagePath` registered with its external location: the folder that
// holds it, where the installers put orvane.dll and orvane-dialog.exe beside it.
DeploymentReport RegisterPackage(const std::wstring& packagePath, PackageUsers users);

// Removes the package that `packagePath` names (its identity is read from the file): for
// this user, or deprovisioned and removed for every user. A package that is not
// registered is no failure.
DeploymentReport UnregisterPackage(const std::wstring& packagePath, PackageUsers users);

} // namespace orvane::cli

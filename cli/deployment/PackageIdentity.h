// A package file's identity (its full name and family name), read from its manifest
// through Windows' packaging API.
#pragma once

#include <windows.h>

#include <string>

namespace orvane::cli {

struct PackageIdentity {
    std::wstring FullName;
    std::wstring FamilyName;
};

// Where reading the identity failed.
enum class IdentityStep {
    Factory, // the packaging API cannot be made
    Open,    // the file cannot be opened
    Read,    // the file is no package whose manifest can be read
};

// Reads the identity in the package file's manifest; on failure the platform's result,
// and the step that failed in *failed. COM must be usable on this thread.
HRESULT ReadPackageIdentity(const std::wstring& packagePath, PackageIdentity* identity, IdentityStep* failed);

} // namespace orvane::cli

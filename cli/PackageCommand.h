// "orvane package register|unregister": Orvane's sparse package and, with --trust, the
// machine's trust in the certificate that signed it. The installers run these; a person
// may too (see the README). Where Windows cannot take the package it says "not available",
// changes nothing and succeeds, so that an install never fails over it.
#pragma once

#include "PackageDeployment.h"

namespace orvane::cli {

struct PackageRequest {
    bool Register = true; // register, or unregister
    PackageUsers Users = PackageUsers::ThisUser;
    const wchar_t* Certificate = nullptr; // --trust CERT: trust it first, or take its trust away last
    const wchar_t* Package = nullptr;     // the .msix; Orvane-<arch>.msix beside orvane.exe when null
};

// 0 when done or not available, 1 when a step failed.
int PackageCommand(const PackageRequest& request);

} // namespace orvane::cli

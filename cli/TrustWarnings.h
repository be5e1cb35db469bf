// What may keep Windows from showing a folder's icon (FolderTrust.h), as show lists it
// and as set warns of it once a folder's icon is set.
#pragma once

#include <string>

#include "FolderTrust.h"
#include "IconTarget.h"

namespace orvane::cli {

// The findings for a folder target as it is now; none for other kinds.
TrustFindings FindingsOf(const IconTarget& target);

// "Windows may not show this folder's icon: ..." for one finding.
std::wstring FindingWarning(TrustFinding finding);

// After a folder's icon is set: removes the mark from its Desktop.ini where the command
// line asked for that, and warns of every finding that stays. False only when the asked
// removal failed.
bool SettleTrust(const wchar_t* path, const IconTarget& target, bool trustDesktopIni);

} // namespace orvane::cli

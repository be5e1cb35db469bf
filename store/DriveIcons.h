// Drive icons: HKEY_LOCAL_MACHINE\...\Explorer\DriveIcons\<letter>\DefaultIcon, short form.
#pragma once

#include <windows.h>

#include <optional>

#include "IconLocation.h"

namespace orvane {

constexpr const char DriveIconsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";

// The drive letter is the first character of drivePath; Owner of the result is the letter.
std::optional<IconLocation> ReadDriveIcon(const char* drivePath);
// True when the drive (its letter the first character of drivePath) has an entry of its
// own under DriveIcons, which DeleteDriveIcon would take out.
bool HasDriveEntry(const char* drivePath);
// The drive letter is the first character of the location's Owner.
LONG WriteDriveIcon(const IconLocation& location);
LONG DeleteDriveIcon(const IconLocation& location);

} // namespace orvane

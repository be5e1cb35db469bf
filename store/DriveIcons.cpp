#include "DriveIcons.h"

#include "FileTypeIcons.h"
#include "Registry.h"

namespace orvane {

namespace {

// The letter of a drive path as a one-character key name. Only a letter names a drive;
// anything else (a backslash in particular) would address another key under DriveIcons.
bool DriveLetterText(const char* path, char (&letter)[2])
{
    if (path == nullptr)
        return false;
    const char c = path[0];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
        return false;
    letter[0] = c;
    letter[1] = '\0';
    return true;
}

bool FormatDriveEntryPath(const char* owner, char (&path)[TextCapacity])
{
    char letter[2];
    return DriveLetterText(owner, letter) &&
           FormatKeyPath(path, sizeof path, "%s\\%s\\DefaultIcon", DriveIconsKey, letter);
}

} // namespace

std::optional<IconLocation> ReadDriveIcon(const char* drivePath)
{
    char letter[2];
    if (!DriveLetterText(drivePath, letter))
        return std::nullopt;

    // Without the DriveIcons key no drive has an icon of its own, and none is reported:
    // the Drive class is consulted only once the key exists.
    RegKey drives;
    if (drives.Open(HKEY_LOCAL_MACHINE, DriveIconsKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return std::nullopt;
    auto location = LookupClassIcon(drives.get(), letter, nullptr);
    drives.reset();

    if (!location)
        location = LookupClassIcon(HKEY_CLASSES_ROOT, "Drive", nullptr);
    if (location)
        location->SetOwner(letter);
    return location;
}

bool HasDriveEntry(const char* drivePath)
{
    char path[TextCapacity];
    if (!FormatDriveEntryPath(drivePath, path))
        return false;
    RegKey key;
    return key.Open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

LONG WriteDriveIcon(const IconLocation& location)
{
    char path[TextCapacity];
    if (!FormatDriveEntryPath(location.Owner, path))
        return ERROR_INVALID_DRIVE;
    // Refused before the key is made, so that a text that cannot be stored leaves no
    // empty entry behind.
    char text[TextCapacity];
    if (!FormatIconLocation(location, false, text, sizeof text))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey key;
    LONG status = key.Open(HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS) {
        status = key.Create(HKEY_LOCAL_MACHINE, path);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return WriteIconLocationValue(key.get(), location, nullptr, false);
}

LONG DeleteDriveIcon(const IconLocation& location)
{
    char path[TextCapacity];
    if (!FormatDriveEntryPath(location.Owner, path))
        return ERROR_INVALID_DRIVE;
    // Only "DefaultIcon" goes; the letter's key and the DriveIcons key stay.
    return DeletionStatus(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path));
}

} // namespace orvane

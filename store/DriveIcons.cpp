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

// The entry's key relative to its scope's root: HKEY_LOCAL_MACHINE for all users,
// HKEY_CURRENT_USER for this user.
bool FormatDriveEntryPath(Scope scope, const char* owner, char (&path)[TextCapacity])
{
    char letter[2];
    if (!DriveLetterText(owner, letter))
        return false;
    if (scope == Scope::AllUsers)
        return FormatKeyPath(path, sizeof path, "%s\\%s\\DefaultIcon", DriveIconsKey, letter);
    return FormatKeyPath(path, sizeof path, "%s\\%s\\%s\\DefaultIcon", UserClassesKey, UserDriveIconsKey, letter);
}

// The key below which a scope keeps its drives' letters.
bool FormatDrivesPath(Scope scope, char (&path)[TextCapacity])
{
    if (scope == Scope::AllUsers)
        return CopyText(path, sizeof path, DriveIconsKey);
    return FormatKeyPath(path, sizeof path, "%s\\%s", UserClassesKey, UserDriveIconsKey);
}

} // namespace

bool NamesDrive(const char* path)
{
    char letter[2];
    return DriveLetterText(path, letter);
}

std::optional<IconLocation> ReadDriveIcon(const char* drivePath, std::optional<Scope>* found)
{
    char letter[2];
    if (!DriveLetterText(drivePath, letter))
        return std::nullopt;

    // Without a drive icons key no drive has an icon of its own, and none is reported:
    // the Drive class is consulted only once one of the scopes' keys exists.
    bool anyDrivesKey = false;
    std::optional<IconLocation> location;
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        char path[TextCapacity];
        RegKey drives;
        if (!FormatDrivesPath(scope, path) ||
            drives.Open(ProductKeyRoot(scope), path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
            continue;
        anyDrivesKey = true;
        location = LookupClassIcon(drives.get(), letter, nullptr);
        if (location) {
            if (found != nullptr)
                *found = scope;
            break;
        }
    }
    if (!anyDrivesKey)
        return std::nullopt;

    if (!location)
        location = LookupClassIcon(HKEY_CLASSES_ROOT, "Drive", nullptr);
    if (location)
        location->SetOwner(letter);
    return location;
}

bool HasDriveEntryIn(Scope scope, const char* drivePath)
{
    char path[TextCapacity];
    if (!FormatDriveEntryPath(scope, drivePath, path))
        return false;
    RegKey key;
    return key.Open(ProductKeyRoot(scope), path, KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

std::optional<Scope> DriveEntryScope(const char* drivePath)
{
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (HasDriveEntryIn(scope, drivePath))
            return scope;
    }
    return std::nullopt;
}

bool HasDriveEntry(const char* drivePath) { return DriveEntryScope(drivePath).has_value(); }

bool MayWriteDriveIcon(Scope scope, const char* drivePath, REGSAM access)
{
    char path[TextCapacity];
    return FormatDriveEntryPath(scope, drivePath, path) && MayWrite(ProductKeyRoot(scope), path, access);
}

bool MayUseDriveIcons(Scope scope)
{
    char path[TextCapacity];
    return FormatDrivesPath(scope, path) && MayWrite(ProductKeyRoot(scope), path, KEY_CREATE_SUB_KEY);
}

LONG WriteDriveIcon(const IconLocation& location, Scope scope)
{
    char path[TextCapacity];
    if (!FormatDriveEntryPath(scope, location.Owner, path))
        return ERROR_INVALID_DRIVE;
    // Refused before the key is made, so that a text that cannot be stored leaves no
    // empty entry behind.
    char text[TextCapacity];
    if (!FormatIconLocation(location, false, text, sizeof text))
        return ERROR_FILENAME_EXCED_RANGE;

    const HKEY root = ProductKeyRoot(scope);
    RegKey key;
    LONG status = key.Open(root, path, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS) {
        status = key.Create(root, path);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return WriteIconLocationValue(key.get(), location, nullptr, false);
}

LONG DeleteDriveIcon(const IconLocation& location, Scope scope)
{
    char path[TextCapacity];
    if (!FormatDriveEntryPath(scope, location.Owner, path))
        return ERROR_INVALID_DRIVE;
    const HKEY root = ProductKeyRoot(scope);
    const LONG status = DeletionStatus(RegDeleteKeyA(root, path));
    if (status != ERROR_SUCCESS || scope == Scope::AllUsers)
        return status;
    return RemoveEmptyKeys(root, UserClassesKey, path + sizeof UserClassesKey);
}

} // namespace orvane

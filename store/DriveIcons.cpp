#include "DriveIcons.h"

#include <iterator>

#include "FileTypeIcons.h"
#include "Registry.h"

namespace orvane {

namespace {

// The letter of a drive path as a one-character key name. Only a letter names a drive;
// anything else (a backslash in particular) would address another key under DriveIcons.
bool DriveLetterText(const wchar_t* path, wchar_t (&letter)[2])
{
    if (path == nullptr)
        return false;
    const wchar_t c = path[0];
    if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')))
        return false;
    letter[0] = c;
    letter[1] = L'\0';
    return true;
}

// The entry's key relative to its scope's root: HKEY_LOCAL_MACHINE for all users,
// HKEY_CURRENT_USER for this user.
bool FormatDriveEntryPath(Scope scope, const wchar_t* owner, wchar_t (&path)[TextCapacity])
{
    wchar_t letter[2];
    if (!DriveLetterText(owner, letter))
        return false;
    if (scope == Scope::AllUsers)
        return FormatKeyPath(path, std::size(path), L"%ls\\%ls\\DefaultIcon", DriveIconsKey, letter);
    return FormatKeyPath(path, std::size(path), L"%ls\\%ls\\%ls\\DefaultIcon", UserClassesKey, UserDriveIconsKey,
                         letter);
}

// The key below which a scope keeps its drives' letters.
bool FormatDrivesPath(Scope scope, wchar_t (&path)[TextCapacity])
{
    if (scope == Scope::AllUsers)
        return CopyText(path, std::size(path), DriveIconsKey);
    return FormatKeyPath(path, std::size(path), L"%ls\\%ls", UserClassesKey, UserDriveIconsKey);
}

} // namespace

bool NamesDrive(const wchar_t* path)
{
    wchar_t letter[2];
    return DriveLetterText(path, letter);
}

std::optional<IconLocation> ReadDriveIcon(const wchar_t* drivePath, std::optional<Scope>* found)
{
    wchar_t letter[2];
    if (!DriveLetterText(drivePath, letter))
        return std::nullopt;

    // Without a drive icons key no drive has an icon of its own, and none is reported:
    // the Drive class is consulted only once one of the scopes' keys exists.
    bool anyDrivesKey = false;
    std::optional<IconLocation> location;
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        wchar_t path[TextCapacity];
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
        location = LookupClassIcon(HKEY_CLASSES_ROOT, L"Drive", nullptr);
    if (location)
        location->SetOwner(letter);
    return location;
}

bool HasDriveEntryIn(Scope scope, const wchar_t* drivePath)
{
    wchar_t path[TextCapacity];
    if (!FormatDriveEntryPath(scope, drivePath, path))
        return false;
    RegKey key;
    return key.Open(ProductKeyRoot(scope), path, KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

std::optional<Scope> DriveEntryScope(const wchar_t* drivePath)
{
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (HasDriveEntryIn(scope, drivePath))
            return scope;
    }
    return std::nullopt;
}

bool HasDriveEntry(const wchar_t* drivePath) { return DriveEntryScope(drivePath).has_value(); }

bool MayWriteDriveIcon(Scope scope, const wchar_t* drivePath, REGSAM access)
{
    wchar_t path[TextCapacity];
    return FormatDriveEntryPath(scope, drivePath, path) && MayWrite(ProductKeyRoot(scope), path, access);
}

bool MayUseDriveIcons(Scope scope)
{
    wchar_t path[TextCapacity];
    return FormatDrivesPath(scope, path) && MayWrite(ProductKeyRoot(scope), path, KEY_CREATE_SUB_KEY);
}

LONG WriteDriveIcon(const IconLocation& location, Scope scope)
{
    wchar_t path[TextCapacity];
    if (!FormatDriveEntryPath(scope, location.Owner, path))
        return ERROR_INVALID_DRIVE;
    // Refused before the key is made, so that a text that cannot be stored leaves no
    // empty entry behind.
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, false, text, std::size(text)))
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
    wchar_t path[TextCapacity];
    if (!FormatDriveEntryPath(scope, location.Owner, path))
        return ERROR_INVALID_DRIVE;
    const HKEY root = ProductKeyRoot(scope);
    const LONG status = DeletionStatus(RegDeleteKeyW(root, path));
    if (status != ERROR_SUCCESS || scope == Scope::AllUsers)
        return status;
    return RemoveEmptyKeys(root, UserClassesKey, path + std::size(UserClassesKey));
}

} // namespace orvane

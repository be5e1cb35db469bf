#include "DriveIcons.h"

#include <cwchar>
#include <iterator>
#include <new>
#include <vector>

#include "FileTypeIcons.h"
#include "Registry.h"
#include "RegistryNames.h"

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
        return FormatKeyPath(path, std::size(path), L"%ls\\%ls\\%ls", DriveIconsKey, letter, DefaultIconKey);
    return FormatKeyPath(path, std::size(path), L"%ls\\%ls\\%ls\\%ls", UserClassesKey, UserDriveIconsKey, letter,
                         DefaultIconKey);
}

// The key below which a scope keeps its drives' letters.
bool FormatDrivesPath(Scope scope, wchar_t (&path)[TextCapacity])
{
    if (scope == Scope::AllUsers)
        return CopyText(path, std::size(path), DriveIconsKey);
    return FormatKeyPath(path, std::size(path), L"%ls\\%ls", UserClassesKey, UserDriveIconsKey);
}

// The key below which a scope's chain of drive keys begins; the keys from a letter's
// DefaultIcon up to (not including) it are the ones a change may have created.
const wchar_t* DriveChainBase(Scope scope)
{
    return scope == Scope::AllUsers ? ExplorerKey : UserClassesKey;
}

// How many keys of the entry's path, from DefaultIcon upwards and not above the scope's
// chain base, do not exist yet.
DWORD CountMissingKeys(HKEY root, const wchar_t* path, const wchar_t* base)
{
    wchar_t current[TextCapacity];
    if (!CopyText(current, std::size(current), path))
        return 0;
    const std::size_t baseLength = std::wcslen(base);
    DWORD missing = 0;
    while (std::wcslen(current) > baseLength) {
        if (KeyExists(root, current))
            break;
        ++missing;
        wchar_t* separator = std::wcsrchr(current, L'\\');
        if (separator == nullptr)
            break;
        *separator = L'\0';
    }
    return missing;
}

// Deletes the entry's key and then its parents, `count` keys in all and none at or above
// the scope's chain base (the count is registry data, and may be anything), each only
// while it holds no value and no key. A key already gone ends the walk.
LONG RemoveCreatedKeys(HKEY root, const wchar_t* path, DWORD count, const wchar_t* base)
{
    const std::size_t baseLength = std::wcslen(base);
    if (std::wcsncmp(path, base, baseLength) != 0 || path[baseLength] != L'\\')
        return ERROR_INVALID_PARAMETER;
    return RemoveEmptyKeys(root, base, path + baseLength + 1, {count, true});
}

// A value exactly as it is stored: its type and its bytes, whatever they are.
struct RawValue {
    DWORD Type = REG_NONE;
    std::vector<BYTE> Data;
};

// Larger than any icon location; a drive icon value beyond it is not copied.
constexpr DWORD RawValueLimit = 64 * 1024;

// ERROR_FILE_NOT_FOUND when there is no such value.
LONG ReadRawValue(HKEY key, const wchar_t* name, RawValue* value)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (size > RawValueLimit)
        return ERROR_MORE_DATA;
    try {
        value->Data.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    DWORD read = size;
    status = RegQueryValueExW(key, name, nullptr, &type, size != 0 ? value->Data.data() : nullptr, &read);
    if (status != ERROR_SUCCESS)
        return status;
    if (read > size)
        return ERROR_MORE_DATA;
    value->Data.resize(read);
    value->Type = type;
    return ERROR_SUCCESS;
}

LONG WriteRawValue(HKEY key, const wchar_t* name, const RawValue& value)
{
    return RegSetValueExW(key, name, 0, value.Type, value.Data.empty() ? nullptr : value.Data.data(),
                          static_cast<DWORD>(value.Data.size()));
}

// The number of keys the entry's first change created, from its marker; none when the
// entry has no marker (or one that is not a REG_DWORD): then it is not this product's.
std::optional<DWORD> ReadCreatedKeys(HKEY key)
{
    DWORD type = REG_NONE;
    DWORD count = 0;
    DWORD size = sizeof count;
    if (RegQueryValueExW(key, DriveCreatedKeysValue, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof count)
        return std::nullopt;
    return count;
}

} // namespace

bool StartsWithDriveLetter(const wchar_t* path)
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
        location = LookupClassIcon(HKEY_CLASSES_ROOT, DriveClassKey, nullptr);
    if (location)
        location->SetTargetName(letter);
    return location;
}

bool HasDriveEntry(const wchar_t* drivePath, Scope scope)
{
    wchar_t path[TextCapacity];
    if (!FormatDriveEntryPath(scope, drivePath, path))
        return false;
    return KeyExists(ProductKeyRoot(scope), path);
}

bool HasOwnDriveEntry(const wchar_t* drivePath, Scope scope)
{
    wchar_t path[TextCapacity];
    if (!FormatDriveEntryPath(scope, drivePath, path))
        return false;
    RegKey key;
    return key.Open(ProductKeyRoot(scope), path, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
           ReadCreatedKeys(key.get()).has_value();
}

std::optional<Scope> DriveEntryScope(const wchar_t* drivePath)
{
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (HasDriveEntry(drivePath, scope))
            return scope;
    }
    return std::nullopt;
}

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
    if (!FormatDriveEntryPath(scope, location.TargetName, path))
        return ERROR_INVALID_DRIVE;
    // Refused before the key is made, so that a text that cannot be stored leaves no
    // empty entry behind.
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, false, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;

    const HKEY root = ProductKeyRoot(scope);
    RegKey key;
    DWORD created = 0;
    LONG status = key.Open(root, path, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS) {
        created = CountMissingKeys(root, path, DriveChainBase(scope));
        status = key.Create(root, path);
        if (status != ERROR_SUCCESS)
            return status;
    }
    if (ReadCreatedKeys(key.get()))
        return WriteIconLocationValue(key.get(), location, nullptr, false);

    // The first change of an entry that is not this product's keeps what the drive had
    // (its type and bytes as they were) and marks the entry as this product's; a change
    // that fails on the way takes all of it out again.
    RawValue before;
    status = ReadRawValue(key.get(), nullptr, &before);
    const bool hadIcon = status == ERROR_SUCCESS;
    if (status == ERROR_FILE_NOT_FOUND)
        status = ERROR_SUCCESS;
    if (status == ERROR_SUCCESS && hadIcon)
        status = WriteRawValue(key.get(), DriveBackupValue, before);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), DriveCreatedKeysValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&created),
                                sizeof created);
    if (status == ERROR_SUCCESS)
        status = WriteIconLocationValue(key.get(), location, nullptr, false);
    if (status != ERROR_SUCCESS) {
        if (hadIcon)
            WriteRawValue(key.get(), nullptr, before);
        RegDeleteValueW(key.get(), DriveBackupValue);
        RegDeleteValueW(key.get(), DriveCreatedKeysValue);
        key.reset();
        RemoveCreatedKeys(root, path, created, DriveChainBase(scope));
    }
    return status;
}

LONG DeleteDriveIcon(const IconLocation& location, Scope scope)
{
    wchar_t path[TextCapacity];
    if (!FormatDriveEntryPath(scope, location.TargetName, path))
        return ERROR_INVALID_DRIVE;
    const HKEY root = ProductKeyRoot(scope);
    RegKey key;
    LONG status = key.Open(root, path, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    // An entry this product never made is someone else's icon, and stays.
    const std::optional<DWORD> created = ReadCreatedKeys(key.get());
    if (!created)
        return ERROR_SUCCESS;
    RawValue before;
    status = ReadRawValue(key.get(), DriveBackupValue, &before);
    if (status == ERROR_SUCCESS) {
        status = WriteRawValue(key.get(), nullptr, before);
        if (status == ERROR_SUCCESS)
            status = DeletionStatus(RegDeleteValueW(key.get(), DriveBackupValue));
    } else if (status == ERROR_FILE_NOT_FOUND) {
        status = DeletionStatus(RegDeleteValueW(key.get(), nullptr));
    }
    if (status != ERROR_SUCCESS)
        return status;
    status = DeletionStatus(RegDeleteValueW(key.get(), DriveCreatedKeysValue));
    key.reset();
    if (status != ERROR_SUCCESS)
        return status;
    return RemoveCreatedKeys(root, path, *created, DriveChainBase(scope));
}

} // namespace orvane

#include "RemoveAll.h"

#include <iterator>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconLocation.h"
#include "Registry.h"

namespace orvane {

namespace {

// Keeps the first failure.
struct FirstFailure {
    LONG Status = ERROR_SUCCESS;
    void Note(LONG status)
    {
        if (Status == ERROR_SUCCESS)
            Status = status;
    }
};

bool KeyExists(HKEY root, const wchar_t* path)
{
    RegKey key;
    return key.Open(root, path, KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

// The tables hold only values; a table that somehow gained subkeys, which
// RegDeleteKeyW refuses to delete, goes with everything below it. A table that refuses
// changes is left whole: the platform checks only the key it opens, so a deletion tried
// there could take parts of it.
LONG DeleteTable(HKEY root, const wchar_t* path)
{
    if (!KeyExists(root, path))
        return ERROR_SUCCESS;
    if (!MayWrite(root, path, KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    const LONG status = DeletionStatus(RegDeleteKeyW(root, path));
    if (status == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return DeletionStatus(RegDeleteTreeW(root, path)) == ERROR_SUCCESS ? ERROR_SUCCESS : status;
}

// Deletes root\path when it holds nothing at all.
void DeleteIfEmpty(HKEY root, const wchar_t* path)
{
    RegKey key;
    if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys != 0 || values != 0)
        return;
    key.reset();
    RegDeleteKeyW(root, path);
}

void Uninstall(Scope scope, const wchar_t* className, FirstFailure& result)
{
    IconLocation location;
    if (location.SetTypeKey(className))
        result.Note(UninstallIconHandler(location, scope));
}

// All users' classes: the registry lists HKEY_CLASSES_ROOT's keys in order of their
// names: "*" and any other name that sorts before the dot, then the extension keys as
// one run, then the class keys. Only the run of extensions is of interest; the walk
// ends after it. Each extension's class as all users' key names it, and the one this
// user's files take their icon from when that is another.
void UninstallFromAllUsersClasses(FirstFailure& result)
{
    bool inExtensions = false;
    for (DWORD index = 0;; ++index) {
        wchar_t name[TextCapacity];
        DWORD nameSize = static_cast<DWORD>(std::size(name));
        const LONG status = RegEnumKeyExW(HKEY_CLASSES_ROOT, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS)
                result.Note(status);
            break;
        }
        if (name[0] != L'.') {
            if (inExtensions)
                break;
            continue;
        }
        inExtensions = true;

        wchar_t named[TextCapacity] = {};
        RegKey extensionKey;
        if (extensionKey.Open(HKEY_CLASSES_ROOT, name, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
            ReadTextValue(extensionKey.get(), nullptr, named, std::size(named)) && named[0] != L'\0')
            Uninstall(Scope::AllUsers, named, result);
        wchar_t seen[TextCapacity];
        if (ReadExtensionClass(name, seen) && !SameKeyName(seen, named))
            Uninstall(Scope::AllUsers, seen, result);
    }
}

// This user's classes: every class key there, since an installation for this user
// makes this user's key of the class it serves (the class an extension key names, the
// one UserChoice names, or one at the end of a CurVer chain) whichever scope the
// extension key is in. Uninstalling leaves alone a class without anything of this
// extension's, and deletes a class key that it leaves empty: the walk then stays at the
// same index.
void UninstallFromUserClasses(FirstFailure& result)
{
    RegKey classes;
    if (classes.Open(HKEY_CURRENT_USER, UserClassesKey, KEY_READ) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;;) {
        wchar_t name[TextCapacity];
        DWORD nameSize = static_cast<DWORD>(std::size(name));
        const LONG status = RegEnumKeyExW(classes.get(), index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            ++index; // a name longer than any class of this system's
            continue;
        }
        if (status != ERROR_SUCCESS) {
            if (status != ERROR_NO_MORE_ITEMS)
                result.Note(status);
            break;
        }
        Uninstall(Scope::ThisUser, name, result);
        RegKey still;
        if (still.Open(classes.get(), name, KEY_QUERY_VALUE) == ERROR_SUCCESS)
            ++index;
    }
}

} // namespace

LONG RemoveAllSettings(Scope scope)
{
    FirstFailure result;
    if (scope == Scope::AllUsers)
        UninstallFromAllUsersClasses(result);
    else
        UninstallFromUserClasses(result);

    const HKEY root = ProductKeyRoot(scope);
    result.Note(DeleteTable(root, FileIconsKey));
    result.Note(DeleteTable(root, FolderBackupKey));
    if (scope == Scope::ThisUser) {
        // The product's keys of this user's that only held the tables.
        DeleteIfEmpty(root, ProductKey);
        DeleteIfEmpty(root, L"Software\\Brindlewick Software");
    }
    return result.Status;
}

LONG RemoveAllSettings()
{
    FirstFailure result;
    result.Note(RemoveAllSettings(Scope::ThisUser));
    result.Note(RemoveAllSettings(Scope::AllUsers));
    return result.Status;
}

} // namespace orvane

#include "RemoveAll.h"

#include <iterator>
#include <string>
#include <vector>

#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "IconHandlerUninstall.h"
#include "MadeIconSweep.h"
#include "IconLocation.h"
#include "MadeIconPlaces.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"

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
    return DeleteKeyTree(root, path) == ERROR_SUCCESS ? ERROR_SUCCESS : status;
}

// The name of key's subkey at index: RegEnumKeyExW's status, ERROR_MORE_DATA for a name
// longer than any class of this system's.
LONG SubkeyName(HKEY key, DWORD index, wchar_t (&name)[TextCapacity])
{
    DWORD nameSize = static_cast<DWORD>(std::size(name));
    return RegEnumKeyExW(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
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
        const LONG status = SubkeyName(HKEY_CLASSES_ROOT, index, name);
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

        // The class all users' key names, the one at the end of its CurVer chain, and the
        // same for the class this user's files take their icon from (UserChoice), where
        // a file's own icon installs the handler when the class has no DefaultIcon.
        wchar_t named[TextCapacity] = {};
        wchar_t seen[TextCapacity] = {};
        wchar_t classes[4][TextCapacity] = {};
        int count = 0;
        RegKey extensionKey;
        if (extensionKey.Open(HKEY_CLASSES_ROOT, name, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
            ReadTextValue(extensionKey.get(), nullptr, named, std::size(named)) && named[0] != L'\0') {
            CopyText(classes[count++], TextCapacity, named);
            if (FollowCurVerToIconClass(named, classes[count]))
                ++count;
        }
        if (ReadExtensionClass(name, seen)) {
            CopyText(classes[count++], TextCapacity, seen);
            if (FollowCurVerToIconClass(seen, classes[count]))
                ++count;
        }
        for (int i = 0; i < count; ++i) {
            bool done = false;
            for (int j = 0; j < i && !done; ++j)
                done = SameKeyName(classes[i], classes[j]);
            if (!done)
                Uninstall(Scope::AllUsers, classes[i], result);
        }
    }
}

// Hands each subkey name of key to visit, which answers whether that key is still there:
// one that visit deleted moves the next to its index, and the walk stays there. Names
// longer than any class of this system's are passed over. The failure the walk ended on,
// if any.
template <class Visit>
LONG ForEachSubkey(HKEY key, Visit visit)
{
    for (DWORD index = 0;;) {
        wchar_t name[TextCapacity];
        const LONG status = SubkeyName(key, index, name);
        if (status == ERROR_MORE_DATA) {
            ++index;
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
        if (visit(name))
            ++index;
    }
}

// Uninstalls from each of this user's class keys. Uninstalling leaves alone a class
// without anything of this extension's, and deletes a class key that it leaves empty.
// The names of the class keys that went.
std::vector<std::wstring> UninstallFromEachUserClass(HKEY classes, FirstFailure& result)
{
    std::vector<std::wstring> removed;
    result.Note(ForEachSubkey(classes, [&](const wchar_t* name) {
        Uninstall(Scope::ThisUser, name, result);
        if (KeyExists(classes, name))
            return true;
        removed.emplace_back(name);
        return false;
    }));
    return removed;
}

// A type new to this user was given this user's key of its extension too, which goes
// with its class. The extension keys are listed before the class keys, so they are
// walked again once the classes are done.
void RemoveExtensionKeysOf(HKEY classes, const std::vector<std::wstring>& removed, FirstFailure& result)
{
    ForEachSubkey(classes, [&](const wchar_t* name) {
        wchar_t named[TextCapacity] = {};
        RegKey extensionKey;
        if (name[0] != L'.' || extensionKey.Open(classes, name, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
            !ReadTextValue(extensionKey.get(), nullptr, named, std::size(named)))
            return true;
        extensionKey.reset();
        for (const std::wstring& className : removed) {
            if (SameKeyName(className.c_str(), named)) {
                result.Note(RemoveUserExtensionKey(name, named));
                return KeyExists(classes, name);
            }
        }
        return true;
    });
}

// This user's classes: every class key there, since an installation for this user
// makes this user's key of the class it serves (the class an extension key names, the
// one UserChoice names, or one at the end of a CurVer chain) whichever scope the
// extension key is in.
void UninstallFromUserClasses(FirstFailure& result)
{
    RegKey classes;
    if (classes.Open(HKEY_CURRENT_USER, UserClassesKey, KEY_READ) != ERROR_SUCCESS)
        return;
    const std::vector<std::wstring> removed = UninstallFromEachUserClass(classes.get(), result);
    if (!removed.empty())
        RemoveExtensionKeysOf(classes.get(), removed, result);
}

// The folders whose backups a scope keeps (the values' names), read before the backups
// go: an icon made for a folder that only a backup named goes with them.
std::vector<std::wstring> FoldersWithBackups(HKEY root) { return ReadValueNames(root, FolderBackupKey); }

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
    result.Note(DeleteTable(root, FileIconIdsKey));
    const std::vector<std::wstring> folders = FoldersWithBackups(root);
    result.Note(DeleteTable(root, FolderBackupKey));
    result.Note(DeleteTable(root, FolderStateKey));
    for (const std::wstring& folder : folders)
        DeleteUnnamedMadeIcons(folder.c_str());
    DeleteUnnamedStoredMadeIcons();
    // The product's keys of this user's that only held the tables; what stays there is
    // no failure of removing the settings.
    if (scope == Scope::ThisUser)
        RemoveEmptyUserProductKeys(ProductKey);
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

#include "IconHandlerUninstall.h"

#include <cwchar>
#include <iterator>

#include "ClassIconHandler.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

LONG FirstFailure(LONG first, LONG next)
{
    return first != ERROR_SUCCESS ? first : next;
}

bool IsOwnHandler(HKEY classKey)
{
    RegKey handler;
    if (handler.Open(classKey, IconHandlerKey, KEY_READ) != ERROR_SUCCESS)
        return false;
    wchar_t text[TextCapacity] = {};
    return ReadTextValue(handler.get(), nullptr, text, std::size(text)) && IsOwnHandlerText(text);
}

// Whether shellex\IconHandler names a handler other than this extension: any text but
// this extension's class identifier (one too long to read included).
bool HasOtherHandler(HKEY classKey)
{
    RegKey handler;
    if (handler.Open(classKey, IconHandlerKey, KEY_READ) != ERROR_SUCCESS)
        return false;
    wchar_t text[TextCapacity] = {};
    const LONG status = QueryTextValue(handler.get(), nullptr, text, std::size(text));
    if (status == ERROR_FILE_NOT_FOUND)
        return false;
    return status != ERROR_SUCCESS || (text[0] != L'\0' && !IsOwnHandlerText(text));
}

// Puts a DefaultIcon text back. An empty backup stands for a class that had no icon
// text (or no DefaultIcon key, which installation created): the default value is
// removed again, and a DefaultIcon key left with nothing in it is deleted.
LONG PutBackDefaultIcon(HKEY classKey, const wchar_t (&text)[TextCapacity], DWORD type)
{
    RegKey defaultIcon;
    LONG status = defaultIcon.Open(classKey, DefaultIconKey, KEY_ALL_ACCESS);
    if (text[0] == L'\0') {
        if (status != ERROR_SUCCESS)
            return DeletionStatus(status);
        status = DeletionStatus(RegDeleteValueW(defaultIcon.get(), nullptr));
        if (status != ERROR_SUCCESS)
            return status;
        defaultIcon.reset();
        return DeleteKeyIfEmpty(classKey, DefaultIconKey);
    }
    if (status == ERROR_FILE_NOT_FOUND)
        status = defaultIcon.Create(classKey, DefaultIconKey);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(defaultIcon.get(), nullptr, text, type);
}

// Takes this extension's class identifier out of shellex\IconHandler, and the keys
// that then hold nothing. Another handler's text is left alone.
LONG RemoveOwnHandler(HKEY classKey)
{
    if (!IsOwnHandler(classKey))
        return ERROR_SUCCESS;
    LONG status = DeleteKeyValue(classKey, IconHandlerKey, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = DeleteKeyIfEmpty(classKey, IconHandlerKey);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteKeyIfEmpty(classKey, ShellexKey);
}

// "HandlerIconInfo" of a class whose type change has been restored (no "BAKIconInfo"
// left) holds what DefaultIconBAK holds too, the text uninstalling puts back: kept beside
// it, the value would outlive the installation, and nothing would take it away later. A
// change still waiting to be restored keeps it, for that restore to find.
LONG DropChosenIconOfRestoredType(HKEY classKey)
{
    RegKey defaultIcon;
    if (defaultIcon.Open(classKey, DefaultIconKey, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        RegQueryValueExW(defaultIcon.get(), BackupIconValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return DeletionStatus(RegDeleteValueW(defaultIcon.get(), HandlerIconValue));
}

// DefaultIconBAK back into DefaultIcon (a backup key is this system's own, and anything
// found below it goes with it). A backup that cannot be read is deleted (there
// is nothing to restore from it) and reported; a backup whose restore could not be
// written is kept, so that a later uninstallation can still put it back.
LONG RestoreDefaultIcon(HKEY classKey)
{
    RegKey backup;
    LONG status = backup.Open(classKey, DefaultIconBackupKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    wchar_t text[TextCapacity] = {};
    DWORD type = REG_SZ;
    const bool readable = QueryTextValue(backup.get(), nullptr, text, std::size(text), &type) == ERROR_SUCCESS;
    backup.reset();
    if (readable) {
        status = DropChosenIconOfRestoredType(classKey);
        if (status != ERROR_SUCCESS)
            return status;
        status = PutBackDefaultIcon(classKey, text, type);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return FirstFailure(readable ? ERROR_SUCCESS : ERROR_INVALID_DATA, DeleteKeyTree(classKey, DefaultIconBackupKey));
}

// shellex\IconHandlerBAK back into shellex\IconHandler; without a backup the class had
// no handler before, and this extension's own is taken out.
LONG RestoreIconHandler(HKEY classKey)
{
    RegKey backup;
    LONG status = backup.Open(classKey, IconHandlerBackupKey, KEY_READ);
    if (status == ERROR_FILE_NOT_FOUND)
        return RemoveOwnHandler(classKey);
    if (status != ERROR_SUCCESS)
        return status;
    wchar_t text[TextCapacity] = {};
    DWORD type = REG_SZ;
    const bool readable = QueryTextValue(backup.get(), nullptr, text, std::size(text), &type) == ERROR_SUCCESS;
    backup.reset();
    if (readable) {
        status = CreateKeyWithText(classKey, IconHandlerKey, nullptr, text, type);
        if (status != ERROR_SUCCESS)
            return status;
        return DeleteKeyTree(classKey, IconHandlerBackupKey);
    }
    status = FirstFailure(ERROR_INVALID_DATA, DeleteKeyTree(classKey, IconHandlerBackupKey));
    // The handler to return to is lost; leaving this extension in its place would keep
    // it serving a class that no longer has any per-file icon.
    return FirstFailure(status, RemoveOwnHandler(classKey));
}

// This user's extension key when it holds nothing but its default value naming the class,
// and all users have no key of the extension: what pointing a type new to this user at
// its class made, and nothing the user had before.
LONG RemoveUserExtensionKeyOf(HKEY classes, const wchar_t* extension, const wchar_t* typeKey)
{
    if (extension == nullptr || extension[0] == L'\0' || std::wcslen(extension) > MaxKeyNameLength ||
        KeyExists(HKEY_CLASSES_ROOT, extension))
        return ERROR_SUCCESS;
    RegKey key;
    LONG status = key.Open(classes, extension, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    DWORD subkeys = 0;
    DWORD values = 0;
    if (CountKeyContents(key.get(), subkeys, values) != ERROR_SUCCESS || subkeys != 0 || values != 1)
        return ERROR_SUCCESS;
    wchar_t named[TextCapacity] = {};
    if (!ReadTextValue(key.get(), nullptr, named, std::size(named)) || !SameKeyName(named, typeKey))
        return ERROR_SUCCESS;
    key.reset();
    return DeletionStatus(RegDeleteKeyW(classes, extension));
}

// Once this user's class key of typeKey is gone, this user's key of the extension when
// it only pointed there.
LONG RemoveExtensionKeyOfRemovedClass(HKEY classes, const wchar_t* extension, const wchar_t* typeKey)
{
    if (KeyExists(classes, typeKey))
        return ERROR_SUCCESS;
    return RemoveUserExtensionKeyOf(classes, extension, typeKey);
}

// Opens this user's classes key for cleaning up around typeKey; the key stays closed (and
// the status says why) when there is nothing to clean: no such class name can exist, or
// this user has no classes key.
LONG OpenUserClassesAround(const wchar_t* typeKey, RegKey& classes)
{
    if (!CanNameKey(typeKey))
        return ERROR_SUCCESS;
    return DeletionStatus(classes.Open(HKEY_CURRENT_USER, UserClassesKey, KEY_READ));
}

} // namespace

LONG UninstallIconHandler(const IconLocation& location, Scope scope)
{
    if (location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;

    // No key has a name that long, so nothing of this extension's can be there.
    if (std::wcslen(location.TypeKey) > MaxKeyNameLength)
        return ERROR_SUCCESS;

    // A class that holds nothing of this extension's is left alone without asking for
    // write access, which a user without administrator rights does not have.
    RegKey classKey;
    LONG status = OpenClassKey(scope, location.TypeKey, KEY_READ, classKey);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    if (!KeyMayExist(classKey.get(), DefaultIconBackupKey) && !KeyMayExist(classKey.get(), IconHandlerBackupKey) &&
        !IsOwnHandler(classKey.get()))
        return ERROR_SUCCESS;
    // Another program's handler has taken this extension's place since: the "%1" in
    // DefaultIcon is what makes the shell consult that handler, and the class is no longer
    // this extension's to hand back. The backups stay, for the day that program gives the
    // handler back to this extension.
    if (HasOtherHandler(classKey.get()))
        return ERROR_SUCCESS;

    status = OpenClassKey(scope, location.TypeKey, KEY_ALL_ACCESS, classKey);
    if (status != ERROR_SUCCESS)
        return status;
    status = RestoreDefaultIcon(classKey.get());
    // A DefaultIcon that could not be put back keeps its backup, and the installation
    // stays whole for a later try: the previous handler back beside "%1" would look like
    // another program's taking over, which is left alone.
    if (status != ERROR_SUCCESS && KeyMayExist(classKey.get(), DefaultIconBackupKey))
        return status;
    status = FirstFailure(status, RestoreIconHandler(classKey.get()));
    classKey.reset();
    if (scope == Scope::ThisUser)
        status = FirstFailure(status, RemoveEmptyUserClassKeys(location.TypeKey, location.TargetName));
    return status;
}

LONG RemoveUserExtensionKey(const wchar_t* extension, const wchar_t* typeKey)
{
    RegKey classes;
    const LONG status = OpenUserClassesAround(typeKey, classes);
    if (!classes)
        return status;
    return RemoveExtensionKeyOfRemovedClass(classes.get(), extension, typeKey);
}

LONG RemoveEmptyUserClassKeys(const wchar_t* typeKey, const wchar_t* extension)
{
    RegKey classes;
    LONG status = OpenUserClassesAround(typeKey, classes);
    if (!classes)
        return status;
    RegKey classKey;
    status = classKey.Open(classes.get(), typeKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    // Deepest first, so that a parent is asked once its children have gone.
    for (const wchar_t* path : {DefaultIconKey, DefaultIconBackupKey, IconHandlerKey, IconHandlerBackupKey, ShellexKey})
        status = FirstFailure(status, DeleteKeyIfEmpty(classKey.get(), path));
    classKey.reset();
    status = FirstFailure(status, DeleteKeyIfEmpty(classes.get(), typeKey));
    if (status != ERROR_SUCCESS)
        return status;
    return RemoveExtensionKeyOfRemovedClass(classes.get(), extension, typeKey);
}

} // namespace orvane

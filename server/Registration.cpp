// What makes the shell load this module: the class's InprocServer32 entry, the
// context-menu handler entries for all files, folders and drives, and the class's entry
// in the list of approved shell extensions. Written by DllRegisterServer (regsvr32) and
// taken out again, entry by entry and only where it is still ours, by DllUnregisterServer.
#include <windows.h>
#include <olectl.h>

#include "ExtensionIdentity.h"
#include "ModuleInstance.h"
#include "RegistrationKeys.h"
#include "Registry.h"

namespace orvane {

namespace {

constexpr char ClassName[] = "Orvane";

LONG WriteKeyValue(HKEY root, const char* path, const char* valueName, const char* text)
{
    RegKey key;
    const LONG status = key.Create(root, path);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(key.get(), valueName, text);
}

// True when root\path's value holds exactly this text, compared as the registry compares
// names (ordinal, case aside), which is how class identifiers and paths compare.
bool ValueIs(HKEY root, const char* path, const char* valueName, const char* text)
{
    RegKey key;
    if (key.Open(root, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    char data[TextCapacity];
    return ReadTextValue(key.get(), valueName, data, sizeof data) && SameKeyName(data, text);
}

bool KeyExists(HKEY root, const char* path, REGSAM view)
{
    RegKey key;
    return key.Open(root, path, KEY_QUERY_VALUE | view) == ERROR_SUCCESS;
}

// The 64-bit and 32-bit programs of one system see separate CLSID keys but share the
// file, folder and drive keys. The shared handler entries stay while the class is still
// registered in the other view.
bool RegisteredInOtherView()
{
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    return KeyExists(HKEY_CLASSES_ROOT, ServerKeyPath, otherView);
}

bool ModulePath(char (&path)[MAX_PATH])
{
    const DWORD length = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

LONG DeleteKeyIfPresent(HKEY root, const char* path) { return DeletionStatus(RegDeleteKeyA(root, path)); }

// The class key goes when it holds no more than registering wrote; subkeys that others
// added keep it, and then only its name "Orvane" is taken out.
bool RemoveClassKey()
{
    RegKey key;
    const LONG status = key.Open(HKEY_CLASSES_ROOT, ClassKeyPath, KEY_READ | KEY_SET_VALUE);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status) == ERROR_SUCCESS;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    if (subkeys > 0) {
        if (!ValueIs(HKEY_CLASSES_ROOT, ClassKeyPath, nullptr, ClassName))
            return true;
        return DeletionStatus(RegDeleteValueA(key.get(), nullptr)) == ERROR_SUCCESS;
    }
    key.reset();
    return DeleteKeyIfPresent(HKEY_CLASSES_ROOT, ClassKeyPath) == ERROR_SUCCESS;
}

} // namespace

} // namespace orvane

STDAPI DllUnregisterServer();

STDAPI DllRegisterServer()
{
    using namespace orvane;
    char path[MAX_PATH];
    if (!ModulePath(path))
        return SELFREG_E_CLASS;

    bool written = WriteKeyValue(HKEY_CLASSES_ROOT, ClassKeyPath, nullptr, ClassName) == ERROR_SUCCESS &&
                   WriteKeyValue(HKEY_CLASSES_ROOT, ServerKeyPath, nullptr, path) == ERROR_SUCCESS &&
                   WriteKeyValue(HKEY_CLASSES_ROOT, ServerKeyPath, "ThreadingModel", "Apartment") == ERROR_SUCCESS;
    for (const char* handlerPath : HandlerKeyPaths)
        written = written && WriteKeyValue(HKEY_CLASSES_ROOT, handlerPath, nullptr, ExtensionClsidText) == ERROR_SUCCESS;
    written = written && WriteKeyValue(HKEY_LOCAL_MACHINE, ApprovedKeyPath, ExtensionClsidText, ClassName) == ERROR_SUCCESS;

    if (!written) {
        // A half registration would offer a menu entry that cannot load; take it out.
        DllUnregisterServer();
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    using namespace orvane;
    bool removed = true;

    {
        RegKey approved;
        if (approved.Open(HKEY_LOCAL_MACHINE, ApprovedKeyPath, KEY_SET_VALUE) == ERROR_SUCCESS)
            removed = DeletionStatus(RegDeleteValueA(approved.get(), ExtensionClsidText)) == ERROR_SUCCESS && removed;
    }

    removed = DeleteKeyIfPresent(HKEY_CLASSES_ROOT, ServerKeyPath) == ERROR_SUCCESS && removed;
    removed = RemoveClassKey() && removed;

    if (!RegisteredInOtherView()) {
        for (const char* handlerPath : HandlerKeyPaths) {
            if (ValueIs(HKEY_CLASSES_ROOT, handlerPath, nullptr, ExtensionClsidText))
                removed = DeleteKeyIfPresent(HKEY_CLASSES_ROOT, handlerPath) == ERROR_SUCCESS && removed;
        }
    }
    return removed ? S_OK : SELFREG_E_CLASS;
}

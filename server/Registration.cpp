// What makes the shell load this module: the extension's InprocServer32 entry, the
// context-menu handler entries for all files, folders and drives, and the extension's
// entry in the list of approved shell extensions; and the Explorer command's
// InprocServer32 entry. Windows 11's Explorer finds the command through the package's
// manifest, not the registry; registered here too, it can be created with
// CoCreateInstance by anyone (the tests among them), and nothing else reads it. Written
// by DllRegisterServer (regsvr32) and taken out again, entry by entry and only where it
// is still ours, by DllUnregisterServer.
// DllInstall with "user" (regsvr32 /n /i:user) writes the same entries for this user
// only, in HKCU\Software\Classes and HKCU's list of approved extensions, which a user
// without administrator rights may write and this user's Explorer reads first; it also
// registers the sparse package beside the DLL for this user where Windows allows it.
#include <windows.h>
#include <olectl.h>

#include <cwchar>
#include <iterator>

#include "ExtensionIdentity.h"
#include "ModuleInstance.h"
#include "PackageSetup.h"
#include "RegistrationKeys.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "RemoveAll.h"
#include "Scope.h"

namespace orvane {

namespace {

constexpr wchar_t ClassName[] = L"Orvane";
constexpr wchar_t CommandClassName[] = L"Orvane Change Icon command";

// True when root\path's value holds exactly this text, compared as the registry compares
// names (ordinal, case aside), which is how class identifiers and paths compare.
bool ValueIs(HKEY root, const wchar_t* path, const wchar_t* valueName, const wchar_t* text)
{
    RegKey key;
    if (key.Open(root, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    wchar_t data[TextCapacity];
    return ReadTextValue(key.get(), valueName, data, std::size(data)) && SameKeyName(data, text);
}

// The 64-bit and 32-bit programs of one system see separate CLSID keys but share the
// file, folder and drive keys. The shared handler entries stay while the class is still
// registered in the other view.
bool RegisteredInOtherView(HKEY classes)
{
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    return KeyExists(classes, ServerKeyPath, otherView);
}

bool ModulePath(wchar_t (&path)[MAX_PATH])
{
    // A path that fills the buffer has been cut to fit.
    const DWORD length = GetModuleFileNameW(ModuleInstance(), path, static_cast<DWORD>(std::size(path)));
    return length > 0 && length < std::size(path);
}

LONG DeleteKeyIfPresent(HKEY root, const wchar_t* path) { return DeletionStatus(RegDeleteKeyW(root, path)); }

// A class key goes when it holds no more than registering wrote; subkeys that others
// added keep it, and then only its name (`name`) is taken out.
bool RemoveClassKey(HKEY classes, const wchar_t* classKeyPath, const wchar_t* name)
{
    RegKey key;
    const LONG status = key.Open(classes, classKeyPath, KEY_READ | KEY_SET_VALUE);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status) == ERROR_SUCCESS;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (CountKeyContents(key.get(), subkeys, values) != ERROR_SUCCESS)
        return false;
    if (subkeys > 0) {
        if (!ValueIs(classes, classKeyPath, nullptr, name))
            return true;
        return DeletionStatus(RegDeleteValueW(key.get(), nullptr)) == ERROR_SUCCESS;
    }
    key.reset();
    return DeleteKeyIfPresent(classes, classKeyPath) == ERROR_SUCCESS;
}

// Takes out root\path when it holds nothing (no value, no subkey), and then each of its
// `levels` nearest ancestors while they hold nothing either. This way the keys that
// registering for one user had to create go again (on a fresh profile
// HKCU\Software\Classes has no "Drive" key, for example, and an empty one would hide
// the machine's); a key that holds anything of another program's stays, and with it
// every key above it. An empty key that was there before goes too, as Windows Installer
// does with the keys of its Registry table: holding nothing, it said nothing. Unlike
// RemoveEmptyKeys, whose walk reports a key it cannot open or ask, a key that cannot be
// asked counts here as held by someone else and ends the walk without a failure.
bool RemoveEmptyKeyAndParents(HKEY root, const wchar_t* path, int levels)
{
    wchar_t key[MAX_PATH];
    if (!CopyText(key, std::size(key), path))
        return false;
    for (int level = 0; level <= levels; ++level) {
        KeyContent content = KeyContent::Held;
        if (QueryKeyContent(root, key, content) != ERROR_SUCCESS || content == KeyContent::Held)
            return true;
        if (content == KeyContent::Empty && DeleteKeyIfPresent(root, key) != ERROR_SUCCESS)
            return false;
        wchar_t* separator = std::wcsrchr(key, L'\\');
        if (separator == nullptr)
            return true;
        *separator = L'\0';
    }
    return true;
}

// The entries that make the shell load this module, below `classes` (HKEY_CLASSES_ROOT,
// or this user's HKCU\Software\Classes) and in the list of approved extensions under
// `approvedRoot`.
bool WriteRegistration(HKEY classes, HKEY approvedRoot, const wchar_t* path)
{
    bool written = CreateKeyWithText(classes, ClassKeyPath, nullptr, ClassName) == ERROR_SUCCESS &&
                   CreateKeyWithText(classes, ServerKeyPath, nullptr, path) == ERROR_SUCCESS &&
                   CreateKeyWithText(classes, ServerKeyPath, L"ThreadingModel", L"Apartment") == ERROR_SUCCESS &&
                   CreateKeyWithText(classes, CommandClassKeyPath, nullptr, CommandClassName) == ERROR_SUCCESS &&
                   CreateKeyWithText(classes, CommandServerKeyPath, nullptr, path) == ERROR_SUCCESS &&
                   CreateKeyWithText(classes, CommandServerKeyPath, L"ThreadingModel", L"Apartment") == ERROR_SUCCESS;
    for (const wchar_t* handlerPath : HandlerKeyPaths)
        written = written && CreateKeyWithText(classes, handlerPath, nullptr, ExtensionClsidText) == ERROR_SUCCESS;
    return written && CreateKeyWithText(approvedRoot, ApprovedKeyPath, ExtensionClsidText, ClassName) == ERROR_SUCCESS;
}

// Takes out what WriteRegistration wrote, entry by entry and only where it is still ours.
// With `emptyParents` the keys above the entries go too while they hold nothing.
bool RemoveRegistration(HKEY classes, HKEY approvedRoot, bool emptyParents)
{
    bool removed = true;
    {
        RegKey approved;
        if (approved.Open(approvedRoot, ApprovedKeyPath, KEY_SET_VALUE) == ERROR_SUCCESS)
            removed = DeletionStatus(RegDeleteValueW(approved.get(), ExtensionClsidText)) == ERROR_SUCCESS && removed;
    }
    removed = DeleteKeyIfPresent(classes, ServerKeyPath) == ERROR_SUCCESS && removed;
    removed = RemoveClassKey(classes, ClassKeyPath, ClassName) && removed;
    removed = DeleteKeyIfPresent(classes, CommandServerKeyPath) == ERROR_SUCCESS && removed;
    removed = RemoveClassKey(classes, CommandClassKeyPath, CommandClassName) && removed;
    if (emptyParents) {
        // Approved and "Shell Extensions"; the class keys and CLSID.
        removed = RemoveEmptyKeyAndParents(approvedRoot, ApprovedKeyPath, 1) && removed;
        removed = RemoveEmptyKeyAndParents(classes, ClassKeyPath, 1) && removed;
        removed = RemoveEmptyKeyAndParents(classes, CommandClassKeyPath, 1) && removed;
    }

    if (!RegisteredInOtherView(classes)) {
        for (const wchar_t* handlerPath : HandlerKeyPaths) {
            if (ValueIs(classes, handlerPath, nullptr, ExtensionClsidText))
                removed = DeleteKeyIfPresent(classes, handlerPath) == ERROR_SUCCESS && removed;
            // ContextMenuHandlers, shellex and the owner ("*", Directory, Drive).
            if (emptyParents)
                removed = RemoveEmptyKeyAndParents(classes, handlerPath, 3) && removed;
        }
    }
    return removed;
}

bool RegisterForThisUser()
{
    wchar_t path[MAX_PATH];
    if (!ModulePath(path))
        return false;
    RegKey classes;
    if (classes.Create(HKEY_CURRENT_USER, UserClassesKey) != ERROR_SUCCESS)
        return false;
    if (WriteRegistration(classes.get(), HKEY_CURRENT_USER, path))
        return true;
    // A half registration would offer a menu entry that cannot load; take it out.
    RemoveRegistration(classes.get(), HKEY_CURRENT_USER, true);
    return false;
}

bool UnregisterForThisUser()
{
    RegKey classes;
    const LONG status = classes.Open(HKEY_CURRENT_USER, UserClassesKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status) == ERROR_SUCCESS;
    return RemoveRegistration(classes.get(), HKEY_CURRENT_USER, true);
}

void IgnoreLine(void*, const std::wstring&) {}

// "orvane.exe package register|unregister" for this user, with the orvane.exe and the
// package that lie beside the DLL. Where Windows cannot take the package (before Windows
// 11, or a certificate this user may not trust) the classic entry is all there is;
// neither that nor a missing orvane.exe makes registering fail.
void RunPackageCommandForThisUser(const wchar_t* arguments) noexcept
{
    try {
        wchar_t path[MAX_PATH];
        if (!ModulePath(path))
            return;
        std::wstring program(path);
        program.erase(program.find_last_of(L'\\') + 1);
        program += L"orvane.exe";
        if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES)
            return;
        RunProgram(L"\"" + program + L"\" " + arguments, IgnoreLine, nullptr, PackageCommandTimeoutMs);
    } catch (...) {
    }
}

// regsvr32 /i:user hands DllInstall the text after the colon.
bool NamesThisUser(LPCWSTR cmdLine) { return cmdLine != nullptr && lstrcmpiW(cmdLine, L"user") == 0; }

} // namespace

} // namespace orvane

STDAPI DllUnregisterServer();

STDAPI DllRegisterServer()
{
    using namespace orvane;
    wchar_t path[MAX_PATH];
    if (!ModulePath(path))
        return SELFREG_E_CLASS;
    if (!WriteRegistration(HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, path)) {
        // A half registration would offer a menu entry that cannot load; take it out.
        DllUnregisterServer();
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    using namespace orvane;
    return RemoveRegistration(HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, false) ? S_OK : SELFREG_E_CLASS;
}

// regsvr32 /n /i:user registers the extension (and, where Windows allows it, the package)
// for this user alone, and regsvr32 /u /n /i:user takes both out again.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine)
{
    using namespace orvane;
    if (!NamesThisUser(cmdLine))
        return E_INVALIDARG;
    if (install) {
        if (!RegisterForThisUser())
            return SELFREG_E_CLASS;
        RunPackageCommandForThisUser(L"package register");
        return S_OK;
    }
    // The package goes first: its menu entry names the class that is about to go.
    RunPackageCommandForThisUser(L"package unregister");
    // Every class on which the extension is this user's icon handler gets its own icon
    // and handler back first, while the registration that serves them is still there. A
    // class that refuses is reported by remove-all itself; the registration goes all the same.
    RemoveAllSettings(Scope::ThisUser);
    return UnregisterForThisUser() ? S_OK : SELFREG_E_CLASS;
}

#include "Scope.h"

#include "RegistryNames.h"

#include <cstdint>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

namespace orvane {

namespace {

LONG OpenUserClasses(REGSAM access, RegKey& classes)
{
    return classes.Open(HKEY_CURRENT_USER, UserClassesKey, access);
}

// This thread's UserClassesReading: whether one lives, and its handle (null: the key is
// missing).
struct HeldUserClasses {
    bool Held = false;
    HKEY Key = nullptr;
};
thread_local HeldUserClasses heldUserClasses;

// This thread's kept MayWrite answers, while a WriteAnswersKept lives: by root, access
// and path.
thread_local std::unordered_map<std::wstring, bool>* keptWriteAnswers = nullptr;

// The kept answer for a write of `access` below root\\base\\path in `view`, or the
// one `ask` gives, kept while a WriteAnswersKept lives. Out of memory, nothing is kept.
template <class Ask>
bool KeptOrAsked(HKEY root, const wchar_t* base, const wchar_t* path, REGSAM access, REGSAM view, Ask ask)
{
    if (keptWriteAnswers == nullptr)
        return ask();
    try {
        const std::wstring name = std::to_wstring(reinterpret_cast<std::uintptr_t>(root)) + L"|" +
                                  std::to_wstring(access) + L"|" + std::to_wstring(view) + L"|" + base + L"\\" + path;
        const auto kept = keptWriteAnswers->find(name);
        if (kept != keptWriteAnswers->end())
            return kept->second;
        const bool answer = ask();
        keptWriteAnswers->emplace(name, answer);
        return answer;
    } catch (const std::bad_alloc&) {
        return ask();
    }
}

// Asks the key root\basePath\path, or (when it does not exist yet) its nearest existing
// ancestor, whether a write would be accepted. The walk stays relative to basePath, so
// that long class names are asked as they will be written.
bool MayWriteBelow(HKEY root, const wchar_t* basePath, const wchar_t* path, REGSAM access, REGSAM view)
{
    RegKey base;
    LONG status = base.Open(root, basePath, KEY_READ | view);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        // Nothing of the path exists below the root yet: the root's own nearest ancestor
        // decides.
        wchar_t parent[TextCapacity];
        if (!CopyText(parent, std::size(parent), basePath))
            return false;
        wchar_t* separator = std::wcsrchr(parent, L'\\');
        if (separator == nullptr)
            return base.Open(root, nullptr, KEY_CREATE_SUB_KEY | view) == ERROR_SUCCESS;
        *separator = L'\0';
        return MayWriteBelow(root, parent, separator + 1, KEY_CREATE_SUB_KEY, view);
    }
    if (status != ERROR_SUCCESS)
        return false;

    wchar_t current[TextCapacity];
    if (!CopyText(current, std::size(current), path))
        return false;
    REGSAM wanted = access;
    for (;;) {
        RegKey key;
        if (current[0] == L'\0')
            return key.Open(root, basePath, wanted | view) == ERROR_SUCCESS;
        status = key.Open(base.get(), current, wanted | view);
        if (status == ERROR_SUCCESS)
            return true;
        if (status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND)
            return false;
        // A key still to be made needs only its parent's consent to create it.
        wanted = KEY_CREATE_SUB_KEY;
        wchar_t* separator = std::wcsrchr(current, L'\\');
        if (separator == nullptr)
            current[0] = L'\0';
        else
            *separator = L'\0';
    }
}

// Asks the registry itself (see MayWrite).
bool MayWriteAsked(HKEY root, const wchar_t* path, REGSAM access)
{
    wchar_t parent[TextCapacity];
    if (!CopyText(parent, std::size(parent), path))
        return false;
    wchar_t* separator = std::wcsrchr(parent, L'\\');
    if (separator == nullptr)
        return MayWriteBelow(root, path, L"", access, 0);
    *separator = L'\0';
    // The last component is asked relative to its parent, with the access asked for.
    return MayWriteBelow(root, parent, separator + 1, access, 0);
}

} // namespace

HKEY ProductKeyRoot(Scope scope) { return scope == Scope::AllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

UserClassesReading::UserClassesReading()
{
    if (heldUserClasses.Held)
        return;
    outermost_ = true;
    RegKey classes;
    if (OpenUserClasses(KEY_READ, classes) == ERROR_SUCCESS)
        heldUserClasses.Key = classes.release();
    heldUserClasses.Held = true;
}

UserClassesReading::~UserClassesReading()
{
    if (!outermost_)
        return;
    if (heldUserClasses.Key != nullptr)
        RegCloseKey(heldUserClasses.Key);
    heldUserClasses = {};
}

LONG OpenClassKey(Scope scope, const wchar_t* path, REGSAM access, RegKey& key)
{
    if (scope == Scope::AllUsers)
        return key.Open(HKEY_CLASSES_ROOT, path, access);
    if (heldUserClasses.Held) {
        if (heldUserClasses.Key != nullptr)
            return key.Open(heldUserClasses.Key, path, access);
        key.reset();
        return ERROR_FILE_NOT_FOUND;
    }
    RegKey classes;
    const LONG status = OpenUserClasses(KEY_READ, classes);
    if (status != ERROR_SUCCESS) {
        key.reset();
        return status;
    }
    return key.Open(classes.get(), path, access);
}

LONG CreateClassKey(Scope scope, const wchar_t* path, RegKey& key)
{
    if (scope == Scope::AllUsers)
        return key.Create(HKEY_CLASSES_ROOT, path);
    RegKey classes;
    LONG status = OpenUserClasses(KEY_READ | KEY_CREATE_SUB_KEY, classes);
    if (status == ERROR_FILE_NOT_FOUND)
        status = classes.Create(HKEY_CURRENT_USER, UserClassesKey);
    if (status != ERROR_SUCCESS) {
        key.reset();
        return status;
    }
    return key.Create(classes.get(), path);
}

std::optional<Scope> OpenVisibleClassKey(const wchar_t* path, REGSAM access, RegKey& key)
{
    if (OpenClassKey(Scope::ThisUser, path, access, key) == ERROR_SUCCESS)
        return Scope::ThisUser;
    if (OpenClassKey(Scope::AllUsers, path, access, key) == ERROR_SUCCESS)
        return Scope::AllUsers;
    return std::nullopt;
}

LONG OpenClassSubkey(Scope scope, const wchar_t* className, const wchar_t* subkey, REGSAM access, RegKey& key)
{
    key.reset();
    if (className == nullptr || className[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (subkey == nullptr || subkey[0] == L'\0')
        return OpenClassKey(scope, className, access, key);
    RegKey classKey;
    const LONG status = OpenClassKey(scope, className, KEY_READ, classKey);
    if (status != ERROR_SUCCESS)
        return status;
    return key.Open(classKey.get(), subkey, access);
}

std::optional<Scope> OpenVisibleClassSubkey(const wchar_t* className, const wchar_t* subkey, REGSAM access, RegKey& key)
{
    if (OpenClassSubkey(Scope::ThisUser, className, subkey, access, key) == ERROR_SUCCESS)
        return Scope::ThisUser;
    if (OpenClassSubkey(Scope::AllUsers, className, subkey, access, key) == ERROR_SUCCESS)
        return Scope::AllUsers;
    return std::nullopt;
}

bool MayWrite(HKEY root, const wchar_t* path, REGSAM access)
{
    if (path == nullptr || path[0] == L'\0')
        return false;
    return KeptOrAsked(root, L"", path, access, 0, [&] { return MayWriteAsked(root, path, access); });
}

WriteAnswersKept::WriteAnswersKept()
{
    if (keptWriteAnswers != nullptr)
        return;
    keptWriteAnswers = new (std::nothrow) std::unordered_map<std::wstring, bool>();
    outermost_ = keptWriteAnswers != nullptr;
}

WriteAnswersKept::~WriteAnswersKept()
{
    if (!outermost_)
        return;
    delete keptWriteAnswers;
    keptWriteAnswers = nullptr;
}


bool MayWriteClassKey(Scope scope, const wchar_t* path, REGSAM access)
{
    if (path == nullptr || path[0] == L'\0')
        return false;
    // A 32-bit program's HKEY_CLASSES_ROOT writes land in the machine's one classes key.
    const REGSAM view = scope == Scope::AllUsers ? KEY_WOW64_64KEY : 0;
    const wchar_t* classes = scope == Scope::AllUsers ? MachineClassesKey : UserClassesKey;
    return KeptOrAsked(ProductKeyRoot(scope), classes, path, access, view,
                       [&] { return MayWriteBelow(ProductKeyRoot(scope), classes, path, access, view); });
}

LONG RemoveEmptyUserProductKeys(const wchar_t* keyPath)
{
    constexpr std::size_t companyLength = std::size(CompanyKey) - 1;
    if (keyPath == nullptr || std::wcsncmp(keyPath, CompanyKey, companyLength) != 0 ||
        (keyPath[companyLength] != L'\0' && keyPath[companyLength] != L'\\'))
        return ERROR_INVALID_PARAMETER;
    // Everything below "Software\" down to keyPath is the product's.
    return RemoveEmptyKeys(HKEY_CURRENT_USER, SoftwareKey, keyPath + std::size(SoftwareKey));
}

} // namespace orvane

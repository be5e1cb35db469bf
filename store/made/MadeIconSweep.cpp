#include "MadeIconSweep.h"

#include <cwchar>
#include <iterator>
#include <optional>
#include <vector>

#include <windows.h>

#include <algorithm>
#include <new>

#include "FolderBackups.h"
#include "FolderIcons.h"
#include "MadeIconFile.h"
#include "MadeIconPlaces.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

namespace {

// No icon setting is this long; a value beyond it is not read.
constexpr DWORD LargestSettingText = 1u << 20;

// The product's keys and the drive icon keys are a few levels deep.
constexpr int DeepestSettingKey = 8;

bool SameName(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

bool Names(const wchar_t* folder, const std::optional<IconLocation>& location, const wchar_t* name,
           const std::wstring& file)
{
    if (!location)
        return false;
    wchar_t resolved[TextCapacity];
    if (ResolveFolderIconPath(folder, location->IconPath, resolved))
        return SameName(resolved, file.c_str());
    // A folder moved to a longer path after its icon was made names it by a relative
    // path that no longer resolves within 259 characters; the file is still the one
    // named, and deleting it would lose the icon for good.
    return SameName(location->IconPath, name);
}

bool IsNamed(const wchar_t* folder, const wchar_t* name)
{
    const std::wstring file = InFolder(folder, name);
    return Names(folder, ReadFolderIcon(folder), name, file) ||
           Names(folder, ReadFolderBackup(folder, Scope::ThisUser), name, file) ||
           Names(folder, ReadFolderBackup(folder, Scope::AllUsers), name, file);
}

// What the settings say, each value's text in lower case, so that a made file's name is
// looked for in all of them at once.
class SettingTexts {
public:
    void AddValuesOf(HKEY key)
    {
        DWORD values = 0;
        DWORD longestName = 0;
        DWORD longestData = 0;
        if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longestName,
                             &longestData, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        std::vector<wchar_t> name(std::min<DWORD>(longestName, 16383) + 1);
        std::vector<BYTE> data(std::min(longestData, LargestSettingText) + sizeof(wchar_t));
        for (DWORD i = 0; i < values; ++i) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD size = static_cast<DWORD>(data.size());
            if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS)
                continue;
            // Any type is read as UTF-16 text: a drive's backup keeps the bytes another
            // program wrote, and the data need not be terminated.
            Add(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t)));
        }
    }

    void AddValuesOf(HKEY root, const wchar_t* path)
    {
        RegKey key;
        if (key.Open(root, path, KEY_QUERY_VALUE) == ERROR_SUCCESS)
            AddValuesOf(key.get());
    }

    void AddTree(HKEY key, int depth)
    {
        AddValuesOf(key);
        if (depth >= DeepestSettingKey)
            return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD length = static_cast<DWORD>(std::size(name));
            const LONG status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                return;
            RegKey subkey;
            if (subkey.Open(key, name, KEY_READ) == ERROR_SUCCESS)
                AddTree(subkey.get(), depth + 1);
        }
    }

    void AddTree(HKEY root, const wchar_t* path)
    {
        RegKey key;
        if (key.Open(root, path, KEY_READ) == ERROR_SUCCESS)
            AddTree(key.get(), 0);
    }

    // Each class's icon keys below a scope's classes key.
    void AddClassIcons(HKEY root, const wchar_t* classesPath)
    {
        RegKey classes;
        if (classes.Open(root, classesPath, KEY_READ) != ERROR_SUCCESS)
            return;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD length = static_cast<DWORD>(std::size(name));
            const LONG status = RegEnumKeyExW(classes.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                return;
            RegKey classKey;
            if (classKey.Open(classes.get(), name, KEY_QUERY_VALUE) != ERROR_SUCCESS)
                continue;
            AddValuesOf(classKey.get(), DefaultIconKey);
            AddValuesOf(classKey.get(), DefaultIconBackupKey);
        }
    }

    // The icon in the Desktop.ini of each folder that a scope's backups name.
    void AddBackedUpFolders(HKEY root)
    {
        for (const std::wstring& folder : ReadValueNames(root, FolderBackupKey)) {
            if (const std::optional<IconLocation> icon = ReadFolderIcon(folder.c_str()))
                Add(icon->IconPath);
        }
    }

    bool Names(const wchar_t* fileName) const
    {
        std::wstring lower = fileName;
        Lower(lower);
        return std::any_of(texts_.begin(), texts_.end(),
                           [&lower](const std::wstring& text) { return text.find(lower) != std::wstring::npos; });
    }

private:
    static void Lower(std::wstring& text)
    {
        if (!text.empty())
            CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    }

    void Add(std::wstring text)
    {
        Lower(text);
        texts_.push_back(std::move(text));
    }

    std::vector<std::wstring> texts_;
};

SettingTexts ReadSettingTexts()
{
    SettingTexts texts;
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        const HKEY root = ProductKeyRoot(scope);
        texts.AddTree(root, ProductKey);
        texts.AddBackedUpFolders(root);
    }
    texts.AddTree(HKEY_LOCAL_MACHINE, DriveIconsKey);
    std::wstring userDrives = std::wstring(UserClassesKey) + L"\\" + UserDriveIconsKey;
    texts.AddTree(HKEY_CURRENT_USER, userDrives.c_str());
    texts.AddClassIcons(HKEY_CURRENT_USER, UserClassesKey);
    texts.AddClassIcons(HKEY_LOCAL_MACHINE, MachineClassesKey);
    return texts;
}

// The made files in a folder of made icons (names only).
std::vector<std::wstring> MadeFilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(InFolder(folder.c_str(), L".orvane-*.ico").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
            IsMadeIconName(found.cFileName))
            names.emplace_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

void DeleteMadeFile(const std::wstring& folder, const std::wstring& name)
{
    if (!IsMadeIconFile(folder.c_str(), name.c_str()))
        return;
    const std::wstring path = InFolder(folder.c_str(), name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
}

void DeleteUnnamed()
{
    std::optional<SettingTexts> texts;
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        const std::optional<std::wstring> folder = MadeIconFolder(scope, false);
        if (!folder)
            continue;
        for (const std::wstring& name : MadeFilesIn(*folder)) {
            // The settings are read once, and only when there is a made file to ask about.
            if (!texts)
                texts = ReadSettingTexts();
            if (!texts->Names(name.c_str()))
                DeleteMadeFile(*folder, name);
        }
    }
}

} // namespace

void DeleteUnnamedMadeIcons(const wchar_t* folder)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(InFolder(folder, L".orvane-*.ico").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
        if (!IsMadeIconFile(folder, found.cFileName) || IsNamed(folder, found.cFileName))
            continue;
        const std::wstring path = InFolder(folder, found.cFileName);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool IsMadeIconNamed(const wchar_t* name)
{
    // Out of memory, the file counts as named: it is kept.
    try {
        return ReadSettingTexts().Names(name);
    } catch (const std::bad_alloc&) {
        return true;
    }
}

void DeleteUnnamedStoredMadeIcons()
{
    // Called after changes made inside Explorer: out of memory, nothing is deleted.
    try {
        DeleteUnnamed();
    } catch (const std::bad_alloc&) {
    }
}

} // namespace orvane

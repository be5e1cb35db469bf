#include "MadeIconFolders.h"

#include <windows.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>

#include "FolderIcons.h"
#include "MadeIconFile.h"
#include "ProfileEncoding.h"
#include "Registry.h"
#include "RegistryNames.h"

namespace orvane {

const wchar_t AllUsersMadeIconFolderRights[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

namespace {

constexpr wchar_t ProductFolder[] = L"Orvane";
constexpr wchar_t IconsFolder[] = L"Icons";
// No icon setting is this long; a value beyond it is not read.
constexpr DWORD LargestSettingText = 1u << 20;
// The product's keys and the drive icon keys are a few levels deep.
constexpr int DeepestSettingKey = 8;

std::optional<std::wstring> KnownFolder(Scope scope)
{
    PWSTR path = nullptr;
    const KNOWNFOLDERID& id = scope == Scope::ThisUser ? FOLDERID_LocalAppData : FOLDERID_ProgramData;
    std::optional<std::wstring> folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr && path[0] != L'\0')
        folder = path;
    CoTaskMemFree(path);
    if (folder && (folder->back() == L'\\' || folder->back() == L'/'))
        folder->pop_back();
    return folder;
}

// Owns a security descriptor made from the descriptor language.
class Descriptor {
public:
    explicit Descriptor(const wchar_t* text)
    {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor_, nullptr))
            descriptor_ = nullptr;
    }
    ~Descriptor() { LocalFree(descriptor_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    PSECURITY_DESCRIPTOR get() const { return descriptor_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Creates the folder when it is missing. All users' folders get their own rights; this
// user's inherit those of the user's own application data.
bool EnsureFolder(const std::wstring& path, Scope scope)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (scope == Scope::ThisUser)
        return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    const Descriptor descriptor(AllUsersMadeIconFolderRights);
    if (descriptor.get() == nullptr)
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &security) || GetLastError() == ERROR_ALREADY_EXISTS;
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
        RegKey key;
        if (key.Open(root, FolderBackupKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
            return;
        for (DWORD i = 0;; ++i) {
            wchar_t folder[TextCapacity];
            DWORD length = static_cast<DWORD>(std::size(folder));
            const LONG status = RegEnumValueW(key.get(), i, folder, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                return;
            if (length == 0 || length >= std::size(folder))
                continue;
            folder[length] = L'\0';
            if (const std::optional<IconLocation> icon = ReadFolderIcon(folder))
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

void DeleteUnnamed();
ChangeResult ApplyMade(IconTarget& target, const std::vector<std::uint8_t>& bytes);

} // namespace

std::optional<std::wstring> MadeIconFolder(Scope scope, bool create)
{
    try {
        const std::optional<std::wstring> known = KnownFolder(scope);
        if (!known)
            return std::nullopt;
        const std::wstring product = *known + L"\\" + ProductFolder;
        const std::wstring icons = product + L"\\" + IconsFolder;
        // Room for the made file's name behind it.
        if (icons.size() + 1 + MadeIconName(0).size() >= TextCapacity)
            return std::nullopt;
        if (create && (!EnsureFolder(product, scope) || !EnsureFolder(icons, scope)))
            return std::nullopt;
        return icons;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
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

ChangeResult ApplyMadeIcon(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    try {
        return ApplyMade(target, bytes);
    } catch (const std::bad_alloc&) {
        DeleteUnnamedStoredMadeIcons();
        return ChangeResult::WriteFailed;
    }
}

namespace {

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

ChangeResult ApplyMade(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    target.SetRefusal(std::nullopt);
    if (target.Kind() == TargetKind::Folder || target.Kind() == TargetKind::Unclassified)
        return ChangeResult::WriteFailed;
    ScopeDecision scope;
    const ChangeResult decided = target.ScopeOfChange(scope);
    if (decided != ChangeResult::Done)
        return decided;
    if (scope.Refused) {
        target.SetChangedScope(scope.Where);
        return ChangeResult::AccessDenied;
    }
    const std::optional<std::wstring> folder = MadeIconFolder(scope.Where, true);
    std::wstring name;
    if (!folder) {
        target.SetChangedScope(scope.Where);
        return ChangeResult::WriteFailed;
    }
    if (!WriteMadeIcon(folder->c_str(), bytes, &name)) {
        const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
        target.SetChangedScope(scope.Where);
        target.SetRefusal(Refusal{RefusingPlace::MadeIcon, status});
        return ResultFromStatus(status);
    }
    ChangeResult result = ChangeResult::PathTooLong;
    if (target.SetCurrentIconPath(InFolder(folder->c_str(), name).c_str())) {
        target.SetCurrentIndex(0);
        result = target.ApplyIcon();
    }
    // A change that failed before it was made leaves its file named by nothing (a made
    // change cleans up after itself).
    if (result != ChangeResult::Done)
        DeleteUnnamedStoredMadeIcons();
    return result;
}

} // namespace

} // namespace orvane

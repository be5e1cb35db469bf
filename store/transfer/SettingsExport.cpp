// What goes out into a settings file, and the file itself.
#include "SettingsTransfer.h"

#include <iterator>
#include <new>

#include "DriveIcons.h"
#include "FileIconTable.h"
#include "FileTypeIcons.h"
#include "FolderBackups.h"
#include "FolderIcons.h"
#include "IconGroupFile.h"
#include "IconSources.h"
#include "MadeIconFile.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"
#include "TypeStandIn.h"
#include "WholeFile.h"

namespace orvane {

namespace {

SettingScope SettingScopeOf(Scope scope) { return scope == Scope::ThisUser ? SettingScope::ThisUser : SettingScope::AllUsers; }

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool Holds(const std::vector<std::wstring>& texts, const std::wstring& text)
{
    for (const std::wstring& held : texts) {
        if (SameText(held, text))
            return true;
    }
    return false;
}

// A folder's or a file's path as the file keeps it: under this user's profile folder, as
// "%USERPROFILE%\..." so that each importing user's own profile stands in for it (import
// expands it for that user); any other path as it is.
std::wstring PortablePath(const std::wstring& path)
{
    wchar_t profile[TextCapacity];
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, static_cast<DWORD>(std::size(profile)));
    if (length < 3 || length >= std::size(profile) || path.size() <= length || (path[length] != L'\\' && path[length] != L'/') ||
        CompareStringOrdinal(path.c_str(), static_cast<int>(length), profile, static_cast<int>(length), TRUE) != CSTR_EQUAL)
        return path;
    return L"%USERPROFILE%" + path.substr(length);
}

// The icon of a setting: a made icon's bytes when the full path names one of this
// product's made files (its name is its bytes' hash), else the source as written.
void SetIcon(ExportedSetting& setting, const wchar_t* written, const wchar_t* fullPath, std::int32_t index)
{
    const std::wstring full = fullPath;
    const std::size_t slash = full.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0) {
        const std::wstring folder = full.substr(0, slash);
        const std::wstring name = full.substr(slash + 1);
        if (IsMadeIconFile(folder.c_str(), name.c_str()) && ReadFileBytes(full.c_str(), SettingsFileLimit, setting.MadeIcon)) {
            setting.Made = true;
            return;
        }
    }
    setting.IconPath = written;
    setting.Index = index;
}

// Folders: a backup of either scope whose folder still shows the change it stands for
// (this user's first, as both share the one Desktop.ini).
void CollectFolders(SettingsDocument& document)
{
    std::vector<std::wstring> seen;
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        for (const std::wstring& folder : ReadValueNames(ProductKeyRoot(scope), FolderBackupKey)) {
            if (Holds(seen, folder))
                continue;
            const DWORD attributes = GetFileAttributesW(folder.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
                !ShowsOwnChange(folder.c_str(), scope))
                continue;
            const std::optional<IconLocation> icon = ReadFolderIcon(folder.c_str());
            wchar_t full[TextCapacity], expanded[TextCapacity];
            if (!icon || icon->IconPath[0] == L'\0' || !ResolveFolderIconPath(folder.c_str(), icon->IconPath, full) ||
                !ExpandIconPath(full, expanded))
                continue;
            seen.push_back(folder);
            ExportedSetting setting;
            setting.Kind = SettingKind::Folder;
            setting.Scope = SettingScopeOf(scope);
            setting.Target = PortablePath(folder);
            // A relative source that is no made icon goes out by its full path, which
            // --map can then point elsewhere.
            SetIcon(setting, full, expanded, icon->Index == NoIndex ? 0 : icon->Index);
            document.Settings.push_back(std::move(setting));
        }
    }
}

// Single files: each entry of either table whose file still exists, this user's first.
void CollectFiles(SettingsDocument& document)
{
    std::vector<std::wstring> seen;
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        FileIconTableCopy table;
        table.Read(scope);
        for (const auto& [path, text] : table.Entries()) {
            if (Holds(seen, path))
                continue;
            seen.push_back(path);
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            const std::optional<IconLocation> icon = FileIconFromText(path.c_str(), text.c_str());
            if (!icon)
                continue;
            ExportedSetting setting;
            setting.Kind = SettingKind::File;
            setting.Scope = SettingScopeOf(scope);
            setting.Target = PortablePath(path);
            wchar_t full[TextCapacity];
            if (!ExpandIconPath(icon->IconPath, full))
                continue;
            SetIcon(setting, icon->IconPath, full, icon->Index);
            document.Settings.push_back(std::move(setting));
        }
    }
}

// Whether the scope's keys of the class hold Orvane's backup of its icon ("BAKIconInfo",
// empty where the scope had no icon of the type before): the mark of a type's change.
bool HasTypeBackup(const wchar_t* className, Scope scope)
{
    RegKey defaultIcon;
    return OpenClassSubkey(scope, className, DefaultIconKey, KEY_QUERY_VALUE, defaultIcon) == ERROR_SUCCESS &&
           RegQueryValueExW(defaultIcon.get(), BackupIconValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::vector<std::wstring> Extensions(HKEY root)
{
    std::vector<std::wstring> extensions;
    RegKey classes;
    if (classes.Open(root, root == HKEY_CURRENT_USER ? UserClassesKey : MachineClassesKey, KEY_READ) != ERROR_SUCCESS)
        return extensions;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = static_cast<DWORD>(std::size(name));
        const LONG status = RegEnumKeyExW(classes.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (length > 1 && name[0] == L'.')
            extensions.emplace_back(name, length);
    }
    return extensions;
}

// Types: each class an extension leads to whose backup Orvane keeps in the scope whose
// icon this user sees; the icon as a file of the type shows it.
void CollectTypes(SettingsDocument& document)
{
    std::vector<std::wstring> extensions = Extensions(HKEY_CURRENT_USER);
    for (std::wstring& extension : Extensions(HKEY_LOCAL_MACHINE)) {
        if (!Holds(extensions, extension))
            extensions.push_back(std::move(extension));
    }
    std::vector<std::wstring> classes;
    for (const std::wstring& extension : extensions) {
        wchar_t className[TextCapacity] = {};
        if (!ReadIconClass(extension.c_str(), className) || Holds(classes, className))
            continue;
        if (!HasTypeBackup(className, Scope::ThisUser) && !HasTypeBackup(className, Scope::AllUsers))
            continue;
        TypeStandIn standIn(extension.c_str());
        if (!standIn.Made())
            continue;
        // A file without an entry of its own shows its type's icon.
        const IconTarget target = OpenTarget(standIn.Path());
        if (!target.Current || !target.CurrentScope() ||
            !HasTypeBackup(className, *target.CurrentScope()))
            continue;
        classes.emplace_back(className);
        wchar_t full[TextCapacity];
        if (!ExpandIconPath(target.Current->IconPath, full))
            continue;
        ExportedSetting setting;
        setting.Kind = SettingKind::Type;
        setting.Scope = SettingScopeOf(*target.CurrentScope());
        setting.Target = extension;
        setting.TypeClass = className;
        SetIcon(setting, target.Current->IconPath, full, target.Current->Index);
        document.Settings.push_back(std::move(setting));
    }
}

// Drives: each letter whose entry this user sees is Orvane's.
void CollectDrives(SettingsDocument& document)
{
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        const std::optional<Scope> scope = DriveEntryScope(root);
        if (!scope || !HasOwnDriveEntry(root, *scope))
            continue;
        const std::optional<IconLocation> icon = ReadDriveIcon(root);
        wchar_t full[TextCapacity];
        if (!icon || !ExpandIconPath(icon->IconPath, full))
            continue;
        ExportedSetting setting;
        setting.Kind = SettingKind::Drive;
        setting.Scope = SettingScopeOf(*scope);
        setting.Target = root;
        SetIcon(setting, icon->IconPath, full, icon->Index);
        document.Settings.push_back(std::move(setting));
    }
}

// Whether a source lies in the Windows folder, which every computer has.
bool InWindowsFolder(const wchar_t* source)
{
    wchar_t expanded[TextCapacity], windows[TextCapacity];
    const UINT length = GetWindowsDirectoryW(windows, static_cast<UINT>(std::size(windows)));
    if (!ExpandIconPath(source, expanded) || length == 0 || length >= std::size(windows))
        return false;
    const std::wstring path = expanded;
    return path.size() > length && (path[length] == L'\\' || path[length] == L'/') &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(length), windows, static_cast<int>(length), TRUE) ==
               CSTR_EQUAL;
}

// Each source's icon taken along as bytes, where it can be copied out.
void TakeSourcesAlong(SettingsDocument& document)
{
    for (ExportedSetting& setting : document.Settings) {
        if (setting.Made || InWindowsFolder(setting.IconPath.c_str()))
            continue;
        std::vector<std::uint8_t> bytes;
        if (!CopyIconBytes(setting.IconPath.c_str(), setting.Index, bytes))
            continue;
        setting.Made = true;
        setting.MadeIcon = std::move(bytes);
        setting.IconPath.clear();
        setting.Index = 0;
    }
}

} // namespace

bool CollectSettings(SettingsDocument& document, bool withSources) noexcept
{
    try {
        document.Settings.clear();
        CollectFolders(document);
        CollectFiles(document);
        CollectTypes(document);
        CollectDrives(document);
        if (withSources)
            TakeSourcesAlong(document);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

LONG WriteSettingsFile(const wchar_t* path, const SettingsDocument& document) noexcept
{
    try {
        std::string text;
        if (!WriteSettingsText(document, text))
            return ERROR_OUTOFMEMORY;
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        if (!WriteFileWhole(path, bytes))
            return LastErrorOr(ERROR_WRITE_FAULT);
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

bool ReadSettingsFile(const wchar_t* path, SettingsDocument& document, std::wstring& reason) noexcept
{
    try {
        document.Settings.clear();
        FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        LARGE_INTEGER size{};
        if (!file.Valid() || !GetFileSizeEx(file.Value, &size)) {
            reason = L"cannot be read";
            return false;
        }
        if (static_cast<std::uint64_t>(size.QuadPart) > SettingsFileLimit) {
            reason = L"is larger than 64 MiB, more than a settings file holds; nothing of it was read";
            return false;
        }
        WholeFileBytes bytes;
        if (ReadWholeFile(file.Value, static_cast<DWORD>(SettingsFileLimit), bytes) != ERROR_SUCCESS) {
            reason = L"cannot be read";
            return false;
        }
        return ReadSettingsText(reinterpret_cast<const unsigned char*>(bytes.Data.get()), bytes.Size, document, reason);
    } catch (const std::bad_alloc&) {
        document.Settings.clear();
        return false;
    }
}

} // namespace orvane

#include "FolderBackups.h"

#include <cwchar>
#include <iterator>

#include "DesktopIni.h"
#include "FolderIcons.h"
#include "Registry.h"

namespace orvane {

using namespace desktop_ini;

namespace {

// The most units a backup value may hold: its location and three entries.
constexpr std::size_t BackupUnits = 2048;

// In a backup the start follows the listed entries (and the empty text that ends them),
// as "Desktop.ini=" and the words of what differed, comma separated; earlier builds stop
// reading at the end of the list.
constexpr wchar_t ProfileStartItem[] = L"Desktop.ini=";
constexpr const wchar_t* StartWords[] = {L"ansi", L"shown", L"plain-folder"};

bool& StartFlag(ProfileStart& start, std::size_t word)
{
    bool* flags[] = {&start.Ansi, &start.Shown, &start.PlainFolder};
    return *flags[word];
}

// A backup value as it is stored.
struct BackupValue {
    DWORD Type = REG_SZ;
    DWORD Size = 0; // bytes
    wchar_t Data[BackupUnits + 1] = {};
};

LONG QueryBackupValue(HKEY key, const wchar_t* folder, BackupValue& value)
{
    DWORD size = static_cast<DWORD>(BackupUnits * sizeof(wchar_t));
    DWORD type = REG_NONE;
    const LONG status = RegQueryValueExW(key, folder, nullptr, &type, reinterpret_cast<BYTE*>(value.Data), &size);
    if (status != ERROR_SUCCESS)
        return status;
    value.Type = type;
    value.Size = size;
    // Data of odd length ends in half a unit, which is no character.
    value.Data[size / sizeof(wchar_t)] = L'\0';
    return ERROR_SUCCESS;
}

LONG ReadBackupValue(Scope scope, const wchar_t* folder, BackupValue& value)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    const LONG status = key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_READ);
    if (status != ERROR_SUCCESS)
        return status;
    return QueryBackupValue(key.get(), folder, value);
}

// The scope's FolderBAKIcons key, made where it is missing, to hold a folder's backup.
LONG CreateBackupKey(Scope scope, const wchar_t* folder, RegKey& key)
{
    // An empty value name would address the key's default value, not a folder.
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    return key.Create(ProductKeyRoot(scope), FolderBackupKey);
}

LONG SetBackupValue(Scope scope, const wchar_t* folder, DWORD type, const void* data, DWORD size)
{
    RegKey key;
    const LONG status = CreateBackupKey(scope, folder, key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(key.get(), folder, 0, type, static_cast<const BYTE*>(data), size);
}

// The location a backup value starts with: the text up to its first terminator.
std::optional<IconLocation> LocationOfBackup(const BackupValue& value, const wchar_t* folder)
{
    auto location = ParseIconLocation(value.Data, true);
    if (location && !location->SetTargetName(folder))
        return std::nullopt;
    return location;
}

// The entries listed behind the location, each "Name=text". False when there are none,
// or when the list holds anything else (then the location alone is restored).
bool ListedEntriesOfBackup(const BackupValue& value, ListedEntries& listed)
{
    const std::size_t units = value.Size / sizeof(wchar_t);
    std::size_t at = wcsnlen(value.Data, units) + 1;
    bool any = false;
    while (at < units && value.Data[at] != L'\0') {
        const wchar_t* item = value.Data + at;
        const std::size_t length = wcsnlen(item, units - at);
        bool known = false;
        for (std::size_t i = 0; i < std::size(EntryNames); ++i) {
            const std::size_t nameLength = std::wcslen(EntryNames[i]);
            if (length > nameLength && item[nameLength] == L'=' && std::wcsncmp(item, EntryNames[i], nameLength) == 0 &&
                listed.Texts[i] == nullptr) {
                listed.Texts[i] = item + nameLength + 1;
                known = true;
            }
        }
        if (!known)
            return false;
        any = true;
        at += length + 1;
    }
    return any;
}

// How the Desktop.ini stood before the change, where the backup keeps it (behind the
// list of entries); nothing differed where it does not.
ProfileStart ProfileStartOfBackup(const BackupValue& value)
{
    ProfileStart start;
    const std::size_t units = value.Size / sizeof(wchar_t);
    std::size_t at = wcsnlen(value.Data, units) + 1;
    while (at < units && value.Data[at] != L'\0')
        at += wcsnlen(value.Data + at, units - at) + 1;
    ++at;
    if (at >= units)
        return start;
    const wchar_t* item = value.Data + at;
    const std::size_t length = wcsnlen(item, units - at);
    const std::size_t nameLength = std::size(ProfileStartItem) - 1;
    if (length < nameLength || std::wcsncmp(item, ProfileStartItem, nameLength) != 0)
        return start;
    for (std::size_t from = nameLength; from < length;) {
        std::size_t to = from;
        while (to < length && item[to] != L',')
            ++to;
        for (std::size_t word = 0; word < std::size(StartWords); ++word) {
            if (std::wcslen(StartWords[word]) == to - from && std::wcsncmp(item + from, StartWords[word], to - from) == 0)
                StartFlag(start, word) = true;
        }
        from = to + 1;
    }
    return start;
}

} // namespace

std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope scope)
{
    // An empty value name would address the key's default value, not a folder.
    if (IsEmpty(folder))
        return std::nullopt;
    BackupValue value;
    if (ReadBackupValue(scope, folder, value) != ERROR_SUCCESS)
        return std::nullopt;
    return LocationOfBackup(value, folder);
}

std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope* found)
{
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (auto location = ReadFolderBackup(folder, scope)) {
            if (found != nullptr)
                *found = scope;
            return location;
        }
    }
    return std::nullopt;
}

LONG WriteFolderBackup(const IconLocation& location, const wchar_t* folder, Scope scope)
{
    RegKey key;
    const LONG status = CreateBackupKey(scope, folder, key);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteIconLocationValue(key.get(), location, folder, false);
}

LONG WriteFolderBackupOfEntries(const IconLocation& shown, const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    wchar_t profile[TextCapacity];
    const IconEntries entries = FormatProfilePath(folder, profile) ? ReadIconEntries(profile) : IconEntries();
    // An entry too long to keep cannot be put back as it was: the icon alone is kept then.
    bool cut = false;
    for (const ProfileEntry& entry : entries.Items)
        cut = cut || entry.Cut;
    // The location has room beyond 259 characters: a 259-character path and its index.
    BackupValue value;
    if (!FormatIconLocation(shown, false, value.Data, EntryCapacity))
        return ERROR_FILENAME_EXCED_RANGE;
    std::size_t used = std::wcslen(value.Data) + 1;
    const ProfileStart start = profile[0] != L'\0' ? ReadProfileStart(folder, profile) : ProfileStart();
    const bool listsEntries = !cut && !EntriesAreThoseOf(entries, shown);
    if (!listsEntries && !start.Any()) {
        if (used <= TextCapacity)
            return WriteFolderBackup(shown, folder, scope);
        return SetBackupValue(scope, folder, REG_SZ, value.Data, static_cast<DWORD>(used * sizeof(wchar_t)));
    }
    // Each entry that stands there as "Name=text", then the empty text that ends the list.
    for (std::size_t i = 0; listsEntries && i < std::size(EntryNames); ++i) {
        if (!entries.Items[i].Present)
            continue;
        const int written = std::swprintf(value.Data + used, BackupUnits - used, L"%ls=%ls", EntryNames[i],
                                          entries.Items[i].Text);
        if (written < 0)
            return ERROR_FILENAME_EXCED_RANGE;
        used += static_cast<std::size_t>(written) + 1;
    }
    value.Data[used++] = L'\0';
    if (start.Any()) {
        ProfileStart words = start;
        int written = std::swprintf(value.Data + used, BackupUnits - used, L"%ls", ProfileStartItem);
        for (std::size_t word = 0; written >= 0 && word < std::size(StartWords); ++word) {
            if (!StartFlag(words, word))
                continue;
            const bool first = value.Data[used + static_cast<std::size_t>(written) - 1] == L'=';
            const int more = std::swprintf(value.Data + used + written, BackupUnits - used - written, L"%ls%ls",
                                           first ? L"" : L",", StartWords[word]);
            written = more < 0 ? -1 : written + more;
        }
        if (written < 0)
            return ERROR_FILENAME_EXCED_RANGE;
        used += static_cast<std::size_t>(written) + 1;
        value.Data[used++] = L'\0';
    }
    return SetBackupValue(scope, folder, REG_MULTI_SZ, value.Data, static_cast<DWORD>(used * sizeof(wchar_t)));
}

LONG WriteFolderIconFromBackup(const wchar_t* folder, Scope scope)
{
    BackupValue value;
    const LONG status = ReadBackupValue(scope, folder, value);
    if (status != ERROR_SUCCESS)
        return status;
    std::optional<IconLocation> location = LocationOfBackup(value, folder);
    if (!location)
        return ERROR_INVALID_DATA;
    const ProfileStart start = ProfileStartOfBackup(value);
    ListedEntries listed;
    const bool listsEntries = ListedEntriesOfBackup(value, listed);
    if (!listsEntries && !start.Any())
        return WriteFolderIcon(*location);
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile) || wcsnlen(location->IconPath, TextCapacity) > FolderIconPathLimit)
        return ERROR_FILENAME_EXCED_RANGE;
    LocationTexts texts;
    if (!listsEntries && !EntriesOfLocation(*location, texts, listed))
        return ERROR_FILENAME_EXCED_RANGE;
    return WriteEntries(folder, profile, listed, start.Any() ? &start : nullptr);
}

LONG CopyFolderBackup(const wchar_t* folder, Scope from, Scope to)
{
    BackupValue value;
    const LONG status = ReadBackupValue(from, folder, value);
    if (status != ERROR_SUCCESS)
        return status;
    return SetBackupValue(to, folder, value.Type, value.Data, value.Size);
}

LONG DeleteFolderBackup(const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    LONG status = key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    status = DeletionStatus(RegDeleteValueW(key.get(), folder));
    key.reset();
    if (status != ERROR_SUCCESS || scope == Scope::AllUsers)
        return status;
    return RemoveEmptyUserProductKeys(FolderBackupKey);
}

bool MayWriteFolderBackup(Scope scope) { return MayWrite(ProductKeyRoot(scope), FolderBackupKey, KEY_SET_VALUE); }

bool MayUseFolderBackups(Scope scope) { return MayWrite(ProductKeyRoot(scope), ProductKey, KEY_CREATE_SUB_KEY); }

namespace {

// The keys from the product's vendor key down to FolderBAKIcons, below "Software".
constexpr const wchar_t* BackupKeyChain[] = {CompanyKey, ProductKey, FolderBackupKey};

} // namespace

FolderBackupSnapshot::FolderBackupSnapshot(const wchar_t* folder) : folder_(folder)
{
    if (IsEmpty(folder))
        return;
    for (const Scope scope : {Scope::AllUsers, Scope::ThisUser}) {
        ScopeState& state = states_[scope == Scope::AllUsers ? 0 : 1];
        for (const wchar_t* path : BackupKeyChain) {
            RegKey key;
            if (key.Open(ProductKeyRoot(scope), path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
                break;
            ++state.KeysThere;
        }
        BackupValue value;
        const LONG status = ReadBackupValue(scope, folder, value);
        if (status == ERROR_SUCCESS) {
            state.HasValue = true;
            state.Type = value.Type;
            state.Size = value.Size;
            std::wmemcpy(state.Data, value.Data, std::size(state.Data));
        } else if (status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND) {
            return;
        }
    }
    taken_ = true;
}

LONG FolderBackupSnapshot::PutBack() const
{
    if (!taken_)
        return ERROR_INVALID_FUNCTION;
    LONG result = ERROR_SUCCESS;
    for (const Scope scope : {Scope::AllUsers, Scope::ThisUser}) {
        const ScopeState& state = states_[scope == Scope::AllUsers ? 0 : 1];
        LONG status = ERROR_SUCCESS;
        if (state.HasValue) {
            status = SetBackupValue(scope, folder_, state.Type, state.Data, state.Size);
        } else {
            RegKey key;
            if (key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_SET_VALUE) == ERROR_SUCCESS)
                status = DeletionStatus(RegDeleteValueW(key.get(), folder_));
            // The keys made by the change go, from the first that was not there.
            const std::size_t first = static_cast<std::size_t>(state.KeysThere);
            if (status == ERROR_SUCCESS && first < std::size(BackupKeyChain)) {
                const wchar_t* base = first == 0 ? L"Software" : BackupKeyChain[first - 1];
                status = RemoveEmptyKeys(ProductKeyRoot(scope), base, FolderBackupKey + std::wcslen(base) + 1);
            }
        }
        if (result == ERROR_SUCCESS)
            result = status;
    }
    return result;
}

} // namespace orvane

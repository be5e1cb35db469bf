#include "FolderBackups.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "DesktopIni.h"
#include "FolderFirstState.h"
#include "FolderIcons.h"
#include "MadeIconFile.h"
#include "ProfileEncoding.h"
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

// A Desktop.ini larger than this is not a folder's settings; it is neither kept nor hashed.
constexpr DWORD ProfileReadLimit = 16 * 1024 * 1024;
// The most units of a base64 Desktop.ini kept beside a backup.
constexpr std::size_t KeptBytesUnits = 64 * 1024;

std::uint64_t HashOf(const ProfileFile& file)
{
    return Fnv1a64(reinterpret_cast<const std::uint8_t*>(file.Bytes.data()), file.Bytes.size());
}

// The Desktop.ini as it stands now: none when it cannot be read whole.
std::optional<ProfileFile> CurrentProfile(const wchar_t* folder)
{
    wchar_t profile[TextCapacity];
    ProfileFile file;
    if (!FormatProfilePath(folder, profile) || !ReadProfileFile(profile, ProfileReadLimit, file))
        return std::nullopt;
    return file;
}

// Whether the Desktop.ini is as the scope's last change left it.
bool AsLastWritten(const FolderState& state, const wchar_t* folder)
{
    const std::optional<std::wstring> written = state.Text(FolderStateWrittenItem);
    const std::optional<std::uint64_t> hash = written ? ParseHex(*written) : std::nullopt;
    const std::optional<ProfileFile> now = hash ? CurrentProfile(folder) : std::nullopt;
    return now && now->Exists && HashOf(*now) == *hash;
}

// The Desktop.ini and the folder's attributes from before the first change, where the
// backup keeps them.
struct FirstState {
    bool Known = false; // the file's bytes (or its absence) are kept
    ProfileFile File;
    std::optional<DWORD> FileAttributes; // none: there was no file, or it is not known
    std::optional<DWORD> FolderAttributes;
    bool NoIcon = false;
};

FirstState FirstStateOf(const FolderState& state)
{
    FirstState first;
    first.NoIcon = state.Text(FolderStateIconItem) == std::optional<std::wstring>(L"none");
    if (const auto attributes = state.Text(FolderStateAttributesItem)) {
        const std::size_t comma = attributes->find(L',');
        if (comma != std::wstring::npos) {
            const auto file = ParseHex(attributes->substr(0, comma));
            const auto folder = ParseHex(attributes->substr(comma + 1));
            if (file)
                first.FileAttributes = static_cast<DWORD>(*file);
            if (folder)
                first.FolderAttributes = static_cast<DWORD>(*folder);
        }
    }
    const std::optional<std::wstring> file = state.Text(FolderStateFileItem);
    const std::size_t prefix = std::size(FolderStateBytesPrefix) - 1;
    if (file && *file == L"none" && !first.FileAttributes) {
        first.Known = true;
    } else if (file && file->compare(0, prefix, FolderStateBytesPrefix) == 0 && first.FileAttributes &&
               BytesOfBase64(file->substr(prefix), first.File.Bytes)) {
        first.Known = true;
        first.File.Exists = true;
        first.File.Attributes = *first.FileAttributes;
    }
    return first;
}

// The start as the first state's attributes give it, where the backup keeps them, else as
// the start item's words say.
ProfileStart StartOf(const BackupValue& value, const FirstState& first)
{
    ProfileStart start = ProfileStartOfBackup(value);
    if (first.FolderAttributes)
        start.PlainFolder = (*first.FolderAttributes & FILE_ATTRIBUTE_SYSTEM) == 0;
    if (first.FileAttributes)
        start.Shown = (*first.FileAttributes & FILE_ATTRIBUTE_HIDDEN) == 0;
    return start;
}

// The scope's state of the folder; empty where there is none or it cannot be read.
FolderState StateOf(Scope scope, const wchar_t* folder)
{
    FolderState state;
    if (ReadFolderState(scope, folder, state) != ERROR_SUCCESS)
        state.Items.clear();
    return state;
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

LONG TakeFolderBackup(const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile))
        return ERROR_FILENAME_EXCED_RANGE;
    const IconEntries entries = ReadIconEntries(profile);
    bool cut = false, any = false;
    for (const ProfileEntry& entry : entries.Items) {
        cut = cut || entry.Cut;
        any = any || entry.Present;
    }
    // The value as earlier builds wrote it: the icon the folder shows (the Folder class's
    // where the entries name none; empty where none is known), the entries that stand
    // there where they are not the three naming that icon, and how the file started.
    BackupValue value;
    const std::optional<IconLocation> shown = ReadFolderIcon(folder);
    if (shown && !FormatIconLocation(*shown, false, value.Data, EntryCapacity))
        return ERROR_FILENAME_EXCED_RANGE;
    std::size_t used = std::wcslen(value.Data) + 1;
    const ProfileStart start = ReadProfileStart(folder, profile);
    // An entry too long to keep cannot be put back as it was.
    const bool listsEntries = any && !cut && (!shown || !EntriesAreThoseOf(entries, *shown));
    DWORD type = REG_SZ;
    if (listsEntries || start.Any()) {
        type = REG_MULTI_SZ;
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
            std::wstring words = ProfileStartItem;
            ProfileStart flags = start;
            for (std::size_t word = 0; word < std::size(StartWords); ++word)
                if (StartFlag(flags, word))
                    words += std::wstring(words.back() == L'=' ? L"" : L",") + StartWords[word];
            if (used + words.size() + 2 > BackupUnits)
                return ERROR_FILENAME_EXCED_RANGE;
            std::wmemcpy(value.Data + used, words.c_str(), words.size() + 1);
            used += words.size() + 1;
            value.Data[used++] = L'\0';
        }
    }
    // Beside it, how the folder stands: whether it names an icon, the file's bytes (or
    // that there is none), the attributes of both.
    FolderState state;
    if (!any)
        state.Set(FolderStateIconItem, L"none");
    ProfileFile file;
    const bool read = ReadProfileFile(profile, ProfileReadLimit, file);
    const DWORD folderAttributes = GetFileAttributesW(folder);
    state.Set(FolderStateAttributesItem,
              (read && file.Exists ? HexOf(file.Attributes, 1) : std::wstring(L"none")) + L"," +
                  HexOf(folderAttributes == INVALID_FILE_ATTRIBUTES ? 0 : folderAttributes, 1));
    std::wstring kept = !read ? L"unkept" : !file.Exists ? L"none" : FolderStateBytesPrefix + Base64Of(file.Bytes);
    state.Set(FolderStateFileItem, kept.size() <= KeptBytesUnits ? kept : L"unkept");
    LONG status = SetBackupValue(scope, folder, type, value.Data, static_cast<DWORD>(used * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS)
        status = WriteFolderState(scope, folder, state);
    return status;
}

LONG RecordFolderChange(const wchar_t* folder, Scope scope, const IconLocation& set, bool fileKept)
{
    FolderState state = StateOf(scope, folder);
    wchar_t location[EntryCapacity] = {};
    if (!FormatIconLocation(set, false, location, EntryCapacity))
        return ERROR_FILENAME_EXCED_RANGE;
    // The file's absence is let go too: what was written beside the icon since must stay.
    if (!fileKept && state.Text(FolderStateFileItem))
        state.Set(FolderStateFileItem, L"unkept");
    state.Set(FolderStateSetItem, location);
    const std::optional<ProfileFile> now = CurrentProfile(folder);
    state.Set(FolderStateWrittenItem, now && now->Exists ? HexOf(HashOf(*now), 16) : std::wstring(L"none"));
    return WriteFolderState(scope, folder, state);
}

bool ShowsOwnChange(const wchar_t* folder, Scope scope)
{
    const FolderState state = StateOf(scope, folder);
    const std::optional<std::wstring> set = state.Text(FolderStateSetItem);
    // A backup of an earlier build says nothing of what its change wrote: it is kept.
    if (!set || AsLastWritten(state, folder))
        return true;
    const std::optional<IconLocation> wrote = ParseIconLocation(set->c_str(), false);
    wchar_t profile[TextCapacity];
    if (!wrote || !FormatProfilePath(folder, profile))
        return false;
    bool unreadable = false;
    const std::optional<IconLocation> shown = LocationOfEntries(ReadIconEntries(profile), &unreadable);
    return shown && shown->Index == wrote->Index &&
           CompareStringOrdinal(shown->IconPath, -1, wrote->IconPath, -1, TRUE) == CSTR_EQUAL;
}

bool FolderStillAsWritten(const wchar_t* folder, Scope scope) { return AsLastWritten(StateOf(scope, folder), folder); }

LONG WriteFolderIconFromBackup(const wchar_t* folder, Scope scope)
{
    BackupValue value;
    const LONG status = ReadBackupValue(scope, folder, value);
    if (status != ERROR_SUCCESS)
        return status;
    const FolderState state = StateOf(scope, folder);
    const FirstState first = FirstStateOf(state);
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile))
        return ERROR_FILENAME_EXCED_RANGE;
    // The file is as the last change left it: it goes back byte for byte.
    if (first.Known && first.FolderAttributes && AsLastWritten(state, folder))
        return PutProfileBack(folder, profile, first.File, *first.FolderAttributes);
    // Changed by other means since: the entries alone go back, the rest of the file stays.
    ProfileStart start = StartOf(value, first);
    const DWORD folderSystem = start.PlainFolder ? 0 : FILE_ATTRIBUTE_SYSTEM;
    if (first.NoIcon) {
        const ProfileFile none;
        if (GetFileAttributesW(profile) == INVALID_FILE_ATTRIBUTES) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND)
                return LastErrorOr(ERROR_ACCESS_DENIED);
            return PutProfileBack(folder, profile, none, folderSystem);
        }
        const LONG written = WriteEntries(folder, profile, ListedEntries(), &start);
        // A Desktop.ini the first change made, left with nothing in it, goes.
        if (written != ERROR_SUCCESS || first.FileAttributes || !HoldsNoEntries(profile))
            return written;
        return PutProfileBack(folder, profile, none, folderSystem);
    }
    std::optional<IconLocation> location = LocationOfBackup(value, folder);
    ListedEntries listed;
    const bool listsEntries = ListedEntriesOfBackup(value, listed);
    if (!location || (location->IconPath[0] == L'\0' && !listsEntries))
        return ERROR_INVALID_DATA;
    const bool startKnown = start.Any() || first.FolderAttributes.has_value();
    if (!listsEntries && !startKnown)
        return WriteFolderIcon(*location);
    if (wcsnlen(location->IconPath, TextCapacity) > FolderIconPathLimit)
        return ERROR_FILENAME_EXCED_RANGE;
    LocationTexts texts;
    if (!listsEntries && !EntriesOfLocation(*location, texts, listed))
        return ERROR_FILENAME_EXCED_RANGE;
    return WriteEntries(folder, profile, listed, startKnown ? &start : nullptr);
}

bool FolderChainIsWhole(const wchar_t* folder)
{
    const FirstState userFirst = FirstStateOf(StateOf(Scope::ThisUser, folder));
    const std::optional<std::wstring> written = StateOf(Scope::AllUsers, folder).Text(FolderStateWrittenItem);
    if (!userFirst.Known || !written)
        return false;
    if (!userFirst.File.Exists)
        return *written == L"none";
    return ParseHex(*written) == std::optional<std::uint64_t>(HashOf(userFirst.File));
}

LONG MoveFirstFolderState(const wchar_t* folder, Scope from, Scope to)
{
    BackupValue source;
    LONG status = ReadBackupValue(from, folder, source);
    if (status != ERROR_SUCCESS)
        return status;
    const bool whole = FolderChainIsWhole(folder);
    FolderState state = StateOf(from, folder);
    const FolderState last = StateOf(to, folder);
    for (const wchar_t* name : {FolderStateSetItem, FolderStateWrittenItem}) {
        state.Remove(name);
        if (const auto text = last.Text(name))
            state.Set(name, *text);
    }
    if (!whole && state.Text(FolderStateFileItem))
        state.Set(FolderStateFileItem, L"unkept");
    status = SetBackupValue(to, folder, source.Type, source.Data, source.Size);
    if (status == ERROR_SUCCESS)
        status = state.Items.empty() ? DeleteFolderState(to, folder) : WriteFolderState(to, folder, state);
    return status;
}

LONG CopyFolderBackup(const wchar_t* folder, Scope from, Scope to)
{
    BackupValue value;
    LONG status = ReadBackupValue(from, folder, value);
    if (status != ERROR_SUCCESS)
        return status;
    status = SetBackupValue(to, folder, value.Type, value.Data, value.Size);
    if (status != ERROR_SUCCESS)
        return status;
    const FolderState state = StateOf(from, folder);
    return state.Items.empty() ? DeleteFolderState(to, folder) : WriteFolderState(to, folder, state);
}

LONG DeleteFolderBackup(const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    LONG status = DeleteFolderState(scope, folder);
    if (status != ERROR_SUCCESS)
        return status;
    RegKey key;
    status = key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_ALL_ACCESS);
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
        {
            RegKey key;
            state.StateKeyThere = key.Open(ProductKeyRoot(scope), FolderStateKey, KEY_QUERY_VALUE) == ERROR_SUCCESS;
        }
        FolderState kept;
        const LONG stateStatus = ReadFolderState(scope, folder, kept);
        if (stateStatus == ERROR_SUCCESS) {
            state.HasState = true;
            state.StateItems = std::move(kept.Items);
        } else if (stateStatus != ERROR_FILE_NOT_FOUND && stateStatus != ERROR_PATH_NOT_FOUND) {
            return;
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
        if (state.HasState) {
            FolderState kept;
            kept.Items = state.StateItems;
            status = WriteFolderState(scope, folder_, kept);
        } else {
            RegKey key;
            if (key.Open(ProductKeyRoot(scope), FolderStateKey, KEY_SET_VALUE) == ERROR_SUCCESS)
                status = DeletionStatus(RegDeleteValueW(key.get(), folder_));
            key.reset();
            // A key the change made goes once it is empty again.
            if (status == ERROR_SUCCESS && !state.StateKeyThere)
                status = RemoveEmptyKeys(ProductKeyRoot(scope), ProductKey, FolderStateKey + std::wcslen(ProductKey) + 1);
        }
        if (status != ERROR_SUCCESS) {
            if (result == ERROR_SUCCESS)
                result = status;
            continue;
        }
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

#include "FolderBackups.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "BackupValue.h"
#include "DesktopIni.h"
#include "FolderFirstState.h"
#include "FolderIcons.h"
#include "Fnv1a.h"
#include "DesktopIniEncoding.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"
#include "WholeFile.h"

namespace orvane {

using namespace desktop_ini;

namespace {
// A Desktop.ini larger than this is not a folder's settings; it is neither kept nor hashed.
constexpr DWORD DesktopIniReadLimit = 16 * 1024 * 1024;
// The most units of a base64 Desktop.ini kept beside a backup.
constexpr std::size_t KeptBytesUnits = 64 * 1024;

std::uint64_t HashOf(const DesktopIniFile& file)
{
    return Fnv1a64(reinterpret_cast<const std::uint8_t*>(file.Bytes.data()), file.Bytes.size());
}

// The Desktop.ini as it stands now: none when it cannot be read whole.
std::optional<DesktopIniFile> CurrentDesktopIni(const wchar_t* folder)
{
    wchar_t desktopIni[TextCapacity];
    DesktopIniFile file;
    if (!FormatDesktopIniPath(folder, desktopIni) || !ReadDesktopIniFile(desktopIni, DesktopIniReadLimit, file))
        return std::nullopt;
    return file;
}

// Whether the Desktop.ini is as the scope's last change left it.
bool AsLastWritten(const FolderState& state, const wchar_t* folder)
{
    const std::optional<std::wstring> written = state.Text(FolderStateWrittenItem);
    const std::optional<std::uint64_t> hash = written ? ParseHex(*written) : std::nullopt;
    const std::optional<DesktopIniFile> now = hash ? CurrentDesktopIni(folder) : std::nullopt;
    return now && now->Exists && HashOf(*now) == *hash;
}

// The Desktop.ini and the folder's attributes from before the first change, where the
// backup keeps them.
struct FirstState {
    bool Known = false; // the file's bytes (or its absence) are kept
    DesktopIniFile File;
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
DesktopIniStart StartOf(const BackupValue& value, const FirstState& first)
{
    DesktopIniStart start = DesktopIniStartOfBackup(value);
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

// How the folder stands beside its backup: whether it names an icon, the Desktop.ini's
// bytes (or that there is none), the attributes of both.
FolderState FolderStateNow(const FolderNow& now, bool namesIcon)
{
    FolderState state;
    if (!namesIcon)
        state.Set(FolderStateIconItem, L"none");
    const DWORD folderAttributes = now.FolderAttributes;
    state.Set(FolderStateAttributesItem,
              (now.Read && now.File.Exists ? HexOf(now.File.Attributes, 1) : std::wstring(L"none")) + L"," +
                  HexOf(folderAttributes == INVALID_FILE_ATTRIBUTES ? 0 : folderAttributes, 1));
    std::wstring kept = !now.Read       ? L"unkept"
                        : !now.File.Exists ? L"none"
                                           : FolderStateBytesPrefix + Base64Of(now.File.Bytes);
    state.Set(FolderStateFileItem, kept.size() <= KeptBytesUnits ? kept : L"unkept");
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
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(folder, desktopIni))
        return ERROR_FILENAME_EXCED_RANGE;
    // The file and the folder are read once for all the backup keeps of them.
    const FolderNow now = ReadFolderNow(folder, desktopIni, DesktopIniReadLimit);
    const IconEntries& entries = now.Entries;
    BackupValue value;
    DWORD type = REG_SZ;
    std::size_t used = 0;
    LONG status = ComposeBackupValue(folder, now, value, type, used);
    if (status != ERROR_SUCCESS)
        return status;
    bool namesIcon = false;
    for (const DesktopIniEntry& entry : entries.Items)
        namesIcon = namesIcon || entry.Present;
    status = SetBackupValue(scope, folder, type, value.Data, static_cast<DWORD>(used * sizeof(wchar_t)));
    if (status == ERROR_SUCCESS)
        status = WriteFolderState(scope, folder, FolderStateNow(now, namesIcon));
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
    const std::optional<DesktopIniFile> now = CurrentDesktopIni(folder);
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
    wchar_t desktopIni[TextCapacity];
    if (!wrote || !FormatDesktopIniPath(folder, desktopIni))
        return false;
    bool unreadable = false;
    const std::optional<IconLocation> shown = LocationOfEntries(ReadIconEntries(desktopIni), &unreadable);
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
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(folder, desktopIni))
        return ERROR_FILENAME_EXCED_RANGE;
    // The file is as the last change left it: it goes back byte for byte.
    if (first.Known && first.FolderAttributes && AsLastWritten(state, folder))
        return PutDesktopIniBack(folder, desktopIni, first.File, *first.FolderAttributes);
    // Changed by other means since: the entries alone go back, the rest of the file stays.
    DesktopIniStart start = StartOf(value, first);
    const DWORD folderSystem = start.PlainFolder ? 0 : FILE_ATTRIBUTE_SYSTEM;
    if (first.NoIcon) {
        const DesktopIniFile none;
        if (GetFileAttributesW(desktopIni) == INVALID_FILE_ATTRIBUTES) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND)
                return LastErrorOr(ERROR_ACCESS_DENIED);
            return PutDesktopIniBack(folder, desktopIni, none, folderSystem);
        }
        const LONG written = WriteEntries(folder, desktopIni, ListedEntries(), &start);
        // A Desktop.ini the first change made, left with nothing in it, goes.
        if (written != ERROR_SUCCESS || first.FileAttributes || !HoldsNoEntries(desktopIni))
            return written;
        return PutDesktopIniBack(folder, desktopIni, none, folderSystem);
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
    return WriteEntries(folder, desktopIni, listed, startKnown ? &start : nullptr);
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

} // namespace orvane

#include "BackupValue.h"

#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>

#include "DesktopIniEncoding.h"
#include "FolderIcons.h"
#include "RegistryNames.h"

namespace orvane {

using namespace desktop_ini;

namespace {

// In a backup the start follows the listed entries (and the empty text that ends them),
// as "Desktop.ini=" and the words of what differed, comma separated; earlier builds stop
// reading at the end of the list.
constexpr wchar_t DesktopIniStartItem[] = L"Desktop.ini=";
constexpr const wchar_t* StartWords[] = {L"ansi", L"shown", L"plain-folder"};

bool& StartFlag(DesktopIniStart& start, std::size_t word)
{
    bool* flags[] = {&start.Ansi, &start.Shown, &start.PlainFolder};
    return *flags[word];
}

} // namespace

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
DesktopIniStart DesktopIniStartOfBackup(const BackupValue& value)
{
    DesktopIniStart start;
    const std::size_t units = value.Size / sizeof(wchar_t);
    std::size_t at = wcsnlen(value.Data, units) + 1;
    while (at < units && value.Data[at] != L'\0')
        at += wcsnlen(value.Data + at, units - at) + 1;
    ++at;
    if (at >= units)
        return start;
    const wchar_t* item = value.Data + at;
    const std::size_t length = wcsnlen(item, units - at);
    const std::size_t nameLength = std::size(DesktopIniStartItem) - 1;
    if (length < nameLength || std::wcsncmp(item, DesktopIniStartItem, nameLength) != 0)
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

LONG ComposeBackupValue(const wchar_t* folder, const FolderNow& now, BackupValue& value, DWORD& type, std::size_t& used)
{
    const IconEntries& entries = now.Entries;
    bool cut = false, any = false;
    for (const DesktopIniEntry& entry : entries.Items) {
        cut = cut || entry.Cut;
        any = any || entry.Present;
    }
    // The value as earlier builds wrote it: the icon the folder shows (the Folder class's
    // where the entries name none; empty where none is known), the entries that stand
    // there where they are not the three naming that icon, and how the file started.
    const std::optional<IconLocation> shown = ShownByEntries(folder, entries);
    if (shown && !FormatIconLocation(*shown, false, value.Data, EntryCapacity))
        return ERROR_FILENAME_EXCED_RANGE;
    used = std::wcslen(value.Data) + 1;
    const DesktopIniStart start = StartOf(now);
    // An entry too long to keep cannot be put back as it was.
    const bool listsEntries = any && !cut && (!shown || !EntriesAreThoseOf(entries, *shown));
    type = REG_SZ;
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
            std::wstring words = DesktopIniStartItem;
            DesktopIniStart flags = start;
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
    return ERROR_SUCCESS;
}

} // namespace orvane

#include "FolderBackups.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "DesktopIni.h"
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

// Behind the start item, what earlier builds do not read: how the folder stood before
// the first change of the scope, and what the scope's last change left.
//   "Icon=none"           the Desktop.ini named no icon (the location is then the Folder
//                         class's, or empty where there is none)
//   "File=none"           there was no Desktop.ini
//   "File=b64:..."        its bytes, in base64
//   "File=unkept"         there was one, but its bytes are not kept (too large, or the
//                         file was changed by other means between two changes)
//   "Attributes=F,D"      the attributes of the Desktop.ini (or "none") and of the folder,
//                         in hexadecimal
//   "Set=path,index"      the icon the scope's last change wrote
//   "Written=H"           the FNV-1a hash of the Desktop.ini as that change left it
// A Desktop.ini larger than this is not a folder's settings; it is neither kept nor hashed.
constexpr DWORD ProfileReadLimit = 16 * 1024 * 1024;
constexpr wchar_t IconItem[] = L"Icon=";
constexpr wchar_t FileItem[] = L"File=";
constexpr wchar_t AttributesItem[] = L"Attributes=";
constexpr wchar_t SetItem[] = L"Set=";
constexpr wchar_t WrittenItem[] = L"Written=";
constexpr wchar_t BytesPrefix[] = L"b64:";

// A backup value taken apart: its location, the listed entries and the items behind the
// list (the start item first, where there is one).
struct BackupParts {
    std::wstring Location;
    std::vector<std::wstring> Entries;
    std::vector<std::wstring> After;

    const std::wstring* Find(const wchar_t* name) const
    {
        const std::size_t length = std::wcslen(name);
        for (const std::wstring& item : After)
            if (item.compare(0, length, name) == 0)
                return &item;
        return nullptr;
    }
    // The text behind the item's name; none where the item is missing.
    std::optional<std::wstring> Text(const wchar_t* name) const
    {
        const std::wstring* item = Find(name);
        if (item == nullptr)
            return std::nullopt;
        return item->substr(std::wcslen(name));
    }
    void Remove(const wchar_t* name)
    {
        const std::size_t length = std::wcslen(name);
        for (auto item = After.begin(); item != After.end(); ++item) {
            if (item->compare(0, length, name) == 0) {
                After.erase(item);
                return;
            }
        }
    }
    void Set(const wchar_t* name, const std::wstring& text)
    {
        if (After.empty() || After.front().compare(0, std::size(ProfileStartItem) - 1, ProfileStartItem) != 0)
            After.insert(After.begin(), ProfileStartItem);
        const std::size_t length = std::wcslen(name);
        for (std::wstring& item : After) {
            if (item.compare(0, length, name) == 0) {
                item = name + text;
                return;
            }
        }
        After.push_back(name + text);
    }
};

BackupParts PartsOf(const BackupValue& value)
{
    BackupParts parts;
    const std::size_t units = value.Size / sizeof(wchar_t);
    std::size_t at = wcsnlen(value.Data, units);
    parts.Location.assign(value.Data, at);
    if (value.Type != REG_MULTI_SZ)
        return parts;
    ++at;
    while (at < units && value.Data[at] != L'\0') {
        const std::size_t length = wcsnlen(value.Data + at, units - at);
        parts.Entries.emplace_back(value.Data + at, length);
        at += length + 1;
    }
    ++at;
    while (at < units && value.Data[at] != L'\0') {
        const std::size_t length = wcsnlen(value.Data + at, units - at);
        parts.After.emplace_back(value.Data + at, length);
        at += length + 1;
    }
    return parts;
}

// The parts as a value's units: the location alone as text, else the list form.
std::wstring UnitsOf(const BackupParts& parts, DWORD& type)
{
    std::wstring units = parts.Location;
    units.push_back(L'\0');
    type = REG_SZ;
    if (parts.Entries.empty() && parts.After.empty())
        return units;
    type = REG_MULTI_SZ;
    for (const std::wstring& entry : parts.Entries) {
        units += entry;
        units.push_back(L'\0');
    }
    units.push_back(L'\0');
    if (parts.After.empty())
        return units;
    for (const std::wstring& item : parts.After) {
        units += item;
        units.push_back(L'\0');
    }
    units.push_back(L'\0');
    return units;
}

LONG StoreParts(Scope scope, const wchar_t* folder, const BackupParts& parts)
{
    DWORD type = REG_SZ;
    const std::wstring units = UnitsOf(parts, type);
    // Earlier builds read at most BackupUnits; a larger value would be no backup to them.
    if (units.size() > BackupUnits)
        return ERROR_FILENAME_EXCED_RANGE;
    return SetBackupValue(scope, folder, type, units.data(), static_cast<DWORD>(units.size() * sizeof(wchar_t)));
}

constexpr char Base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::wstring Base64Of(const std::string& bytes)
{
    std::wstring out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (left > 1)
            group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        if (left > 2)
            group |= static_cast<std::uint8_t>(bytes[i + 2]);
        out.push_back(static_cast<wchar_t>(Base64Digits[(group >> 18) & 63]));
        out.push_back(static_cast<wchar_t>(Base64Digits[(group >> 12) & 63]));
        out.push_back(left > 1 ? static_cast<wchar_t>(Base64Digits[(group >> 6) & 63]) : L'=');
        out.push_back(left > 2 ? static_cast<wchar_t>(Base64Digits[group & 63]) : L'=');
    }
    return out;
}

// False for anything that is not base64 as Base64Of writes it.
bool BytesOfBase64(const std::wstring& text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        int pad = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const wchar_t c = text[i + j];
            const char* digit = c < 128 && c != L'\0' ? std::strchr(Base64Digits, static_cast<char>(c)) : nullptr;
            if (c == L'=' && i + 4 == text.size() && j >= 2) {
                ++pad;
                group <<= 6;
                continue;
            }
            if (digit == nullptr || pad != 0)
                return false;
            group = (group << 6) | static_cast<std::uint32_t>(digit - Base64Digits);
        }
        bytes.push_back(static_cast<char>((group >> 16) & 0xFF));
        if (pad < 2)
            bytes.push_back(static_cast<char>((group >> 8) & 0xFF));
        if (pad < 1)
            bytes.push_back(static_cast<char>(group & 0xFF));
    }
    return true;
}

std::wstring HexOf(std::uint64_t value, int digits)
{
    wchar_t text[20];
    std::swprintf(text, std::size(text), L"%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

std::optional<std::uint64_t> ParseHex(const std::wstring& text)
{
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
        if (digit < 0)
            return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

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
bool AsLastWritten(const BackupParts& parts, const wchar_t* folder)
{
    const std::optional<std::wstring> written = parts.Text(WrittenItem);
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

FirstState FirstStateOf(const BackupParts& parts)
{
    FirstState first;
    first.NoIcon = parts.Text(IconItem) == std::optional<std::wstring>(L"none");
    if (const auto attributes = parts.Text(AttributesItem)) {
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
    const std::optional<std::wstring> file = parts.Text(FileItem);
    if (file && *file == L"none") {
        first.Known = true;
    } else if (file && file->compare(0, std::size(BytesPrefix) - 1, BytesPrefix) == 0 && first.FileAttributes &&
               BytesOfBase64(file->substr(std::size(BytesPrefix) - 1), first.File.Bytes)) {
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
    BackupParts parts;
    // The icon the folder shows (the Folder class's where the entries name none), which
    // is all that earlier builds read; empty where none is known.
    const std::optional<IconLocation> shown = ReadFolderIcon(folder);
    wchar_t location[EntryCapacity] = {};
    if (shown && !FormatIconLocation(*shown, false, location, EntryCapacity))
        return ERROR_FILENAME_EXCED_RANGE;
    parts.Location = location;
    // The entries that stand there, where they are not the three naming that icon; an
    // entry too long to keep cannot be put back as it was.
    if (any && !cut && (!shown || !EntriesAreThoseOf(entries, *shown))) {
        for (std::size_t i = 0; i < std::size(EntryNames); ++i)
            if (entries.Items[i].Present)
                parts.Entries.push_back(std::wstring(EntryNames[i]) + L"=" + entries.Items[i].Text);
    }
    ProfileStart start = ReadProfileStart(folder, profile);
    std::wstring words = ProfileStartItem;
    for (std::size_t word = 0; word < std::size(StartWords); ++word) {
        if (StartFlag(start, word))
            words += std::wstring(words.back() == L'=' ? L"" : L",") + StartWords[word];
    }
    parts.After.push_back(words);
    if (!any)
        parts.Set(IconItem, L"none");
    ProfileFile file;
    const bool read = ReadProfileFile(profile, ProfileReadLimit, file);
    const DWORD folderAttributes = GetFileAttributesW(folder);
    parts.Set(AttributesItem, (read && file.Exists ? HexOf(file.Attributes, 1) : std::wstring(L"none")) + L"," +
                                  HexOf(folderAttributes == INVALID_FILE_ATTRIBUTES ? 0 : folderAttributes, 1));
    parts.Set(FileItem, !read ? L"unkept" : !file.Exists ? L"none" : BytesPrefix + Base64Of(file.Bytes));
    DWORD type = REG_SZ;
    if (UnitsOf(parts, type).size() > BackupUnits)
        parts.Set(FileItem, L"unkept");
    return StoreParts(scope, folder, parts);
}

LONG RecordFolderChange(const wchar_t* folder, Scope scope, const IconLocation& set, bool fileKept)
{
    BackupValue value;
    LONG status = ReadBackupValue(scope, folder, value);
    if (status != ERROR_SUCCESS)
        return status;
    BackupParts parts = PartsOf(value);
    wchar_t location[EntryCapacity] = {};
    if (!FormatIconLocation(set, false, location, EntryCapacity))
        return ERROR_FILENAME_EXCED_RANGE;
    const std::optional<std::wstring> file = parts.Text(FileItem);
    if (!fileKept && file && *file != L"none")
        parts.Set(FileItem, L"unkept");
    parts.Set(SetItem, location);
    const std::optional<ProfileFile> now = CurrentProfile(folder);
    parts.Set(WrittenItem, now && now->Exists ? HexOf(HashOf(*now), 16) : std::wstring(L"none"));
    status = StoreParts(scope, folder, parts);
    // A record that does not fit leaves the backup as it was, which still restores.
    return status == ERROR_FILENAME_EXCED_RANGE ? ERROR_SUCCESS : status;
}

bool ShowsOwnChange(const wchar_t* folder, Scope scope)
{
    BackupValue value;
    if (ReadBackupValue(scope, folder, value) != ERROR_SUCCESS)
        return false;
    const BackupParts parts = PartsOf(value);
    const std::optional<std::wstring> set = parts.Text(SetItem);
    // A backup of an earlier build says nothing of what its change wrote: it is kept.
    if (!set || AsLastWritten(parts, folder))
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

bool FolderStillAsWritten(const wchar_t* folder, Scope scope)
{
    BackupValue value;
    return ReadBackupValue(scope, folder, value) == ERROR_SUCCESS && AsLastWritten(PartsOf(value), folder);
}

LONG WriteFolderIconFromBackup(const wchar_t* folder, Scope scope)
{
    BackupValue value;
    const LONG status = ReadBackupValue(scope, folder, value);
    if (status != ERROR_SUCCESS)
        return status;
    const BackupParts parts = PartsOf(value);
    const FirstState first = FirstStateOf(parts);
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile))
        return ERROR_FILENAME_EXCED_RANGE;
    // The file is as the last change left it: it goes back byte for byte.
    if (first.Known && first.FolderAttributes && AsLastWritten(parts, folder))
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
    if (!location || (location->IconPath[0] == L'\0' && parts.Entries.empty()))
        return ERROR_INVALID_DATA;
    ListedEntries listed;
    const bool listsEntries = ListedEntriesOfBackup(value, listed);
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
    BackupValue user, all;
    if (ReadBackupValue(Scope::ThisUser, folder, user) != ERROR_SUCCESS ||
        ReadBackupValue(Scope::AllUsers, folder, all) != ERROR_SUCCESS)
        return false;
    const FirstState userFirst = FirstStateOf(PartsOf(user));
    const std::optional<std::wstring> written = PartsOf(all).Text(WrittenItem);
    if (!userFirst.Known || !written)
        return false;
    if (!userFirst.File.Exists)
        return *written == L"none";
    return ParseHex(*written) == std::optional<std::uint64_t>(HashOf(userFirst.File));
}

LONG MoveFirstFolderState(const wchar_t* folder, Scope from, Scope to)
{
    BackupValue source, target;
    LONG status = ReadBackupValue(from, folder, source);
    if (status == ERROR_SUCCESS)
        status = ReadBackupValue(to, folder, target);
    if (status != ERROR_SUCCESS)
        return status;
    const bool whole = FolderChainIsWhole(folder);
    BackupParts parts = PartsOf(source);
    const BackupParts last = PartsOf(target);
    for (const wchar_t* name : {SetItem, WrittenItem}) {
        parts.Remove(name);
        if (const auto text = last.Text(name))
            parts.Set(name, *text);
    }
    const std::optional<std::wstring> file = parts.Text(FileItem);
    if (!whole && file && *file != L"none")
        parts.Set(FileItem, L"unkept");
    return StoreParts(to, folder, parts);
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

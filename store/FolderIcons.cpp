#include "FolderIcons.h"

#include <cwchar>
#include <iterator>
#include <memory>
#include <new>

#include "FileTypeIcons.h"
#include "IconResources.h"
#include "ProfileEncoding.h"
#include "Registry.h"

namespace orvane {

namespace {

constexpr const wchar_t ShellClassInfo[] = L".ShellClassInfo";
constexpr const wchar_t IconFileEntry[] = L"IconFile";
constexpr const wchar_t IconIndexEntry[] = L"IconIndex";
// Explorer's Customize tab (since Vista) writes the icon as "path,index" here, and
// Explorer takes it over IconFile/IconIndex when both are present.
constexpr const wchar_t IconResourceEntry[] = L"IconResource";

// An entry is read into room for a 259-character path, a comma and any index, with one
// character more to tell a text cut off by the buffer from one that fits.
constexpr DWORD EntryCapacity = TextCapacity + 16;
// The most units a backup value may hold: its location and three entries.
constexpr std::size_t BackupUnits = 2048;
// A Desktop.ini larger than this is not a folder's settings; it is not taken in whole to
// be put back should a write fail.
constexpr DWORD ProfileKeepLimit = 16 * 1024 * 1024;

constexpr const wchar_t* EntryNames[] = {IconResourceEntry, IconFileEntry, IconIndexEntry};

bool IsEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

// The profile functions report a failure through GetLastError; a failure that left no
// code behind must still not read as success.
LONG LastErrorOr(LONG fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? static_cast<LONG>(error) : fallback;
}

// Sets `extra` on a path's attributes; with onlyIfMissing nothing is written when the
// bit is already there.
LONG AddAttribute(const wchar_t* path, DWORD extra, bool onlyIfMissing)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    if (onlyIfMissing && (attributes & extra) != 0)
        return ERROR_SUCCESS;
    if (!SetFileAttributesW(path, attributes | extra))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

// Takes `bit` off a path's attributes; nothing is written when it is not there.
LONG RemoveAttribute(const wchar_t* path, DWORD bit)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    if ((attributes & bit) == 0)
        return ERROR_SUCCESS;
    const DWORD rest = attributes & ~bit;
    if (!SetFileAttributesW(path, rest != 0 ? rest : FILE_ATTRIBUTE_NORMAL))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

// What a change does to an existing Desktop.ini beyond its icon entries, and how the file
// and its folder stood before it, so that restoring puts that back too: a change turns an
// ANSI file into UTF-16 for an icon the code page lacks, hides the file and makes the
// folder a system folder. (A Desktop.ini the change made stays, holding the icon the
// folder had: the Folder class's.)
struct ProfileStart {
    bool Ansi = false;        // it was in the ANSI code page
    bool Shown = false;       // it was not hidden
    bool PlainFolder = false; // the folder was not a system folder
    bool Any() const { return Ansi || Shown || PlainFolder; }
};

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

ProfileStart ReadProfileStart(const wchar_t* folder, const wchar_t* profile)
{
    ProfileStart start;
    const DWORD attributes = GetFileAttributesW(profile);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return start;
    const DWORD folderAttributes = GetFileAttributesW(folder);
    start.PlainFolder = folderAttributes != INVALID_FILE_ATTRIBUTES && (folderAttributes & FILE_ATTRIBUTE_SYSTEM) == 0;
    start.Shown = (attributes & FILE_ATTRIBUTE_HIDDEN) == 0;
    start.Ansi = IsAnsiProfile(profile);
    return start;
}

// One entry of ".ShellClassInfo" as it stands.
struct ProfileEntry {
    bool Present = false;
    bool Cut = false; // longer than EntryCapacity holds: its text is not known
    wchar_t Text[EntryCapacity] = {};
};

// The platform answers a missing entry with the default it is given, so an entry is
// missing only when two different defaults both come back.
ProfileEntry ReadEntry(const wchar_t* profile, const wchar_t* name)
{
    ProfileEntry entry;
    const DWORD length = GetPrivateProfileStringW(ShellClassInfo, name, L"\x01", entry.Text, EntryCapacity, profile);
    if (length == 1 && entry.Text[0] == L'\x01') {
        wchar_t other[4] = {};
        GetPrivateProfileStringW(ShellClassInfo, name, L"\x02", other, static_cast<DWORD>(std::size(other)), profile);
        if (other[0] == L'\x02' && other[1] == L'\0') {
            entry.Text[0] = L'\0';
            return entry;
        }
    }
    entry.Present = true;
    if (length >= EntryCapacity - 1) {
        entry.Cut = true;
        entry.Text[0] = L'\0';
        return entry;
    }
    entry.Text[length] = L'\0';
    return entry;
}

// IconResource, IconFile and IconIndex, in that order (as EntryNames).
struct IconEntries {
    ProfileEntry Items[3];
    const ProfileEntry& Resource() const { return Items[0]; }
    const ProfileEntry& File() const { return Items[1]; }
    const ProfileEntry& Index() const { return Items[2]; }
};

IconEntries ReadIconEntries(const wchar_t* profile)
{
    IconEntries entries;
    for (std::size_t i = 0; i < std::size(EntryNames); ++i)
        entries.Items[i] = ReadEntry(profile, EntryNames[i]);
    return entries;
}

bool Names(const ProfileEntry& entry) { return entry.Present && !entry.Cut && entry.Text[0] != L'\0'; }

// "path,index" of an IconResource that names both, as Explorer takes it; -99 is left to
// IconIndex, which holds it too where earlier builds wrote it.
std::optional<IconLocation> ResourceWithIndex(const ProfileEntry& resource)
{
    if (!Names(resource))
        return std::nullopt;
    auto location = ParseIconResource(resource.Text);
    if (location && location->Index == NoIndex)
        return std::nullopt;
    return location;
}

// The icon the entries name, read as Windows reads them. None: the Folder class's icon.
std::optional<IconLocation> LocationOfEntries(const IconEntries& entries, bool* unreadable)
{
    *unreadable = false;
    if (auto resource = ResourceWithIndex(entries.Resource()))
        return resource;
    IconLocation location;
    const ProfileEntry& index = entries.Index();
    const ProfileEntry& file = entries.File();
    if (index.Present && !index.Cut && index.Text[0] != L'\0') {
        const std::optional<std::int32_t> value = ParseIndexText(index.Text);
        if (!value || *value == NoIndex)
            return std::nullopt;
        // A path cut short would name another file.
        if (file.Cut || !location.SetIconPath(file.Text)) {
            *unreadable = true;
            return std::nullopt;
        }
        location.SetIndex(*value);
        return location;
    }
    // IconFile without IconIndex (or with an empty one): Windows shows its icon 0.
    if (file.Cut) {
        *unreadable = true;
        return std::nullopt;
    }
    if (Names(file) && location.SetIconPath(file.Text)) {
        location.SetIndex(NoIndex);
        return location;
    }
    // An IconResource that is a path alone: Windows shows its icon 0.
    const ProfileEntry& resource = entries.Resource();
    if (Names(resource) && std::wcschr(resource.Text, L',') == nullptr && location.SetIconPath(resource.Text)) {
        location.SetIndex(NoIndex);
        return location;
    }
    return std::nullopt;
}

// The index as IconIndex holds it.
void FormatIndexEntry(std::int32_t index, wchar_t (&out)[16])
{
    std::swprintf(out, std::size(out), L"%d", static_cast<int>(index));
}

// Whether the entries are the three that WriteFolderIcon writes for the location, or
// none at all (the Folder class's icon, which restoring writes into all three).
bool EntriesAreThoseOf(const IconEntries& entries, const IconLocation& location)
{
    bool none = true;
    for (const ProfileEntry& entry : entries.Items)
        none = none && !entry.Present;
    if (none)
        return true;
    wchar_t index[16];
    FormatIndexEntry(location.Index, index);
    wchar_t resource[EntryCapacity];
    std::swprintf(resource, std::size(resource), L"%ls,%ls", location.IconPath, index);
    return Names(entries.Resource()) && std::wcscmp(entries.Resource().Text, resource) == 0 &&
           Names(entries.File()) && std::wcscmp(entries.File().Text, location.IconPath) == 0 &&
           Names(entries.Index()) && std::wcscmp(entries.Index().Text, index) == 0;
}

// The path the platform reaches through a name, every link on the way followed ("\\?\C:\...").
// False when it cannot be asked.
bool FinalPathOf(const wchar_t* path, wchar_t* out, DWORD outSize)
{
    // No access asked: a program that holds the file open sharing nothing does not stop it.
    const HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD length = GetFinalPathNameByHandleW(handle, out, outSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    return length > 0 && length < outSize;
}

// A Desktop.ini that is a link leads to a file that is not the folder's own, and one that
// is a folder cannot hold entries; neither is written. Windows marks a link as a reparse
// point; Wine shows a Unix symbolic link as a plain file, whose final path (on both) is
// the file it leads to, elsewhere.
LONG CheckProfile(const wchar_t* folder, const wchar_t* profile)
{
    const DWORD attributes = GetFileAttributesW(profile);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS; // missing, or its folder is: the write finds out
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return ProfileIsLinkStatus;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ProfileIsFolderStatus;
    wchar_t finalFolder[TextCapacity + 16];
    wchar_t finalProfile[TextCapacity + 32];
    if (!FinalPathOf(folder, finalFolder, static_cast<DWORD>(std::size(finalFolder))) ||
        !FinalPathOf(profile, finalProfile, static_cast<DWORD>(std::size(finalProfile))))
        return ERROR_SUCCESS;
    const std::size_t folderLength = std::wcslen(finalFolder);
    const bool endsInSeparator = folderLength > 0 && finalFolder[folderLength - 1] == L'\\';
    wchar_t own[TextCapacity + 32];
    if (std::swprintf(own, std::size(own), L"%ls%lsDesktop.ini", finalFolder, endsInSeparator ? L"" : L"\\") < 0)
        return ERROR_SUCCESS;
    if (CompareStringOrdinal(own, -1, finalProfile, -1, TRUE) != CSTR_EQUAL)
        return ProfileIsLinkStatus;
    return ERROR_SUCCESS;
}

// The profile file and the folder as they were before a write, to be put back when the
// write fails halfway: the profile functions write entry by entry, and the file may have
// been created or turned into UTF-16 before an entry was refused.
class ProfileState {
public:
    // Reads the file whole. Fails, before anything is written, when it cannot be read (held
    // open by a program that shares it with nobody) or is too large to keep.
    LONG Take(const wchar_t* profile, const wchar_t* folder)
    {
        profile_ = profile;
        folder_ = folder;
        folderAttributes_ = GetFileAttributesW(folder);
        attributes_ = GetFileAttributesW(profile);
        if (attributes_ == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            existed_ = false;
            return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<LONG>(error);
        }
        existed_ = true;
        FileHandle file(CreateFileW(profile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr));
        if (!file.Valid())
            return LastErrorOr(ERROR_ACCESS_DENIED);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.Value, &size))
            return LastErrorOr(ERROR_READ_FAULT);
        if (size.QuadPart > ProfileKeepLimit)
            return ERROR_FILE_TOO_LARGE;
        size_ = static_cast<DWORD>(size.QuadPart);
        bytes_.reset(new (std::nothrow) char[size_ + 1]);
        if (!bytes_)
            return ERROR_NOT_ENOUGH_MEMORY;
        DWORD read = 0;
        if (size_ != 0 && (!ReadFile(file.Value, bytes_.get(), size_, &read, nullptr) || read != size_))
            return LastErrorOr(ERROR_READ_FAULT);
        return ERROR_SUCCESS;
    }

    // Puts the file, its attributes and the folder's attributes back as they were.
    void PutBack() const
    {
        if (!existed_) {
            SetFileAttributesW(profile_, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(profile_);
        } else {
            SetFileAttributesW(profile_, FILE_ATTRIBUTE_NORMAL);
            FileHandle file(CreateFileW(profile_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            DWORD written = 0;
            if (file.Valid() && (size_ == 0 || (WriteFile(file.Value, bytes_.get(), size_, &written, nullptr) &&
                                                written == size_)))
                SetEndOfFile(file.Value);
            SetFileAttributesW(profile_, attributes_);
        }
        if (folderAttributes_ != INVALID_FILE_ATTRIBUTES && GetFileAttributesW(folder_) != folderAttributes_)
            SetFileAttributesW(folder_, folderAttributes_);
    }

private:
    const wchar_t* profile_ = nullptr;
    const wchar_t* folder_ = nullptr;
    bool existed_ = false;
    DWORD attributes_ = INVALID_FILE_ATTRIBUTES;
    DWORD folderAttributes_ = INVALID_FILE_ATTRIBUTES;
    DWORD size_ = 0;
    std::unique_ptr<char[]> bytes_;
};

// Writes one entry, or takes it out when text is null.
LONG WriteEntry(const wchar_t* profile, const wchar_t* name, const wchar_t* text)
{
    SetLastError(ERROR_SUCCESS);
    if (!WritePrivateProfileStringW(ShellClassInfo, name, text, profile))
        return LastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

// The entries a backup lists: for each of EntryNames its text, or null when the entry
// was not there.
struct ListedEntries {
    const wchar_t* Texts[3] = {};
};

// After a restore's entries are written: the file and its folder as they stood before the
// change. A file that was made UTF-16 becomes ANSI again when it can.
LONG PutStartBack(const wchar_t* folder, const wchar_t* profile, const ProfileStart& start)
{
    LONG status = start.Ansi ? ReturnProfileToAnsi(profile) : ERROR_SUCCESS;
    if (status == ERROR_SUCCESS)
        status = start.Shown ? RemoveAttribute(profile, FILE_ATTRIBUTE_HIDDEN)
                             : AddAttribute(profile, FILE_ATTRIBUTE_HIDDEN, true);
    if (status == ERROR_SUCCESS)
        status = start.PlainFolder ? RemoveAttribute(folder, FILE_ATTRIBUTE_SYSTEM)
                                   : AddAttribute(folder, FILE_ATTRIBUTE_SYSTEM, false);
    return status;
}

// Writes the entries (null: taken out where it stands), then makes the file hidden and
// the folder a system folder, or, for a restore that knows how they stood before the
// change (`start`), puts that back. On any failure the file and both attributes go back.
LONG WriteEntries(const wchar_t* folder, const wchar_t* profile, const ListedEntries& listed,
                  const ProfileStart* start = nullptr)
{
    const LONG usable = CheckProfile(folder, profile);
    if (usable != ERROR_SUCCESS)
        return usable;
    ProfileState state;
    LONG status = state.Take(profile, folder);
    if (status != ERROR_SUCCESS)
        return status;
    const IconEntries present = ReadIconEntries(profile);

    // A new Desktop.ini is made UTF-16, and an ANSI one becomes UTF-16 when a text has a
    // character its code page lacks.
    status = PrepareProfileFor(profile, {listed.Texts[0], listed.Texts[1], listed.Texts[2]});
    // Written in the order IconFile, IconIndex, IconResource: a file that had none gets
    // them in the order Windows before Vista and Wine expect to find them first.
    for (const std::size_t i : {std::size_t(1), std::size_t(2), std::size_t(0)}) {
        if (status != ERROR_SUCCESS)
            break;
        if (listed.Texts[i] != nullptr)
            status = WriteEntry(profile, EntryNames[i], listed.Texts[i]);
        else if (present.Items[i].Present)
            status = WriteEntry(profile, EntryNames[i], nullptr);
    }
    // The shell reads Desktop.ini only in a folder marked as system; the file itself is
    // hidden so that it does not show among the folder's contents.
    if (status == ERROR_SUCCESS && start != nullptr)
        status = PutStartBack(folder, profile, *start);
    if (status == ERROR_SUCCESS && start == nullptr)
        status = AddAttribute(profile, FILE_ATTRIBUTE_HIDDEN, true);
    if (status == ERROR_SUCCESS && start == nullptr)
        status = AddAttribute(folder, FILE_ATTRIBUTE_SYSTEM, false);
    if (status != ERROR_SUCCESS)
        state.PutBack();
    return status;
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

LONG SetBackupValue(Scope scope, const wchar_t* folder, DWORD type, const void* data, DWORD size)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    const LONG status = key.Create(ProductKeyRoot(scope), FolderBackupKey);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExW(key.get(), folder, 0, type, static_cast<const BYTE*>(data), size);
}

// The location a backup value starts with: the text up to its first terminator.
std::optional<IconLocation> LocationOfBackup(const BackupValue& value, const wchar_t* folder)
{
    auto location = ParseIconLocation(value.Data, true);
    if (location && !location->SetOwner(folder))
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

// The three entries that name the location, in the buffers given.
void EntriesOfLocation(const IconLocation& location, wchar_t (&index)[16], wchar_t (&resource)[EntryCapacity],
                       ListedEntries& entries)
{
    // Both fit by construction: an index has at most 11 characters, the path at most 259.
    FormatIndexEntry(location.Index, index);
    std::swprintf(resource, std::size(resource), L"%ls,%ls", location.IconPath, index);
    // IconResource for Windows since Vista, which would otherwise keep showing an older
    // one; Windows before it and Wine read only IconFile and IconIndex.
    entries.Texts[0] = resource;
    entries.Texts[1] = location.IconPath;
    entries.Texts[2] = index;
}

} // namespace

bool FormatProfilePath(const wchar_t* folder, wchar_t (&out)[TextCapacity])
{
    out[0] = L'\0';
    if (IsEmpty(folder))
        return false;
    const std::size_t length = wcsnlen(folder, TextCapacity);
    const wchar_t* separator = folder[length - 1] == L'\\' ? L"" : L"\\";
    return FormatKeyPath(out, std::size(out), L"%ls%lsDesktop.ini", folder, separator);
}

std::optional<IconLocation> ReadFolderIcon(const wchar_t* folder)
{
    // A folder whose profile path does not fit cannot be read without reading another
    // file: no icon is known for it.
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile))
        return std::nullopt;

    bool unreadable = false;
    std::optional<IconLocation> location = LocationOfEntries(ReadIconEntries(profile), &unreadable);
    if (unreadable)
        return std::nullopt;
    if (!location)
        location = LookupClassIcon(HKEY_CLASSES_ROOT, L"Folder", nullptr);
    if (location && !location->SetOwner(folder))
        return std::nullopt;
    return location;
}

LONG CheckFolderProfile(const wchar_t* folder)
{
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile))
        return IsEmpty(folder) ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE;
    return CheckProfile(folder, profile);
}

LONG WriteFolderIcon(const IconLocation& location)
{
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(location.Owner, profile))
        return IsEmpty(location.Owner) ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE;
    if (wcsnlen(location.IconPath, TextCapacity) >= TextCapacity)
        return ERROR_FILENAME_EXCED_RANGE;

    wchar_t index[16];
    wchar_t resource[EntryCapacity];
    ListedEntries entries;
    EntriesOfLocation(location, index, resource, entries);
    return WriteEntries(location.Owner, profile, entries);
}

std::optional<IconLocation> ReadFolderBackupOf(Scope scope, const wchar_t* folder)
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
        if (auto location = ReadFolderBackupOf(scope, folder)) {
            if (found != nullptr)
                *found = scope;
            return location;
        }
    }
    return std::nullopt;
}

LONG WriteFolderBackup(const IconLocation& location, const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    const LONG status = key.Create(ProductKeyRoot(scope), FolderBackupKey);
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
    if (!FormatProfilePath(folder, profile) || wcsnlen(location->IconPath, TextCapacity) >= TextCapacity)
        return ERROR_FILENAME_EXCED_RANGE;
    wchar_t index[16];
    wchar_t resource[EntryCapacity];
    if (!listsEntries)
        EntriesOfLocation(*location, index, resource, listed);
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
    // "Software\" is left out: everything below it up to FolderBAKIcons is the product's.
    return RemoveEmptyKeys(HKEY_CURRENT_USER, L"Software", FolderBackupKey + std::size(L"Software"));
}

bool MayWriteFolderBackup(Scope scope) { return MayWrite(ProductKeyRoot(scope), FolderBackupKey, KEY_SET_VALUE); }

bool MayUseFolderBackups(Scope scope) { return MayWrite(ProductKeyRoot(scope), ProductKey, KEY_CREATE_SUB_KEY); }

namespace {

// The keys from the product's vendor key down to FolderBAKIcons, below "Software".
constexpr const wchar_t* BackupKeyChain[] = {L"Software\\Brindlewick Software", ProductKey, FolderBackupKey};

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

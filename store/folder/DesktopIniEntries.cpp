#include "DesktopIni.h"

#include <cwchar>
#include <iterator>
#include <new>

#include "DesktopIniEncoding.h"
#include "DesktopIniText.h"
#include "IconLocation.h"
#include "WholeFile.h"

namespace orvane::desktop_ini {

namespace {

// A Desktop.ini larger than this is not taken apart here (the profile functions read it).
constexpr DWORD DesktopIniTextLimit = 1024 * 1024;

// The platform answers a missing entry with the default it is given, so an entry is
// missing only when two different defaults both come back.
DesktopIniEntry ReadEntry(const wchar_t* desktopIni, const wchar_t* name)
{
    DesktopIniEntry entry;
    const DWORD length = GetPrivateProfileStringW(ShellClassInfo, name, L"\x01", entry.Text, EntryCapacity, desktopIni);
    if (length == 1 && entry.Text[0] == L'\x01') {
        wchar_t other[4] = {};
        GetPrivateProfileStringW(ShellClassInfo, name, L"\x02", other, static_cast<DWORD>(std::size(other)), desktopIni);
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

bool Names(const DesktopIniEntry& entry) { return entry.Present && !entry.Cut && entry.Text[0] != L'\0'; }

// "path,index" of an IconResource that names both, as Explorer takes it; -99 is left to
// IconIndex, which holds it too where earlier builds wrote it.
std::optional<IconLocation> ResourceWithIndex(const DesktopIniEntry& resource)
{
    if (!Names(resource))
        return std::nullopt;
    auto location = ParseIconResource(resource.Text);
    if (location && location->Index == NoIndex)
        return std::nullopt;
    return location;
}

} // namespace

IconEntries ReadIconEntries(const wchar_t* desktopIni)
{
    // Read once and taken apart here where its form is certain; the profile functions
    // read it once per entry (and answer a missing file with their defaults).
    // Out of memory, the profile functions read it as they always did.
    try {
        DesktopIniFile file;
        DesktopIniText text;
        if (ReadDesktopIniFile(desktopIni, DesktopIniTextLimit, file) &&
            (!file.Exists || ParseDesktopIniBytes(file.Bytes, text)))
            return EntriesOfText(text);
    } catch (const std::bad_alloc&) {
    }
    IconEntries entries;
    for (std::size_t i = 0; i < std::size(EntryNames); ++i)
        entries.Items[i] = ReadEntry(desktopIni, EntryNames[i]);
    return entries;
}

FolderNow ReadFolderNow(const wchar_t* folder, const wchar_t* desktopIni, DWORD limit)
{
    FolderNow now;
    now.FolderAttributes = GetFileAttributesW(folder);
    now.FileAttributes = GetFileAttributesW(desktopIni);
    if (now.FileAttributes == INVALID_FILE_ATTRIBUTES) {
        now.Read = GetLastError() == ERROR_FILE_NOT_FOUND;
    } else if ((now.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        FileHandle file(CreateFileW(desktopIni, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        WholeFileBytes bytes;
        if (file.Valid() && ReadWholeFile(file.Value, limit, bytes) == ERROR_SUCCESS) {
            now.Read = true;
            now.File.Exists = true;
            now.File.Attributes = now.FileAttributes;
            now.File.Bytes.assign(bytes.Data.get(), bytes.Size);
        }
    }
    try {
        DesktopIniText text;
        if (now.Read && now.File.Bytes.size() <= DesktopIniTextLimit && ParseDesktopIniBytes(now.File.Bytes, text)) {
            now.Entries = EntriesOfText(text);
            return now;
        }
    } catch (const std::bad_alloc&) {
    }
    now.Entries = ReadIconEntries(desktopIni);
    return now;
}

DesktopIniStart StartOf(const FolderNow& now)
{
    DesktopIniStart start;
    if (now.FileAttributes == INVALID_FILE_ATTRIBUTES || (now.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return start;
    start.PlainFolder = now.FolderAttributes != INVALID_FILE_ATTRIBUTES && (now.FolderAttributes & FILE_ATTRIBUTE_SYSTEM) == 0;
    start.Shown = (now.FileAttributes & FILE_ATTRIBUTE_HIDDEN) == 0;
    // A file that could not be read is not known to be ANSI.
    const auto* head = reinterpret_cast<const unsigned char*>(now.File.Bytes.data());
    const std::size_t size = now.File.Bytes.size();
    const bool marked = (size >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) ||
                        (size >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF);
    start.Ansi = now.File.Exists && !marked;
    return start;
}

// The icon the entries name, read as Windows reads them. None: the Folder class's icon.
std::optional<IconLocation> LocationOfEntries(const IconEntries& entries, bool* unreadable)
{
    *unreadable = false;
    if (auto resource = ResourceWithIndex(entries.Resource()))
        return resource;
    IconLocation location;
    const DesktopIniEntry& index = entries.Index();
    const DesktopIniEntry& file = entries.File();
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
    const DesktopIniEntry& resource = entries.Resource();
    if (Names(resource) && std::wcschr(resource.Text, L',') == nullptr && location.SetIconPath(resource.Text)) {
        location.SetIndex(NoIndex);
        return location;
    }
    return std::nullopt;
}

bool EntriesOfLocation(const IconLocation& location, LocationTexts& texts, ListedEntries& entries)
{
    // The long form writes every index, -99 for none, where the short form leaves a
    // location without one as its path alone; with no type key it ends in the comma
    // before that, and what stays without it is "path,index".
    IconLocation written = location;
    written.SetTypeKey(nullptr);
    if (!FormatIconLocation(written, true, texts.Resource, std::size(texts.Resource)))
        return false;
    texts.Resource[std::wcslen(texts.Resource) - 1] = L'\0';
    texts.Index = texts.Resource + std::wcslen(written.IconPath) + 1;
    // IconResource for Windows since Vista, which would otherwise keep showing an older
    // one; Windows before it and Wine read only IconFile and IconIndex.
    entries.Texts[0] = texts.Resource;
    entries.Texts[1] = location.IconPath;
    entries.Texts[2] = texts.Index;
    return true;
}

bool EntriesAreThoseOf(const IconEntries& entries, const IconLocation& location)
{
    bool none = true;
    for (const DesktopIniEntry& entry : entries.Items)
        none = none && !entry.Present;
    if (none)
        return true;
    LocationTexts texts;
    ListedEntries written;
    if (!EntriesOfLocation(location, texts, written))
        return false;
    for (std::size_t i = 0; i < std::size(entries.Items); ++i) {
        if (!Names(entries.Items[i]) || std::wcscmp(entries.Items[i].Text, written.Texts[i]) != 0)
            return false;
    }
    return true;
}

} // namespace orvane::desktop_ini

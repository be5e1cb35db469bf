// The icon entries of a folder's Desktop.ini, for the folder icon store's own units: how
// they are read, what icon they name, and how they are written with the file and the
// folder kept whole should a write fail. Callers use FolderIcons.h.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include "IconLocation.h"

namespace orvane::desktop_ini {

constexpr const wchar_t ShellClassInfo[] = L".ShellClassInfo";
constexpr const wchar_t IconFileEntry[] = L"IconFile";
constexpr const wchar_t IconIndexEntry[] = L"IconIndex";
// Explorer's Customize tab (since Vista) writes the icon as "path,index" here, and
// Explorer takes it over IconFile/IconIndex when both are present.
constexpr const wchar_t IconResourceEntry[] = L"IconResource";

constexpr const wchar_t* EntryNames[] = {IconResourceEntry, IconFileEntry, IconIndexEntry};

// An entry is read into room for a 259-character path, a comma and any index, with one
// character more to tell a text cut off by the buffer from one that fits.
constexpr DWORD EntryCapacity = TextCapacity + 16;

inline bool IsEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

// One entry of ".ShellClassInfo" as it stands.
struct DesktopIniEntry {
    bool Present = false;
    bool Cut = false; // longer than EntryCapacity holds: its text is not known
    wchar_t Text[EntryCapacity] = {};
};

// IconResource, IconFile and IconIndex, in that order (as EntryNames).
struct IconEntries {
    DesktopIniEntry Items[3];
    const DesktopIniEntry& Resource() const { return Items[0]; }
    const DesktopIniEntry& File() const { return Items[1]; }
    const DesktopIniEntry& Index() const { return Items[2]; }
};

// The entries to write: for each of EntryNames its text, or null to take it out where it
// stands.
struct ListedEntries {
    const wchar_t* Texts[3] = {};
};

// The three entries' texts that name one location: "path,index" for IconResource, the
// index behind its comma for IconIndex.
struct LocationTexts {
    wchar_t Resource[EntryCapacity] = {};
    const wchar_t* Index = Resource;
    LocationTexts() = default;
    LocationTexts(const LocationTexts&) = delete; // Index points into its own Resource
    LocationTexts& operator=(const LocationTexts&) = delete;
};

// What a change does to an existing Desktop.ini beyond its icon entries, and how the file
// and its folder stood before it, so that restoring puts that back too: a change turns an
// ANSI file into UTF-16 for an icon the code page lacks, hides the file and makes the
// folder a system folder. (A Desktop.ini the change made stays, holding the icon the
// folder had: the Folder class's.)
struct DesktopIniStart {
    bool Ansi = false;        // it was in the ANSI code page
    bool Shown = false;       // it was not hidden
    bool PlainFolder = false; // the folder was not a system folder
    bool Any() const { return Ansi || Shown || PlainFolder; }
};

IconEntries ReadIconEntries(const wchar_t* desktopIni);

// A Desktop.ini whole, as it stands: whether there is one, its bytes and its attributes.
struct DesktopIniFile {
    bool Exists = false;
    std::string Bytes;
    DWORD Attributes = 0;
};

// A folder and its Desktop.ini as they stand before a backup is taken, read once.
struct FolderNow {
    bool Read = false; // the file was read whole, or is missing
    DesktopIniFile File;
    DWORD FileAttributes = INVALID_FILE_ATTRIBUTES; // as asked, even where it could not be read
    DWORD FolderAttributes = INVALID_FILE_ATTRIBUTES;
    IconEntries Entries;
};
// Reads the file (at most `limit` bytes) and both attributes; the entries are taken from
// the bytes where their form is certain, else read by the profile functions.
FolderNow ReadFolderNow(const wchar_t* folder, const wchar_t* desktopIni, DWORD limit);
// How the file and its folder stood; nothing differs for a file that is missing.
DesktopIniStart StartOf(const FolderNow& now);
// The icon the entries show in the folder: theirs, else the Folder class's; none where an
// entry too long to read names a file not known.
std::optional<IconLocation> ShownByEntries(const wchar_t* folder, const IconEntries& entries);

// The icon the entries name, read as Windows reads them. None: the Folder class's icon;
// none with `unreadable` set: an entry too long to read names a file not known.
std::optional<IconLocation> LocationOfEntries(const IconEntries& entries, bool* unreadable);
// Whether the entries are the three that writing the location writes, or none at all (the
// Folder class's icon, which restoring writes into all three).
bool EntriesAreThoseOf(const IconEntries& entries, const IconLocation& location);
// The three entries naming the location, the index written even where it has none (-99),
// as earlier builds wrote it. False when the path does not fit.
bool EntriesOfLocation(const IconLocation& location, LocationTexts& texts, ListedEntries& entries);

// Whether the Desktop.ini may be written: ERROR_SUCCESS when it is a file of the folder's
// own or is missing; DesktopIniIsLinkStatus or DesktopIniIsFolderStatus when it is not.
LONG CheckDesktopIni(const wchar_t* folder, const wchar_t* desktopIni);
// Writes the entries (null: taken out where it stands), then makes the file hidden and
// the folder a system folder, or, for a restore that knows how they stood before the
// change (`start`), puts that back. On any failure the file and both attributes go back,
// and *byFolder (may be null) says whether the folder refused (a Desktop.ini could not
// be made in it, or its attribute set) rather than its Desktop.ini. `checked`: the
// caller has just had CheckDesktopIni accept the file.
LONG WriteEntries(const wchar_t* folder, const wchar_t* desktopIni, const ListedEntries& listed,
                  const DesktopIniStart* start = nullptr, bool* byFolder = nullptr, bool checked = false);

// Reads the Desktop.ini whole. False when it cannot be read (a folder, a file held open
// sharing nothing) or holds more than `limit` bytes; a missing file is no failure.
bool ReadDesktopIniFile(const wchar_t* desktopIni, DWORD limit, DesktopIniFile& out);
// Puts the Desktop.ini back as `before` holds it, byte for byte with its attributes, or
// deletes it where there was none, and gives the folder the system attribute only where
// `folderAttributes` has it. A link or a folder in its place is refused; on any failure
// the file and both attributes are left as they were.
LONG PutDesktopIniBack(const wchar_t* folder, const wchar_t* desktopIni, const DesktopIniFile& before, DWORD folderAttributes);
// Whether the Desktop.ini holds no entry in any section (a file that only ever held the
// icon entries, once they are taken out). False when it is missing or cannot be read.
bool HoldsNoEntries(const wchar_t* desktopIni);

} // namespace orvane::desktop_ini

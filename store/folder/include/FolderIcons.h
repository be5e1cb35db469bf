// Folder icons: "IconFile" and "IconIndex" in the ".ShellClassInfo" section of the
// folder's "Desktop.ini" (hidden), with the system attribute on the folder, and the same
// location as "IconResource" ("path,index"), which Explorer since Vista reads first;
// the icon the folder showed before is kept as a backup in the registry, for all users or
// for this user (FolderBackups.h). The Desktop.ini is the folder's own in both scopes.
#pragma once

#include <windows.h>

#include <optional>

#include "FolderBackups.h"
#include "IconLocation.h"

namespace orvane {

// The longest icon path IconFile holds: Windows' path limit, the terminating zero aside.
constexpr std::size_t FolderIconPathLimit = TextCapacity - 1;

// A write refused because the folder's Desktop.ini is a link (a reparse point: a symbolic
// link, a junction) to something else: the file it leads to is not the folder's own.
// (ERROR_REPARSE_POINT_ENCOUNTERED.)
constexpr LONG DesktopIniIsLinkStatus = 4395;
// A write refused because "Desktop.ini" in the folder is itself a folder.
// (ERROR_DIRECTORY_NOT_SUPPORTED.)
constexpr LONG DesktopIniIsFolderStatus = 336;

// Forms "<folder>\Desktop.ini" (no second backslash when the folder ends with one).
// False when it would not fit into 260 characters.
bool FormatDesktopIniPath(const wchar_t* folder, wchar_t (&out)[TextCapacity]);

// Read as Windows reads them: "IconResource" when it names a path and a whole index, else
// "IconIndex" with "IconFile", else "IconFile" without an index (or with an empty one),
// else an "IconResource" without an index; the Folder class's icon when none names one.
// A location read without an index has the index NoIndex (Windows shows icon 0).
std::optional<IconLocation> ReadFolderIcon(const wchar_t* folder);
// Whether the folder's Desktop.ini may be written: ERROR_SUCCESS when it is a file of the
// folder's own or is missing; DesktopIniIsLinkStatus or DesktopIniIsFolderStatus when it is
// not; ERROR_FILENAME_EXCED_RANGE when its path does not fit.
LONG CheckFolderDesktopIni(const wchar_t* folder);
// Writes the location into the profile file of the folder named by its TargetName, as all
// three entries; the file's other entries and sections stay. A location without an index
// is written as IconIndex=-99. Whatever fails, the file, its attributes and the folder's
// attributes are left as they were.
// ERROR_FILENAME_EXCED_RANGE, nothing written, when the profile path does not fit.
// *byFolder (may be null) says whether a failure was the folder's rather than its
// Desktop.ini's (see desktop_ini::WriteEntries). `checked`: the caller has just had
// CheckFolderDesktopIni accept the folder, which is not asked again.
LONG WriteFolderIcon(const IconLocation& location, bool* byFolder = nullptr, bool checked = false);

// A folder icon's path as written (relative to the folder, or full) resolved for use:
// a relative path is taken against the folder. Environment references are left for
// ExpandIconPath. False when the result would not fit.
bool ResolveFolderIconPath(const wchar_t* folder, const wchar_t* iconPath, wchar_t (&out)[TextCapacity]);

} // namespace orvane

// Files that hold icons (an .ico file with one icon, an icon library or any module with
// icon resources), and icon sources as Windows writes them: "IconResource=path,index" in Desktop.ini, paths
// with environment references ("%SystemRoot%\system32\imageres.dll"), and negative
// indexes that name an icon group by its resource id (-112: the group whose id is 112).
// The platform's icon extraction expands no references itself, so every use of the file
// goes through ExpandIconPath; the text is stored and shown as written.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "IconLocation.h"

namespace orvane {

// Expands the current user's environment references in path into out. False (out empty)
// for a null path, or when the expansion does not fit into 259 characters: a cut path
// would name another file.
bool ExpandIconPath(const wchar_t* path, wchar_t (&out)[TextCapacity]);

// Maps the file for its resources only: nothing of it runs, and a library built for the
// other architecture can be read as well. Null when it is no module; FreeLibrary frees it.
HMODULE LoadResourcesOf(const wchar_t* file);

// The position (0-based) of the icon group with resource id `id` among the source's icon
// groups, counted as the platform's extraction counts them: in the order of the resource
// directory, named groups first. -1 when no group has that id, or when the source holds
// no resources of its own (an .ico file, a file that does not exist). The path is
// expanded first.
int FindIconOfResourceId(const wchar_t* path, unsigned id);

// The icon list's position of a location's icon: a non-negative index is the position
// itself, a negative one -N the position of the group with resource id N; -1 for
// NoIndex ("no index given") and for an id the source does not hold.
int IconListPosition(const wchar_t* path, std::int32_t index);

// More icons than any real library holds: a count beyond it comes from a damaged file.
constexpr unsigned MaxSourceIcons = 65535;

enum class IconFileState {
    NotIconFile, // a module, or anything else the platform does not read as an icon file
    IconFile,    // an icon file whose directory fits the file: one icon, no resource ids
    Damaged,     // an icon file (by its content or its .ico name) whose directory does not fit
};

// Whether the platform would read the file as an icon file, and whether its directory
// fits the file (see IconFileCheck.h). Nothing else of the platform reads a damaged one.
// A file that cannot be opened is NotIconFile: the platform cannot read it either.
IconFileState CheckIconFile(const wchar_t* file);

// Whether the file can be opened for reading as the icon extraction opens it:
// ERROR_SUCCESS, or the system's reason (a file another program holds open sharing it
// with nobody gives ERROR_SHARING_VIOLATION). Such a file reads as holding no icons.
LONG SourceReadStatus(const wchar_t* file);

// The number of icons the file holds, as the shell counts them; 0 for no path, for a file
// the shell cannot read (ExtractIconEx answers 0xFFFFFFFF rather than 0 for a missing
// file or the text "%1"), for a damaged icon file (never handed to the platform) and for
// a count beyond MaxSourceIcons.
unsigned CountIcons(const wchar_t* source);

} // namespace orvane

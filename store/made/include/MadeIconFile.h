// Icon files this product makes (from a picture, a colour, or a copy of an icon taken out
// of a library): named ".orvane-<16 hex digits>.ico" after a 64-bit FNV-1a hash of their
// bytes. Explorer caches icons by path and index, so different content must have a
// different name; and a file of that form whose bytes hash to its name is one this
// product made, which is what lets a made file be deleted once nothing names it without
// ever touching a user's own file. Free of the imaging component.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Fnv1a.h"
#include "PathText.h"

namespace orvane {

// ".orvane-" + 16 lower-case hex digits + ".ico", for a made icon of that hash.
std::wstring MadeIconName(std::uint64_t hash);
// Whether `name` (a file name, no folder) has that form.
bool IsMadeIconName(const wchar_t* name);

// The FNV-1a hash of a file's bytes; none when it cannot be read or is larger than a
// made icon can be.
std::optional<std::uint64_t> HashOfIconFile(const std::wstring& path);
// Whether the folder's file `name` is a made icon: its name has the form and its bytes
// hash to it.
bool IsMadeIconFile(const wchar_t* folder, const wchar_t* name);

// The name by which a folder names a made icon of its own (relative to the folder, as
// Desktop.ini keeps it) when `path` gives it in full: "C:\A\.orvane-<hash>.ico" gives
// ".orvane-<hash>.ico" for the folder C:\A. None when the path is not a made icon lying
// directly in the folder (ResolveFolderIconPath goes the other way).
std::optional<std::wstring> MadeIconNameInFolder(const wchar_t* folder, const wchar_t* path);

// Whether a made icon's full path in `directory` fits into 259 characters.
bool MadeIconFits(const wchar_t* directory);

// Writes the bytes as a made icon in `directory` (hidden and system, through a temporary
// file) and gives its file name in *name. An identical made file already there is kept.
// False when it cannot be written, with the system's reason as the thread's last error
// (ERROR_FILENAME_EXCED_RANGE, nothing tried, when the made icon's path would not fit);
// nothing is then left behind.
bool WriteMadeIcon(const wchar_t* directory, const std::vector<std::uint8_t>& bytes, std::wstring* name);

} // namespace orvane

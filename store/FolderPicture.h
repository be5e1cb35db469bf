// Icons made from pictures for folders. The made icon file lives inside the folder it
// belongs to, hidden and system, named ".orvane-<16 hex digits>.ico" after a 64-bit
// FNV-1a hash of its bytes, and Desktop.ini names it by that file name alone (a path
// relative to the folder): the icon goes wherever the folder goes. Explorer caches icons
// by path and index, so a different picture must give a different name; a name of this
// form whose bytes hash to it is one this product made, which is what lets a made file
// be deleted once nothing names it without ever touching a user's own file. Making one
// (FolderPictureMaker.h) is apart, so that what only reads and deletes them does not
// bring in the imaging component.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "IconLocation.h"

namespace orvane {

std::uint64_t Fnv1a64(const std::uint8_t* bytes, std::size_t size);

// ".orvane-" + 16 lower-case hex digits + ".ico", for a made icon of that hash.
std::wstring MadeIconName(std::uint64_t hash);
// Whether `name` (a file name, no folder) has that form.
bool IsMadeIconName(const wchar_t* name);

// The path of `name` in the folder.
std::wstring InFolder(const wchar_t* folder, const std::wstring& name);
// The FNV-1a hash of a file's bytes; none when it cannot be read or is larger than a
// made icon can be.
std::optional<std::uint64_t> HashOfIconFile(const std::wstring& path);
// Whether the folder's file `name` is a made icon: its name has the form and its bytes
// hash to it.
bool IsMadeIconFile(const wchar_t* folder, const wchar_t* name);

// Deletes every made icon file in the folder that neither its Desktop.ini nor a folder
// backup of either scope names any more. Files whose bytes do not hash to their name
// are not this product's and stay.
void DeleteUnnamedMadeIcons(const wchar_t* folder);

// A folder icon's path as written (relative to the folder, or full) resolved for use:
// a relative path is taken against the folder. Environment references are left for
// ExpandIconPath. False when the result would not fit.
bool ResolveFolderIconPath(const wchar_t* folder, const wchar_t* iconPath, wchar_t (&out)[TextCapacity]);

} // namespace orvane

// "Keep a copy with the folder": an icon chosen for a folder from a file elsewhere is
// copied into the folder as a made icon (MadeIconFile.h), every size of it, and named
// relative to the folder, so that the icon goes wherever the folder goes and no longer
// depends on the file it came from.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>


namespace orvane {

// The bytes of an icon file holding the source's icon at `index` with all its sizes: an
// icon file's bytes as they are (index 0 only, and only one whose directory fits the
// file); from a module (.dll, .exe, an icon library in the same format) the icon group at
// that position (a negative index: the group of that resource id) rebuilt as an icon file
// from its group and icon resources. Environment references in the source are expanded.
// False (bytes empty) when the source holds no such icon or it is damaged.
bool CopyIconBytes(const wchar_t* source, std::int32_t index, std::vector<std::uint8_t>& bytes);

// Whether "Keep a copy with the folder" starts checked for a source: never for a source
// under the Windows folder (it is on every Windows computer already, and updates with
// it); always for a source on a network share or a removable drive, which may be gone
// when the folder is opened again; otherwise not. A source named without a folder is
// found on the system's search path, and counts as the system's.
bool CopyWithFolderByDefault(const wchar_t* source);

} // namespace orvane

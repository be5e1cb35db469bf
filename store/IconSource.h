// A file that holds icons: an .ico file (one icon), an icon library or any module with
// icon resources.
#pragma once

namespace orvane {

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

// The number of icons the file holds, as the shell counts them; 0 for no path, for a file
// the shell cannot read (ExtractIconEx answers 0xFFFFFFFF rather than 0 for a missing
// file or the text "%1"), for a damaged icon file (never handed to the platform) and for
// a count beyond MaxSourceIcons.
unsigned CountIcons(const wchar_t* source);

} // namespace orvane

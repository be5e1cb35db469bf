// A file that holds icons: an .ico file (one icon), an icon library or any module with
// icon resources.
#pragma once

namespace orvane {

// More icons than any real library holds: a count beyond it comes from a damaged file.
constexpr unsigned MaxSourceIcons = 65535;

// The number of icons the file holds, as the shell counts them; 0 for no path, for a file
// the shell cannot read (ExtractIconEx answers 0xFFFFFFFF rather than 0 for a missing
// file or the text "%1") and for a count beyond MaxSourceIcons.
unsigned CountIcons(const wchar_t* source);

} // namespace orvane

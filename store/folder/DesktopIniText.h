// A Desktop.ini's text taken from its bytes, read the way the profile functions read it,
// and the bytes it becomes with its icon entries changed: one read and one write of the
// file where the profile functions read it once per entry and write it whole per entry.
// A file whose form this does not know for certain (a mark other than UTF-16's, a NUL,
// a lone carriage return, text the code page does not give back byte for byte) is left
// to the profile functions: the callers fall back to them.
#pragma once

#include <string>

#include "DesktopIni.h"

namespace orvane::desktop_ini {

struct DesktopIniText {
    bool Unicode = false; // UTF-16 behind its mark; otherwise in the ANSI code page
    std::wstring Text;    // without the mark
};

// False when the bytes are not a file this reads as the profile functions do.
bool ParseDesktopIniBytes(const std::string& bytes, DesktopIniText& out);

// The icon entries as GetPrivateProfileString gives them: the first of each name in the
// first ".ShellClassInfo" section, names and section without case, the text trimmed and
// one pair of enclosing quotes taken off.
IconEntries EntriesOfText(const DesktopIniText& text);

// The file's bytes with each listed entry written (its line replaced where it stands,
// added at the end of the section where it does not, the section added at the end of the
// file where there is none) or, where its text is null, taken out; every other line as
// it was. An ANSI file stays ANSI when every text has a form in the code page (and,
// with `preferAnsi`, a UTF-16 one becomes ANSI again when all its text has); otherwise
// the file becomes UTF-16. `unicode` says which the bytes are. False when a text holds a
// line break, which the profile functions would write as it is.
bool EditedDesktopIniBytes(const DesktopIniText& text, const ListedEntries& listed, bool preferAnsi, std::string& bytes,
                           bool& unicode);

// The bytes of a Desktop.ini that holds the listed entries alone, for a file that is made.
bool NewDesktopIniBytes(const ListedEntries& listed, std::string& bytes);

} // namespace orvane::desktop_ini

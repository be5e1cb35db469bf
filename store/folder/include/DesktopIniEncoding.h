// The encoding of a Desktop.ini before this store writes entries into it. The platform's
// profile functions write UTF-16 only into a file that already starts with a UTF-16
// little-endian byte-order mark; anything else they write in the ANSI code page, where
// each character the code page lacks becomes "?" (a wildcard, and another path).
#pragma once

#include <windows.h>

#include <initializer_list>

#include "WholeFile.h"

namespace orvane {

// Makes the file at `profile` able to hold every one of `texts`:
// - a missing file is created holding only the UTF-16 LE byte-order mark;
// - an ANSI file (no byte-order mark) is rewritten as UTF-16 LE, every section, entry
//   and line kept, when one of the texts has a character the ANSI code page lacks;
//   an ANSI file that can hold them all is left byte for byte as it is;
// - a file with a byte-order mark (UTF-16 either way, or UTF-8) is left as it is.
// The file keeps its attributes. An ANSI file that would have to be rewritten but is too
// large to be a folder's settings (over 1 MiB) is left as it is: ERROR_FILE_TOO_LARGE.
// Another program may read the file while it is rewritten, never write it.
LONG PrepareDesktopIniFor(const wchar_t* desktopIni, std::initializer_list<const wchar_t*> texts);

// Whether the file is in the ANSI code page (it has no byte-order mark; an empty file has
// none either). False when it is missing or cannot be read.
bool IsAnsiDesktopIni(const wchar_t* desktopIni);

// Turns a UTF-16 LE file back into the ANSI code page when every character it holds has
// a form there, so that a file PrepareDesktopIniFor converted is, once the entries that
// needed UTF-16 are gone, byte for byte what it was. Anything else (no UTF-16 mark, a
// character the code page lacks, over 2 MiB) is left as it is, and is no failure. The
// file keeps its attributes.
LONG ReturnDesktopIniToAnsi(const wchar_t* desktopIni);

} // namespace orvane

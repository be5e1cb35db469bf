// The encoding of a Desktop.ini before this store writes entries into it. The platform's
// profile functions write UTF-16 only into a file that already starts with a UTF-16
// little-endian byte-order mark; anything else they write in the ANSI code page, where
// each character the code page lacks becomes "?" (a wildcard, and another path).
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>

namespace orvane {

// The file functions report a failure through GetLastError; a failure that left no code
// behind must still not read as success.
inline LONG LastErrorOr(LONG fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? static_cast<LONG>(error) : fallback;
}

// A handle closed when it goes.
struct FileHandle {
    HANDLE Value = INVALID_HANDLE_VALUE;
    explicit FileHandle(HANDLE value) : Value(value) {}
    ~FileHandle()
    {
        if (Value != INVALID_HANDLE_VALUE)
            CloseHandle(Value);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return Value != INVALID_HANDLE_VALUE; }
};

// A file's bytes as read, with one byte of room behind them.
struct FileBytes {
    std::unique_ptr<char[]> Data;
    DWORD Size = 0;
};

// Reads an open file whole from where its pointer stands (its start, once opened).
// ERROR_FILE_TOO_LARGE, nothing read, when it holds more than `limit` bytes.
LONG ReadWholeFile(HANDLE file, DWORD limit, FileBytes& bytes);

// Makes the file at `profile` able to hold every one of `texts`:
// - a missing file is created holding only the UTF-16 LE byte-order mark;
// - an ANSI file (no byte-order mark) is rewritten as UTF-16 LE, every section, entry
//   and line kept, when one of the texts has a character the ANSI code page lacks;
//   an ANSI file that can hold them all is left byte for byte as it is;
// - a file with a byte-order mark (UTF-16 either way, or UTF-8) is left as it is.
// The file keeps its attributes. An ANSI file that would have to be rewritten but is too
// large to be a folder's settings (over 1 MiB) is left as it is: ERROR_FILE_TOO_LARGE.
// Another program may read the file while it is rewritten, never write it.
LONG PrepareProfileFor(const wchar_t* profile, std::initializer_list<const wchar_t*> texts);

// Whether the file is in the ANSI code page (it has no byte-order mark; an empty file has
// none either). False when it is missing or cannot be read.
bool IsAnsiProfile(const wchar_t* profile);

// Turns a UTF-16 LE file back into the ANSI code page when every character it holds has
// a form there, so that a file PrepareProfileFor converted is, once the entries that
// needed UTF-16 are gone, byte for byte what it was. Anything else (no UTF-16 mark, a
// character the code page lacks, over 2 MiB) is left as it is, and is no failure. The
// file keeps its attributes.
LONG ReturnProfileToAnsi(const wchar_t* profile);

} // namespace orvane

// Files read and written whole, and the handles they are read through. Nothing here
// reads a file larger than its caller allows, and a write that fails leaves no file
// behind.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
struct WholeFileBytes {
    std::unique_ptr<char[]> Data;
    DWORD Size = 0;
};

// Reads an open file whole from where its pointer stands (its start, once opened).
// ERROR_FILE_TOO_LARGE, nothing read, when it holds more than `limit` bytes.
LONG ReadWholeFile(HANDLE file, DWORD limit, WholeFileBytes& bytes);

// Keeps the thread's last error across the clean-up of a failed write, so that the caller
// learns why the write failed rather than how the clean-up went.
class LastErrorKept {
public:
    LastErrorKept() : error_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(error_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

private:
    DWORD error_;
};

// Reads the file at `path` whole into bytes (opened for reading, others may read it too;
// `flags` as CreateFileW takes them, e.g. FILE_FLAG_OPEN_REPARSE_POINT). False (bytes
// empty) when it cannot be opened or read, or holds more than `limit` bytes.
bool ReadFileBytes(const wchar_t* path, std::uint64_t limit, std::vector<std::uint8_t>& bytes, DWORD flags = 0);

// Writes the bytes to a new temporary file beside `path` (named ".orvane-<process>-<n>.tmp",
// never a made icon's name, and no longer than one) and gives its name; nothing is
// left behind on failure, and the last error says why.
bool WriteTemporaryBeside(const std::wstring& path, const std::vector<std::uint8_t>& bytes, DWORD attributes,
                          std::wstring* temporary);

// Writes the bytes as the file at `path` through a temporary file beside it, so that a
// failure leaves no file and an existing one as it was. False with the system's reason as
// the thread's last error.
bool WriteFileWhole(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

} // namespace orvane

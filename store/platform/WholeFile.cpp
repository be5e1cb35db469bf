#include "WholeFile.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>

namespace orvane {

namespace {

constexpr wchar_t TemporaryPrefix[] = L".orvane-";

bool WriteWhole(HANDLE file, const std::vector<std::uint8_t>& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr) || done == 0)
            return false;
        written += done;
    }
    return FlushFileBuffers(file) != FALSE;
}


// A name in the destination's folder that no other writer uses at the same moment, never
// of the made form, and no longer than a made icon's name: where the made icon's path
// fits, its temporary file's fits too.
std::wstring TemporaryNameFor(const std::wstring& path)
{
    static volatile LONG counter = 0;
    wchar_t name[32];
    const auto process = static_cast<unsigned long>(GetCurrentProcessId());
    const auto count = static_cast<unsigned long>(InterlockedIncrement(&counter) & 0xFFFF);
    std::swprintf(name, std::size(name), L"%ls%lx-%04lx.tmp", TemporaryPrefix, process, count);
    const std::size_t separator = path.find_last_of(L"\\/");
    return (separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1)) + name;
}

} // namespace

LONG ReadWholeFile(HANDLE file, DWORD limit, WholeFileBytes& bytes)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        return LastErrorOr(ERROR_READ_FAULT);
    if (size.QuadPart > limit)
        return ERROR_FILE_TOO_LARGE;
    bytes.Size = static_cast<DWORD>(size.QuadPart);
    bytes.Data.reset(new (std::nothrow) char[bytes.Size + 1]);
    if (!bytes.Data)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = 0;
    if (bytes.Size != 0 && (!ReadFile(file, bytes.Data.get(), bytes.Size, &read, nullptr) || read != bytes.Size))
        return LastErrorOr(ERROR_READ_FAULT);
    return ERROR_SUCCESS;
}

bool ReadFileBytes(const wchar_t* path, std::uint64_t limit, std::vector<std::uint8_t>& bytes, DWORD flags)
{
    bytes.clear();
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!file.Valid())
        return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Value, &size) || size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > limit)
        return false;
    try {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return false;
    }
    DWORD done = 0;
    if (!bytes.empty() && (!ReadFile(file.Value, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) ||
                           done != bytes.size())) {
        bytes.clear();
        return false;
    }
    return true;
}

bool WriteTemporaryBeside(const std::wstring& path, const std::vector<std::uint8_t>& bytes, DWORD attributes,
                    std::wstring* temporary)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    // A file of that name left by an earlier process of the same number takes the next.
    for (int attempt = 0; attempt < 4 && file == INVALID_HANDLE_VALUE; ++attempt) {
        *temporary = TemporaryNameFor(path);
        file = CreateFileW(temporary->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteWhole(file, bytes);
    const LastErrorKept reason;
    CloseHandle(file);
    if (!written)
        DeleteFileW(temporary->c_str());
    return written;
}

bool WriteFileWhole(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    std::wstring temporary;
    if (!WriteTemporaryBeside(path, bytes, FILE_ATTRIBUTE_NORMAL, &temporary))
        return false;
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const LastErrorKept reason;
    DeleteFileW(temporary.c_str());
    return false;
}

} // namespace orvane

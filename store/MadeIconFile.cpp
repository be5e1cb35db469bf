#include "MadeIconFile.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "IconLocation.h"

namespace orvane {

namespace {

constexpr wchar_t MadePrefix[] = L".orvane-";
constexpr std::size_t MadePrefixLength = std::size(MadePrefix) - 1;
constexpr std::size_t HashDigits = 16;
// A made icon holds at most eight images, the largest a 256-pixel PNG; anything bigger
// than this is not one of ours and is not read whole.
constexpr LONGLONG LargestMadeIcon = 16ll << 20;

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

// A name in the destination's folder that no other writer uses at the same moment, never
// of the made form, and no longer than a made icon's name: where the made icon's path
// fits, its temporary file's fits too.
std::wstring TemporaryNameFor(const std::wstring& path)
{
    static volatile LONG counter = 0;
    wchar_t name[32];
    const auto process = static_cast<unsigned long>(GetCurrentProcessId());
    const auto count = static_cast<unsigned long>(InterlockedIncrement(&counter) & 0xFFFF);
    std::swprintf(name, std::size(name), L"%ls%lx-%04lx.tmp", MadePrefix, process, count);
    const std::size_t separator = path.find_last_of(L"\\/");
    return (separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1)) + name;
}

// Writes the bytes to a new temporary file beside `path` and gives its name; nothing is
// left behind on failure, and the last error says why.
bool WriteTemporary(const std::wstring& path, const std::vector<std::uint8_t>& bytes, DWORD attributes,
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

} // namespace

std::uint64_t Fnv1a64(const std::uint8_t* bytes, std::size_t size)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}


std::wstring MadeIconName(std::uint64_t hash)
{
    wchar_t digits[HashDigits + 1];
    std::swprintf(digits, std::size(digits), L"%016llx", static_cast<unsigned long long>(hash));
    return std::wstring(MadePrefix) + digits + L".ico";
}


bool IsMadeIconName(const wchar_t* name)
{
    if (name == nullptr || wcsnlen(name, TextCapacity) != MadePrefixLength + HashDigits + 4)
        return false;
    if (std::wcsncmp(name, MadePrefix, MadePrefixLength) != 0 || std::wcscmp(name + MadePrefixLength + HashDigits, L".ico") != 0)
        return false;
    for (std::size_t i = MadePrefixLength; i < MadePrefixLength + HashDigits; ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')))
            return false;
    }
    return true;
}


std::wstring InFolder(const wchar_t* folder, const std::wstring& name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + name;
}


std::optional<std::uint64_t> HashOfIconFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    LARGE_INTEGER size = {};
    std::vector<std::uint8_t> bytes;
    bool read = GetFileSizeEx(file, &size) && size.QuadPart <= LargestMadeIcon;
    if (read) {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD got = 0;
        read = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                                 got == bytes.size());
    }
    CloseHandle(file);
    if (!read)
        return std::nullopt;
    return Fnv1a64(bytes.data(), bytes.size());
}


bool IsMadeIconFile(const wchar_t* folder, const wchar_t* name)
{
    if (!IsMadeIconName(name))
        return false;
    const std::optional<std::uint64_t> hash = HashOfIconFile(InFolder(folder, name));
    return hash && MadeIconName(*hash) == name;
}


bool WriteFileWhole(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    std::wstring temporary;
    if (!WriteTemporary(path, bytes, FILE_ATTRIBUTE_NORMAL, &temporary))
        return false;
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const LastErrorKept reason;
    DeleteFileW(temporary.c_str());
    return false;
}

bool MadeIconFits(const wchar_t* directory)
{
    return directory != nullptr && wcsnlen(directory, TextCapacity) < TextCapacity &&
           InFolder(directory, MadeIconName(0)).size() < TextCapacity;
}

bool WriteMadeIcon(const wchar_t* directory, const std::vector<std::uint8_t>& bytes, std::wstring* name)
{
    // Refused before anything is written: Windows opens no such path without the long
    // path prefix, Explorer reads icon paths into buffers of 260 characters, and a folder's
    // icon named relative to it is found by its full path.
    if (!MadeIconFits(directory)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const std::wstring made = MadeIconName(Fnv1a64(bytes.data(), bytes.size()));
    const std::wstring path = InFolder(directory, made);
    std::wstring temporary;
    if (!WriteTemporary(path, bytes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, &temporary))
        return false;
    // Not replacing: a file of that name already there is either these very bytes, made
    // before, or not ours and left alone.
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        if (!IsMadeIconFile(directory, made.c_str())) {
            SetLastError(error);
            return false;
        }
    }
    *name = made;
    return true;
}

} // namespace orvane

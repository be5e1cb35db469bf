#include "SelectionList.h"

#include <cstring>
#include <cwchar>
#include <iterator>

#include "IconLocation.h"
#include "ManyTargets.h"
#include "DesktopIniEncoding.h"
#include "WholeFile.h"

namespace orvane {

namespace {

// GetTempFileName takes up to three characters of the prefix.
constexpr wchar_t ListPrefix[] = L"orv";
constexpr std::size_t ListPrefixLength = std::size(ListPrefix) - 1;
// GetTempFileName writes the low 16 bits of its number in hexadecimal: one to four digits.
constexpr std::size_t MostDigits = 4;
constexpr wchar_t ListExtension[] = L".tmp";
constexpr std::size_t ListExtensionLength = std::size(ListExtension) - 1;
// SelectionLimit paths that fit, each with its "\n".
constexpr DWORD LargestList = static_cast<DWORD>(SelectionLimit * TextCapacity * sizeof(wchar_t));
// The temporary folder fits MAX_PATH; its final path adds "\\?\" (or "\\?\UNC\") and a
// list's name. A longer final path is no list's.
constexpr DWORD FinalPathCapacity = MAX_PATH + 32;

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Where an open file or folder really lies, every link on the way followed
// ("\\?\C:\Users\x\AppData\Local\Temp"). False when it cannot be asked or does not fit.
bool FinalPathOf(HANDLE handle, wchar_t (&path)[FinalPathCapacity])
{
    const DWORD length = GetFinalPathNameByHandleW(handle, path, FinalPathCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < FinalPathCapacity;
}

// This user's temporary folder as FinalPathOf names it, without a trailing backslash.
bool TemporaryFolderFinalPath(wchar_t (&path)[FinalPathCapacity])
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    if (length == 0 || length >= std::size(folder))
        return false;
    // No access asked, every sharing allowed: only the folder's name is wanted.
    const FileHandle handle(CreateFileW(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.Valid() || !FinalPathOf(handle.Value, path))
        return false;
    std::size_t end = std::wcslen(path);
    while (end > 0 && path[end - 1] == L'\\')
        path[--end] = L'\0';
    return end > 0;
}

// Whether the file's final path is a list's: directly in the temporary folder, with a
// list's name.
SelectionListProblem CheckPlace(const wchar_t* finalPath)
{
    wchar_t folder[FinalPathCapacity];
    const wchar_t* name = std::wcsrchr(finalPath, L'\\');
    if (name == nullptr || !TemporaryFolderFinalPath(folder))
        return SelectionListProblem::NotInTemporaryFolder;
    const int folderLength = static_cast<int>(name - finalPath);
    if (CompareStringOrdinal(finalPath, folderLength, folder, -1, TRUE) != CSTR_EQUAL)
        return SelectionListProblem::NotInTemporaryFolder;
    return IsSelectionListName(name + 1) ? SelectionListProblem::None : SelectionListProblem::NotListName;
}

// A line as the command writes it: a full path ("C:\..." or "\\server\...") that fits,
// with no control character (no file name holds one; "\r" is a text file's).
bool IsListLine(const wchar_t* line, std::size_t length)
{
    if (length < 3 || length >= TextCapacity)
        return false;
    const bool drive = ((line[0] >= L'A' && line[0] <= L'Z') || (line[0] >= L'a' && line[0] <= L'z')) &&
                       line[1] == L':' && line[2] == L'\\';
    const bool share = line[0] == L'\\' && line[1] == L'\\';
    if (!drive && !share)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (line[i] < L' ')
            return false;
    }
    return true;
}

// The lines of a list's bytes: UTF-16, one to SelectionLimit lines, each ended by "\n".
// False for anything else.
bool ParseList(const WholeFileBytes& bytes, std::vector<std::wstring>& paths)
{
    paths.clear();
    if (bytes.Size == 0 || bytes.Size % sizeof(wchar_t) != 0)
        return false;
    const std::size_t units = bytes.Size / sizeof(wchar_t);
    std::wstring text(units, L'\0');
    std::memcpy(text.data(), bytes.Data.get(), bytes.Size);
    if (text.back() != L'\n')
        return false;
    for (std::size_t start = 0; start < units;) {
        const std::size_t end = text.find(L'\n', start);
        if (!IsListLine(text.c_str() + start, end - start) || paths.size() == SelectionLimit)
            return false;
        paths.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

// Deletes the open file through its handle: the file checked is the file deleted, whatever
// its name leads to by now.
bool DeleteThrough(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

} // namespace

DWORD WriteSelectionList(const std::vector<std::wstring>& paths, wchar_t (&file)[MAX_PATH])
{
    wchar_t folder[MAX_PATH];
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    if (length == 0 || length >= std::size(folder) || GetTempFileNameW(folder, ListPrefix, 0, file) == 0)
        return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_PATH_NOT_FOUND;
    std::wstring text;
    for (const std::wstring& path : paths)
        text += path + L"\n";
    HANDLE handle = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const bool done = handle != INVALID_HANDLE_VALUE && WriteFile(handle, text.data(), bytes, &written, nullptr) &&
                      written == bytes;
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    if (!done)
        DeleteFileW(file);
    return done ? ERROR_SUCCESS : (error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
}

bool IsSelectionListName(const wchar_t* name)
{
    if (name == nullptr)
        return false;
    const std::size_t length = wcsnlen(name, TextCapacity);
    if (length < ListPrefixLength + 1 + ListExtensionLength || length > ListPrefixLength + MostDigits + ListExtensionLength)
        return false;
    const std::size_t digitsEnd = length - ListExtensionLength;
    if (CompareStringOrdinal(name, static_cast<int>(ListPrefixLength), ListPrefix, -1, TRUE) != CSTR_EQUAL ||
        CompareStringOrdinal(name + digitsEnd, -1, ListExtension, -1, TRUE) != CSTR_EQUAL)
        return false;
    for (std::size_t i = ListPrefixLength; i < digitsEnd; ++i) {
        if (!IsHexDigit(name[i]))
            return false;
    }
    return true;
}

SelectionListRead ReadSelectionList(const wchar_t* file)
{
    SelectionListRead read;
    if (file == nullptr || file[0] == L'\0') {
        read.Error = ERROR_FILE_NOT_FOUND;
        return read;
    }
    // Shared with readers only: while it is open nobody renames, deletes or rewrites it.
    // A file this user may read but not delete is no list the command wrote; it is still
    // read, to say what it is.
    FileHandle handle(CreateFileW(file, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    bool deletable = handle.Valid();
    if (!deletable)
        handle.Value = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (!handle.Valid()) {
        read.Error = static_cast<DWORD>(LastErrorOr(ERROR_OPEN_FAILED));
        return read;
    }
    wchar_t finalPath[FinalPathCapacity];
    read.Problem = FinalPathOf(handle.Value, finalPath) ? CheckPlace(finalPath) : SelectionListProblem::NotInTemporaryFolder;
    BY_HANDLE_FILE_INFORMATION information{};
    if (read.Problem == SelectionListProblem::None &&
        (!GetFileInformationByHandle(handle.Value, &information) || information.nNumberOfLinks != 1))
        read.Problem = SelectionListProblem::OtherNames;
    if (read.Problem != SelectionListProblem::None)
        return read;
    WholeFileBytes bytes;
    read.Error = static_cast<DWORD>(ReadWholeFile(handle.Value, LargestList, bytes));
    if (read.Error != ERROR_SUCCESS && read.Error != ERROR_FILE_TOO_LARGE) {
        read.Problem = SelectionListProblem::CannotOpen;
        return read;
    }
    if (read.Error != ERROR_SUCCESS || !ParseList(bytes, read.Paths)) {
        read.Error = ERROR_SUCCESS;
        read.Paths.clear();
        read.Problem = SelectionListProblem::NotList;
        return read;
    }
    read.Deleted = deletable && DeleteThrough(handle.Value);
    return read;
}

} // namespace orvane

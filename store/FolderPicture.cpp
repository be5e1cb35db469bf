#include "FolderPicture.h"

#include <cwchar>
#include <iterator>
#include <optional>
#include <vector>

#include "FolderBackups.h"
#include "FolderIcons.h"

namespace orvane {

namespace {

constexpr wchar_t MadePrefix[] = L".orvane-";
constexpr std::size_t MadePrefixLength = std::size(MadePrefix) - 1;
constexpr std::size_t HashDigits = 16;
// A made icon holds at most eight images, the largest a 256-pixel PNG; anything bigger
// than this is not one of ours and is not read whole.
constexpr LONGLONG LargestMadeIcon = 16ll << 20;

} // namespace

std::wstring InFolder(const wchar_t* folder, const std::wstring& name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + name;
}

// The FNV-1a hash of a file's bytes; none when it cannot be read or is too large to be
// a made icon.
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

// Whether the file is a made icon: its name has the form and its bytes hash to it.
bool IsMadeIconFile(const wchar_t* folder, const wchar_t* name)
{
    if (!IsMadeIconName(name))
        return false;
    const std::optional<std::uint64_t> hash = HashOfIconFile(InFolder(folder, name));
    return hash && MadeIconName(*hash) == name;
}

namespace {

bool Names(const wchar_t* folder, const std::optional<IconLocation>& location, const std::wstring& file)
{
    wchar_t resolved[TextCapacity];
    if (!location || !ResolveFolderIconPath(folder, location->IconPath, resolved))
        return false;
    return CompareStringOrdinal(resolved, -1, file.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool IsNamed(const wchar_t* folder, const wchar_t* name)
{
    const std::wstring file = InFolder(folder, name);
    return Names(folder, ReadFolderIcon(folder), file) ||
           Names(folder, ReadFolderBackup(folder, Scope::ThisUser), file) ||
           Names(folder, ReadFolderBackup(folder, Scope::AllUsers), file);
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

void DeleteUnnamedMadeIcons(const wchar_t* folder)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(InFolder(folder, L".orvane-*.ico").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
        if (!IsMadeIconFile(folder, found.cFileName) || IsNamed(folder, found.cFileName))
            continue;
        const std::wstring path = InFolder(folder, found.cFileName);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool ResolveFolderIconPath(const wchar_t* folder, const wchar_t* iconPath, wchar_t (&out)[TextCapacity])
{
    out[0] = L'\0';
    if (iconPath == nullptr || folder == nullptr)
        return false;
    // Full ("C:\x", "\\server\x", "\x"), drive-relative ("C:x") and environment paths are
    // used as written.
    const bool relative = iconPath[0] != L'\0' && iconPath[0] != L'\\' && iconPath[0] != L'/' &&
                          iconPath[0] != L'%' && iconPath[1] != L':';
    if (!relative)
        return CopyText(out, std::size(out), iconPath);
    return CopyText(out, std::size(out), InFolder(folder, iconPath).c_str());
}

} // namespace orvane

#include "MadeIconFile.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "Fnv1a.h"
#include "IconLocation.h"
#include "PathText.h"
#include "WholeFile.h"

namespace orvane {

namespace {

constexpr wchar_t MadePrefix[] = L".orvane-";
constexpr std::size_t MadePrefixLength = std::size(MadePrefix) - 1;
constexpr std::size_t HashDigits = 16;
// A made icon holds at most eight images, the largest a 256-pixel PNG; anything bigger
// than this is not one of ours and is not read whole.
constexpr std::uint64_t LargestMadeIcon = 16ull << 20;

} // namespace

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


std::optional<std::uint64_t> HashOfIconFile(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(path.c_str(), LargestMadeIcon, bytes, FILE_FLAG_OPEN_REPARSE_POINT))
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


std::optional<std::wstring> MadeIconNameInFolder(const wchar_t* folder, const wchar_t* path)
{
    if (folder == nullptr || path == nullptr)
        return std::nullopt;
    const std::wstring prefix = InFolder(folder, L"");
    const std::size_t length = wcsnlen(path, TextCapacity);
    if (length <= prefix.size() || length >= TextCapacity ||
        CompareStringOrdinal(path, static_cast<int>(prefix.size()), prefix.c_str(), static_cast<int>(prefix.size()),
                             TRUE) != CSTR_EQUAL)
        return std::nullopt;
    std::wstring name(path + prefix.size(), length - prefix.size());
    if (name.find_first_of(L"\\/") != std::wstring::npos || !IsMadeIconFile(folder, name.c_str()))
        return std::nullopt;
    return name;
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
    if (!WriteTemporaryBeside(path, bytes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, &temporary))
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

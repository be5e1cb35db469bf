#include "IconResources.h"

#include <windows.h>

#include <climits>
#include <cwchar>
#include <iterator>

namespace orvane {

namespace {

// Resource ids are 16-bit; a larger number names no group.
constexpr unsigned MaxResourceId = 0xFFFF;

// True when [begin, end) is an optional sign followed by one or more digits, with a
// value in the 32-bit range.
bool ParseWholeIndex(const wchar_t* begin, const wchar_t* end, std::int32_t* index)
{
    const wchar_t* p = begin;
    const bool negative = p != end && *p == L'-';
    if (p != end && (*p == L'-' || *p == L'+'))
        ++p;
    if (p == end)
        return false;
    long long value = 0;
    for (; p != end; ++p) {
        if (*p < L'0' || *p > L'9')
            return false;
        value = value * 10 + (*p - L'0');
        if (value > static_cast<long long>(INT32_MAX) + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return false;
    *index = static_cast<std::int32_t>(value);
    return true;
}

struct GroupSearch {
    unsigned Id = 0;
    int Position = 0;
    int Found = -1;
};

BOOL CALLBACK VisitIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    auto* search = reinterpret_cast<GroupSearch*>(param);
    if (IS_INTRESOURCE(name) && reinterpret_cast<ULONG_PTR>(name) == search->Id) {
        search->Found = search->Position;
        return FALSE;
    }
    ++search->Position;
    return TRUE;
}

// Maps the file for its resources only: nothing of it runs, and a library built for the
// other architecture can be read as well.
HMODULE LoadResourcesOf(const wchar_t* file)
{
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

} // namespace

std::optional<IconLocation> ParseIconResource(const wchar_t* text)
{
    if (text == nullptr)
        return std::nullopt;
    const wchar_t* comma = std::wcsrchr(text, L',');
    if (comma == nullptr || comma == text)
        return std::nullopt;
    std::int32_t index = 0;
    if (!ParseWholeIndex(comma + 1, comma + 1 + std::wcslen(comma + 1), &index))
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(comma - text);
    if (length >= TextCapacity)
        return std::nullopt;
    IconLocation location;
    std::wmemcpy(location.IconPath, text, length);
    location.IconPath[length] = L'\0';
    location.SetIndex(index);
    return location;
}

bool ExpandIconPath(const wchar_t* path, wchar_t (&out)[TextCapacity])
{
    out[0] = L'\0';
    if (path == nullptr)
        return false;
    if (std::wcschr(path, L'%') == nullptr)
        return CopyText(out, std::size(out), path);
    wchar_t expanded[TextCapacity] = {};
    const DWORD capacity = static_cast<DWORD>(std::size(expanded));
    const DWORD needed = ExpandEnvironmentStringsW(path, expanded, capacity);
    // The answer counts the terminator, in characters; one that does not fit leaves the
    // buffer unusable.
    if (needed == 0 || needed > capacity)
        return false;
    expanded[capacity - 1] = L'\0';
    return CopyText(out, std::size(out), expanded);
}

int FindIconOfResourceId(const wchar_t* path, unsigned id)
{
    if (id == 0 || id > MaxResourceId)
        return -1;
    wchar_t file[TextCapacity];
    if (!ExpandIconPath(path, file) || file[0] == L'\0')
        return -1;
    HMODULE module = LoadResourcesOf(file);
    if (module == nullptr)
        return -1;
    GroupSearch search;
    search.Id = id;
    EnumResourceNamesW(module, reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), VisitIconGroup,
                       reinterpret_cast<LONG_PTR>(&search));
    FreeLibrary(module);
    return search.Found;
}

int IconListPosition(const wchar_t* path, std::int32_t index)
{
    if (index >= 0)
        return index;
    if (index == NoIndex || index == INT32_MIN)
        return -1;
    return FindIconOfResourceId(path, static_cast<unsigned>(-index));
}

} // namespace orvane

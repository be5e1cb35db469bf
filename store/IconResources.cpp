#include "IconResources.h"

#include <windows.h>

#include <climits>
#include <cstring>

namespace orvane {

namespace {

// Resource ids are 16-bit; a larger number names no group.
constexpr unsigned MaxResourceId = 0xFFFF;

// True when [begin, end) is an optional sign followed by one or more digits, with a
// value in the 32-bit range.
bool ParseWholeIndex(const char* begin, const char* end, std::int32_t* index)
{
    const char* p = begin;
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+'))
        ++p;
    if (p == end)
        return false;
    long long value = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
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

BOOL CALLBACK VisitIconGroup(HMODULE, LPCSTR, LPSTR name, LONG_PTR param)
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
HMODULE LoadResourcesOf(const char* file)
{
    HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr)
        module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

} // namespace

std::optional<IconLocation> ParseIconResource(const char* text)
{
    if (text == nullptr)
        return std::nullopt;
    const char* comma = std::strrchr(text, ',');
    if (comma == nullptr || comma == text)
        return std::nullopt;
    std::int32_t index = 0;
    if (!ParseWholeIndex(comma + 1, comma + 1 + std::strlen(comma + 1), &index))
        return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(comma - text);
    if (length >= TextCapacity)
        return std::nullopt;
    IconLocation location;
    std::memcpy(location.IconPath, text, length);
    location.IconPath[length] = '\0';
    location.SetIndex(index);
    return location;
}

bool ExpandIconPath(const char* path, char (&out)[TextCapacity])
{
    out[0] = '\0';
    if (path == nullptr)
        return false;
    if (std::strchr(path, '%') == nullptr)
        return CopyText(out, sizeof out, path);
    char expanded[TextCapacity] = {};
    const DWORD needed = ExpandEnvironmentStringsA(path, expanded, sizeof expanded);
    // The answer counts the terminator; one that does not fit leaves the buffer unusable.
    if (needed == 0 || needed > sizeof expanded)
        return false;
    expanded[sizeof expanded - 1] = '\0';
    return CopyText(out, sizeof out, expanded);
}

int FindIconOfResourceId(const char* path, unsigned id)
{
    if (id == 0 || id > MaxResourceId)
        return -1;
    char file[TextCapacity];
    if (!ExpandIconPath(path, file) || file[0] == '\0')
        return -1;
    HMODULE module = LoadResourcesOf(file);
    if (module == nullptr)
        return -1;
    GroupSearch search;
    search.Id = id;
    EnumResourceNamesA(module, reinterpret_cast<LPCSTR>(RT_GROUP_ICON), VisitIconGroup,
                       reinterpret_cast<LONG_PTR>(&search));
    FreeLibrary(module);
    return search.Found;
}

int IconListPosition(const char* path, std::int32_t index)
{
    if (index >= 0)
        return index;
    if (index == NoIndex || index == INT32_MIN)
        return -1;
    return FindIconOfResourceId(path, static_cast<unsigned>(-index));
}

} // namespace orvane

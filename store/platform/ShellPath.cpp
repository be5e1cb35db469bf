#include "ShellPath.h"

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "PathText.h"

namespace orvane {

namespace {

// A device path may be a few characters longer than the plain path it names.
constexpr std::size_t GivenPathLimit = 2 * TextCapacity;

} // namespace

bool ShellPathOf(const wchar_t* given, wchar_t (&out)[TextCapacity])
{
    out[0] = L'\0';
    if (given == nullptr)
        return false;
    const std::size_t length = wcsnlen(given, GivenPathLimit);
    if (length == 0 || length == GivenPathLimit)
        return false;
    const std::wstring plain = WithoutDevicePrefix(std::wstring_view(given, length));
    if (plain.size() >= TextCapacity)
        return false;

    // GetFullPathName leaves a path that still has a device prefix as it is; any other it
    // completes and tidies ("/" to "\", "." and ".." components) the way Explorer's names are.
    wchar_t full[MAX_PATH + 1] = {};
    const DWORD fullLength = GetFullPathNameW(plain.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    if (fullLength == 0 || fullLength >= TextCapacity)
        return false;
    // Short (8.3) names become long ones; an item that does not exist keeps its full path.
    // A generated short name always holds a "~": a path without one has only long names
    // (a long name that fits 8.3 is its own short name), and is not looked up component
    // by component on the disk, which takes a good part of a batch's time per target.
    wchar_t longer[MAX_PATH + 1] = {};
    const DWORD longLength = std::wcschr(full, L'~') == nullptr
                                 ? 0
                                 : GetLongPathNameW(full, longer, static_cast<DWORD>(std::size(longer)));
    const wchar_t* chosen = longLength > 0 && longLength < TextCapacity ? longer : full;
    if (!CopyText(out, std::size(out), chosen))
        return false;
    std::size_t end = std::wcslen(out);
    while (end > 3 && out[end - 1] == L'\\')
        out[--end] = L'\0';
    return true;
}

PlaceKind PlaceOf(const wchar_t* path)
{
    if (path == nullptr)
        return PlaceKind::Local;
    const std::wstring plain = WithoutDevicePrefix(path);
    if (plain.size() >= 2 && plain[0] == L'\\' && plain[1] == L'\\')
        return PlaceKind::Network;
    if (plain.size() < 2 || plain[1] != L':')
        return PlaceKind::Local;
    const wchar_t root[] = {plain[0], L':', L'\\', L'\0'};
    switch (GetDriveTypeW(root)) {
    case DRIVE_REMOTE: return PlaceKind::Network;
    case DRIVE_REMOVABLE: return PlaceKind::Removable;
    default: return PlaceKind::Local;
    }
}

} // namespace orvane

// Splitting of paths the way the platform's path splitter does it, and cutting of text,
// without <windows.h>.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane {

// The last component of a path: what follows the last "\" or "/", or the drive's "X:"
// when there is no separator, split into its name and its extension (from the last
// "." on, dot included; empty without a dot).
struct FileNameParts {
    std::wstring_view Name;
    std::wstring_view Extension;
};

FileNameParts SplitFileName(std::wstring_view path);

// The extension of the path's file name, dot included; empty without a dot.
inline std::wstring_view FileExtension(std::wstring_view path) { return SplitFileName(path).Extension; }

// True when an extension can name a file class: something follows its dot. "name." has
// only the dot, which names no class.
constexpr bool NamesFileClass(std::wstring_view extension) { return extension.size() > 1; }

// The number of leading UTF-16 units of text that fit into `room` units: all of them, or
// a cut that never ends between the two halves of a surrogate pair.
constexpr std::size_t UnitsThatFit(std::wstring_view text, std::size_t room)
{
    if (text.size() <= room)
        return text.size();
    std::size_t count = room;
    if (count > 0 && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF)
        --count;
    return count;
}

// A path in the Win32 device namespaces as the plain path Explorer names the same item
// by: "\\?\C:\x" and "\\.\C:\x" become "C:\x", "\\?\C:" (the volume) the drive's root
// "C:\", and "\\?\UNC\server\share\x" (or "\\.\UNC\...") "\\server\share\x"; the
// prefixes' letters in any case. Any other path, and a device path that names no drive
// or share (a volume's GUID name, a device), is returned as it is.
std::wstring WithoutDevicePrefix(std::wstring_view path);

// The path of `name` in the folder: joined by one backslash.
std::wstring InFolder(const wchar_t* folder, const std::wstring& name);

// Appends `length` units of text to out (at `at` of `size` units) and terminates it;
// false, nothing appended, when it does not fit.
bool AppendText(wchar_t* out, std::size_t size, std::size_t& at, const wchar_t* text, std::size_t length);
bool AppendText(wchar_t* out, std::size_t size, std::size_t& at, const wchar_t* text);

} // namespace orvane

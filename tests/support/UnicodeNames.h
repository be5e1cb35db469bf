// Names that the ANSI code page of a Western European Windows (1252) cannot hold, for the
// tests of every part that takes a path or a text from the user. Each one is kept as
// UTF-16 code units, exactly as the shell hands it over.
#pragma once

#include <string>
#include <vector>

namespace orvane::test {

struct UnicodeName {
    const char* Label;  // for test names and messages
    std::wstring Text;  // a file or folder name without extension
};

// Latin letters outside code page 1252 and a snowman; Cyrillic; CJK; a character outside
// the Basic Multilingual Plane (a surrogate pair); a right-to-left name.
inline const std::vector<UnicodeName>& UnicodeNames()
{
    static const std::vector<UnicodeName> names{
        {"latin", L"\u014Daq \u2603"},
        {"cyrillic", L"\u041F\u0440\u043E\u0435\u043A\u0442\u044B"},
        {"cjk", L"\u5199\u771F 2024"},
        {"surrogate", L"\U0001F4C1 Notes"},
        {"rtl", L"\u05E9\u05DC\u05D5\u05DD \u0645\u0631\u062D\u0628\u0627"},
    };
    return names;
}

// A path below `folder` whose whole length is exactly `length` UTF-16 units, ending in
// `suffix` (an extension, or "" for a folder). The folders on the way have names of at
// most 100 units made of characters outside code page 1252; a surrogate pair sits in the
// last component and is never split. Empty when the folder and suffix leave no room.
inline std::wstring PathOfLength(const std::wstring& folder, std::size_t length, const std::wstring& suffix)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    const std::wstring lastStem = L"\U0001F4C1\u5199";
    if (path.size() + lastStem.size() + suffix.size() > length)
        return {};
    while (path.size() + lastStem.size() + suffix.size() + 2 <= length &&
           length - (path.size() + lastStem.size() + suffix.size()) > 100) {
        path += std::wstring(99, L'\u0416');
        path += L'\\';
    }
    const std::size_t fill = length - (path.size() + lastStem.size() + suffix.size());
    path += std::wstring(fill, L'\u0436') + lastStem + suffix;
    return path;
}

} // namespace orvane::test

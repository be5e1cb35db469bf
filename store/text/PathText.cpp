#include "PathText.h"

#include <cstring>
#include <cwchar>

namespace orvane {

FileNameParts SplitFileName(std::wstring_view path)
{
    std::size_t start = path.find_last_of(L"\\/");
    if (start != std::wstring_view::npos)
        ++start;
    else if (path.size() >= 2 && path[1] == L':')
        start = 2;
    else
        start = 0;

    const std::wstring_view component = path.substr(start);
    const std::size_t dot = component.rfind(L'.');
    if (dot == std::wstring_view::npos)
        return {component, {}};
    return {component.substr(0, dot), component.substr(dot)};
}

namespace {

constexpr bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

constexpr wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != Upper(prefix[i]))
            return false;
    return true;
}

} // namespace

std::wstring WithoutDevicePrefix(std::wstring_view path)
{
    if (!StartsWithNoCase(path, L"\\\\?\\") && !StartsWithNoCase(path, L"\\\\.\\"))
        return std::wstring(path);
    const std::wstring_view rest = path.substr(4);
    if (StartsWithNoCase(rest, L"UNC\\")) {
        // "\\?\UNC\.\C:" names a server called ".", not this machine's device namespace.
        const std::wstring_view share = rest.substr(4);
        if (share.empty() || StartsWithNoCase(share, L".\\") || StartsWithNoCase(share, L"?\\"))
            return std::wstring(path);
        return L"\\\\" + std::wstring(share);
    }
    if (rest.size() >= 2 && IsLetter(rest[0]) && rest[1] == L':') {
        if (rest.size() == 2)
            return std::wstring(rest) + L"\\";
        if (rest[2] == L'\\')
            return std::wstring(rest);
    }
    return std::wstring(path);
}

std::wstring InFolder(const wchar_t* folder, const std::wstring& name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + name;
}

bool AppendText(wchar_t* out, std::size_t size, std::size_t& at, const wchar_t* text, std::size_t length)
{
    if (length >= size - at)
        return false;
    std::memcpy(out + at, text, length * sizeof(wchar_t));
    at += length;
    out[at] = L'\0';
    return true;
}

bool AppendText(wchar_t* out, std::size_t size, std::size_t& at, const wchar_t* text)
{
    return AppendText(out, size, at, text, std::wcslen(text));
}

} // namespace orvane

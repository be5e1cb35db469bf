// The store's view of a scratch file type (test::ScratchType), and the class ids its
// tests give icon handlers.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "ExtensionIdentity.h"
#include "IconLocation.h"
#include "TestSupport.h"

namespace orvane::test {

inline constexpr const wchar_t (&OwnClsid)[39] = orvane::ExtensionClsidText;
inline constexpr wchar_t OtherClsid[] = L"{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}";
// The Folder class's icon, and the text the folder tests give it.
inline constexpr wchar_t FolderClassIconKey[] = L"Folder\\DefaultIcon";
inline constexpr wchar_t FolderClassIconText[] = L"C:\\icons\\folder-class.ico,7";

// The type as the store names it: its class, owned by its extension.
inline orvane::IconLocation LocationOf(const ScratchType& type)
{
    orvane::IconLocation location;
    location.SetTypeKey(type.Class.c_str());
    location.SetTargetName(type.Extension.c_str());
    return location;
}

// A location read back as "path,index|type key|owner", or "<none>", so that one check
// compares every part.
inline std::wstring LocationText(const std::optional<orvane::IconLocation>& location)
{
    if (!location)
        return L"<none>";
    return std::wstring(location->IconPath) + L"," + std::to_wstring(location->Index) + L"|" + location->TypeKey + L"|" +
           location->TargetName;
}

// A value's data exactly as stored, as UTF-16 units with the terminator included, to
// check what was stored exactly; data of an odd number of bytes is no such text.
inline std::wstring RawValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(none)";
    std::vector<wchar_t> data(4096);
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return L"(none)";
    if (size % sizeof(wchar_t) != 0)
        return L"(odd size)";
    return std::wstring(data.data(), size / sizeof(wchar_t));
}

} // namespace orvane::test

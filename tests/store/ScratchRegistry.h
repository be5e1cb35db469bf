// The store's view of a scratch file type (test::ScratchType), and the class ids its
// tests give icon handlers.
#pragma once

#include <optional>
#include <string>

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

} // namespace orvane::test

#include "FolderIcons.h"

#include <cwchar>
#include <iterator>

#include "DesktopIni.h"
#include "FileTypeIcons.h"
#include "PathText.h"
#include "Registry.h"

namespace orvane {

using namespace desktop_ini;

bool FormatDesktopIniPath(const wchar_t* folder, wchar_t (&out)[TextCapacity])
{
    out[0] = L'\0';
    if (IsEmpty(folder))
        return false;
    const std::size_t length = wcsnlen(folder, TextCapacity);
    const wchar_t* separator = folder[length - 1] == L'\\' ? L"" : L"\\";
    return FormatKeyPath(out, std::size(out), L"%ls%lsDesktop.ini", folder, separator);
}

std::optional<IconLocation> ReadFolderIcon(const wchar_t* folder)
{
    // A folder whose profile path does not fit cannot be read without reading another
    // file: no icon is known for it.
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(folder, desktopIni))
        return std::nullopt;

    return ShownByEntries(folder, ReadIconEntries(desktopIni));
}

std::optional<IconLocation> desktop_ini::ShownByEntries(const wchar_t* folder, const IconEntries& entries)
{
    bool unreadable = false;
    std::optional<IconLocation> location = LocationOfEntries(entries, &unreadable);
    if (unreadable)
        return std::nullopt;
    if (!location)
        location = LookupClassIcon(HKEY_CLASSES_ROOT, L"Folder", nullptr);
    if (location && !location->SetTargetName(folder))
        return std::nullopt;
    return location;
}

LONG CheckFolderDesktopIni(const wchar_t* folder)
{
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(folder, desktopIni))
        return IsEmpty(folder) ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE;
    return CheckDesktopIni(folder, desktopIni);
}

LONG WriteFolderIcon(const IconLocation& location, bool* byFolder, bool checked)
{
    if (byFolder != nullptr)
        *byFolder = false;
    wchar_t desktopIni[TextCapacity];
    if (!FormatDesktopIniPath(location.TargetName, desktopIni))
        return IsEmpty(location.TargetName) ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE;
    LocationTexts texts;
    ListedEntries entries;
    if (wcsnlen(location.IconPath, TextCapacity) > FolderIconPathLimit || !EntriesOfLocation(location, texts, entries))
        return ERROR_FILENAME_EXCED_RANGE;
    return WriteEntries(location.TargetName, desktopIni, entries, nullptr, byFolder, checked);
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

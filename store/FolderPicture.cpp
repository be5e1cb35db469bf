#include "FolderPicture.h"

#include <cwchar>
#include <iterator>
#include <optional>
#include <vector>

#include "FolderBackups.h"
#include "FolderIcons.h"
#include "MadeIconFile.h"
#include "ProfileEncoding.h"

namespace orvane {

namespace {

bool SameName(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

bool Names(const wchar_t* folder, const std::optional<IconLocation>& location, const wchar_t* name,
           const std::wstring& file)
{
    if (!location)
        return false;
    wchar_t resolved[TextCapacity];
    if (ResolveFolderIconPath(folder, location->IconPath, resolved))
        return SameName(resolved, file.c_str());
    // A folder moved to a longer path after its icon was made names it by a relative
    // path that no longer resolves within 259 characters; the file is still the one
    // named, and deleting it would lose the icon for good.
    return SameName(location->IconPath, name);
}

bool IsNamed(const wchar_t* folder, const wchar_t* name)
{
    const std::wstring file = InFolder(folder, name);
    return Names(folder, ReadFolderIcon(folder), name, file) ||
           Names(folder, ReadFolderBackup(folder, Scope::ThisUser), name, file) ||
           Names(folder, ReadFolderBackup(folder, Scope::AllUsers), name, file);
}

} // namespace

void DeleteUnnamedMadeIcons(const wchar_t* folder)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW(InFolder(folder, L".orvane-*.ico").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
        if (!IsMadeIconFile(folder, found.cFileName) || IsNamed(folder, found.cFileName))
            continue;
        const std::wstring path = InFolder(folder, found.cFileName);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

ChangeResult ApplyMadeFolderIcon(IconTarget& target, const std::wstring& name)
{
    ChangeResult result = ChangeResult::PathTooLong;
    if (target.SetCurrentIconPath(name.c_str())) {
        target.SetCurrentIndex(0);
        result = target.ApplyIcon();
    }
    if (result != ChangeResult::Done)
        DeleteUnnamedMadeIcons(target.Path());
    return result;
}

ChangeResult ApplyMadeFolderBytes(IconTarget& target, const std::vector<std::uint8_t>& bytes)
{
    target.SetRefusal(std::nullopt);
    if (target.Kind() != TargetKind::Folder)
        return ChangeResult::WriteFailed;
    std::wstring name;
    if (!WriteMadeIcon(target.Path(), bytes, &name)) {
        const LONG status = LastErrorOr(ERROR_WRITE_FAULT);
        target.SetRefusal(Refusal{RefusingPlace::MadeIcon, status});
        return ResultFromStatus(status);
    }
    return ApplyMadeFolderIcon(target, name);
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

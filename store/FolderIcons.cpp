#include "FolderIcons.h"

#include <cwchar>
#include <iterator>

#include "FileTypeIcons.h"
#include "IconResources.h"
#include "ProfileEncoding.h"
#include "Registry.h"

namespace orvane {

namespace {

constexpr const wchar_t ShellClassInfo[] = L".ShellClassInfo";
constexpr const wchar_t IconFileEntry[] = L"IconFile";
constexpr const wchar_t IconIndexEntry[] = L"IconIndex";
// Explorer's Customize tab (since Vista) writes the icon as "path,index" here, and
// Explorer takes it over IconFile/IconIndex when both are present.
constexpr const wchar_t IconResourceEntry[] = L"IconResource";

// "IconFile" is read into 259 characters including the terminator, so it holds at most
// 258.
constexpr DWORD IconFileCapacity = TextCapacity - 1;

bool IsEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

// The profile functions report a failure through GetLastError; a failure that left no
// code behind must still not read as success.
LONG LastErrorOr(LONG fallback)
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? static_cast<LONG>(error) : fallback;
}

// Sets `extra` on a path's attributes; with onlyIfMissing nothing is written when the
// bit is already there.
LONG AddAttribute(const wchar_t* path, DWORD extra, bool onlyIfMissing)
{
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    if (onlyIfMissing && (attributes & extra) != 0)
        return ERROR_SUCCESS;
    if (!SetFileAttributesW(path, attributes | extra))
        return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

// "IconResource" when it is there and names a location; a text cut off by the buffer
// would name another file and counts as not there. The index -99 is left to IconIndex,
// which holds it too where this store wrote it: there it means the Folder class's icon.
std::optional<IconLocation> ReadIconResource(const wchar_t* profile)
{
    wchar_t text[TextCapacity + 16] = {};
    const DWORD capacity = static_cast<DWORD>(std::size(text));
    const DWORD length = GetPrivateProfileStringW(ShellClassInfo, IconResourceEntry, L"", text, capacity, profile);
    if (length == 0 || length >= capacity - 1)
        return std::nullopt;
    text[length] = L'\0';
    auto location = ParseIconResource(text);
    if (location && location->Index == NoIndex)
        return std::nullopt;
    return location;
}

} // namespace

bool FormatProfilePath(const wchar_t* folder, wchar_t (&out)[TextCapacity])
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
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(folder, profile))
        return std::nullopt;

    if (auto resource = ReadIconResource(profile)) {
        if (!resource->SetOwner(folder))
            return std::nullopt;
        return resource;
    }

    const auto index = static_cast<std::int32_t>(GetPrivateProfileIntW(ShellClassInfo, IconIndexEntry, NoIndex, profile));
    if (index == NoIndex) {
        auto location = LookupClassIcon(HKEY_CLASSES_ROOT, L"Folder", nullptr);
        if (location && !location->SetOwner(folder))
            return std::nullopt;
        return location;
    }

    // One character more than the entry may hold tells a cut-off text from one that fits:
    // a path cut short would name another file.
    wchar_t iconFile[IconFileCapacity + 1] = {};
    const DWORD length = GetPrivateProfileStringW(ShellClassInfo, IconFileEntry, L"", iconFile,
                                                  static_cast<DWORD>(std::size(iconFile)), profile);
    if (length >= IconFileCapacity)
        return std::nullopt;
    iconFile[length] = L'\0';

    IconLocation location;
    if (!location.SetIconPath(iconFile) || !location.SetOwner(folder))
        return std::nullopt;
    location.SetIndex(index);
    return location;
}

LONG WriteFolderIcon(const IconLocation& location)
{
    wchar_t profile[TextCapacity];
    if (!FormatProfilePath(location.Owner, profile))
        return IsEmpty(location.Owner) ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE;
    // What does not fit the 259-character read buffer would come back as another path.
    if (wcsnlen(location.IconPath, TextCapacity) >= IconFileCapacity)
        return ERROR_FILENAME_EXCED_RANGE;

    // Both fit by construction: an index has at most 11 characters, the path at most 258.
    wchar_t index[16];
    std::swprintf(index, std::size(index), L"%d", static_cast<int>(location.Index));
    wchar_t resource[TextCapacity + 16];
    std::swprintf(resource, std::size(resource), L"%ls,%ls", location.IconPath, index);

    // A new Desktop.ini is made UTF-16, and an ANSI one becomes UTF-16 when the icon's
    // path has a character its code page lacks.
    const LONG prepared = PrepareProfileFor(profile, {location.IconPath, resource});
    if (prepared != ERROR_SUCCESS)
        return prepared;
    SetLastError(ERROR_SUCCESS);
    if (!WritePrivateProfileStringW(ShellClassInfo, IconFileEntry, location.IconPath, profile))
        return LastErrorOr(ERROR_WRITE_FAULT);
    SetLastError(ERROR_SUCCESS);
    if (!WritePrivateProfileStringW(ShellClassInfo, IconIndexEntry, index, profile))
        return LastErrorOr(ERROR_WRITE_FAULT);
    // The same location for Windows since Vista, which would otherwise keep showing an
    // older IconResource; Windows before it and Wine read only the two entries above.
    SetLastError(ERROR_SUCCESS);
    if (!WritePrivateProfileStringW(ShellClassInfo, IconResourceEntry, resource, profile))
        return LastErrorOr(ERROR_WRITE_FAULT);

    // The shell reads Desktop.ini only in a folder marked as system; the file itself is
    // hidden so that it does not show among the folder's contents.
    const LONG status = AddAttribute(profile, FILE_ATTRIBUTE_HIDDEN, true);
    if (status != ERROR_SUCCESS)
        return status;
    return AddAttribute(location.Owner, FILE_ATTRIBUTE_SYSTEM, false);
}

std::optional<IconLocation> ReadFolderBackupOf(Scope scope, const wchar_t* folder)
{
    // An empty value name would address the key's default value, not a folder.
    if (IsEmpty(folder))
        return std::nullopt;
    RegKey key;
    if (key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_READ) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t text[RegistryTextLimit / sizeof(wchar_t)];
    if (!ReadTextValue(key.get(), folder, text, std::size(text)))
        return std::nullopt;
    auto location = ParseIconLocation(text, true);
    if (location && !location->SetOwner(folder))
        return std::nullopt;
    return location;
}

std::optional<IconLocation> ReadFolderBackup(const wchar_t* folder, Scope* found)
{
    for (const Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        if (auto location = ReadFolderBackupOf(scope, folder)) {
            if (found != nullptr)
                *found = scope;
            return location;
        }
    }
    return std::nullopt;
}

LONG WriteFolderBackup(const IconLocation& location, const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    const LONG status = key.Create(ProductKeyRoot(scope), FolderBackupKey);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteIconLocationValue(key.get(), location, folder, false);
}

LONG DeleteFolderBackup(const wchar_t* folder, Scope scope)
{
    if (IsEmpty(folder))
        return ERROR_INVALID_PARAMETER;
    RegKey key;
    LONG status = key.Open(ProductKeyRoot(scope), FolderBackupKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    status = DeletionStatus(RegDeleteValueW(key.get(), folder));
    key.reset();
    if (status != ERROR_SUCCESS || scope == Scope::AllUsers)
        return status;
    // "Software\" is left out: everything below it up to FolderBAKIcons is the product's.
    return RemoveEmptyKeys(HKEY_CURRENT_USER, L"Software", FolderBackupKey + std::size(L"Software"));
}

bool MayWriteFolderBackup(Scope scope) { return MayWrite(ProductKeyRoot(scope), FolderBackupKey, KEY_SET_VALUE); }

bool MayUseFolderBackups(Scope scope) { return MayWrite(ProductKeyRoot(scope), ProductKey, KEY_CREATE_SUB_KEY); }

} // namespace orvane

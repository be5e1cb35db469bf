#include "FileIconFollow.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <memory>
#include <string_view>

#include "FileIconTable.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "ShellPath.h"
#include "WholeFile.h"

namespace orvane {

namespace {

// Value names may have up to 16,383 characters.
constexpr DWORD ValueNameCapacity = 16384;

// Where each drive letter lies, asked once per walk.
class Places {
public:
    bool IsLocal(const wchar_t* path)
    {
        if (path[0] == L'\\' || path[0] == L'\0' || path[1] != L':')
            return IsLocalPath(path);
        const wchar_t letter = static_cast<wchar_t>(std::towupper(path[0]));
        if (letter < L'A' || letter > L'Z')
            return IsLocalPath(path);
        Known& known = letters_[letter - L'A'];
        if (known == Known::Unasked)
            known = IsLocalPath(path) ? Known::Local : Known::Elsewhere;
        return known == Known::Local;
    }

private:
    enum class Known : unsigned char { Unasked, Local, Elsewhere };
    Known letters_[26] = {};
};

// Opens a volume's root for its serial and as the hint through which OpenFileById finds
// a file on it.
HANDLE OpenRoot(const wchar_t* root)
{
    return CreateFileW(root, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

HANDLE OpenById(HANDLE root, const FileIdentity& identity)
{
    FILE_ID_DESCRIPTOR descriptor = {};
    descriptor.dwSize = sizeof(descriptor);
    bool wide = false;
    for (int i = 8; i < 16; ++i)
        wide = wide || identity.Id[i] != 0;
    if (wide) {
        // Windows 8 and later: the 128-bit id in the union's place.
        descriptor.Type = ExtendedFileIdType;
        static_assert(sizeof(descriptor.ObjectId) == sizeof(identity.Id), "a 128-bit id fills the descriptor's union");
        std::memcpy(&descriptor.ObjectId, identity.Id, sizeof(identity.Id));
    } else {
        descriptor.Type = FileIdType;
        std::uint64_t index = 0;
        for (int i = 0; i < 8; ++i)
            index |= static_cast<std::uint64_t>(identity.Id[i]) << (8 * i);
        descriptor.FileId.QuadPart = static_cast<LONGLONG>(index);
    }
    return OpenFileById(root, &descriptor, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

// Hands the scope's orphans that know their file, of the identities that `wanted(path,
// identity)` accepts, to `orphans`, in the order of the identities' key. The file system is
// asked (is the path local, is it gone) only for those accepted, so that a look for one
// file's orphan costs one walk of the registry however many files the table names. False
// (the list then empty) when the walk ended on an error before the last identity.
template <class Wanted>
bool ReadOrphansWithIdentity(Scope scope, Places& places, std::vector<OrphanEntry>& orphans, Wanted wanted)
{
    orphans.clear();
    RegKey ids;
    if (ids.Open(ProductKeyRoot(scope), FileIconIdsKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return true;
    auto name = std::make_unique<wchar_t[]>(ValueNameCapacity);
    for (DWORD index = 0;; ++index) {
        BYTE data[FileIdentityBytes + 1];
        DWORD nameSize = ValueNameCapacity;
        DWORD dataSize = sizeof(data);
        DWORD type = REG_NONE;
        const LONG status = RegEnumValueW(ids.get(), index, name.get(), &nameSize, nullptr, &type, data, &dataSize);
        if (status == ERROR_MORE_DATA)
            continue; // longer than an identity: none
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status != ERROR_SUCCESS) {
            orphans.clear();
            return false;
        }
        const std::optional<FileIdentity> identity = FileIdentityFromValue(type, data, dataSize);
        if (!identity || nameSize == 0 || nameSize >= TextCapacity)
            continue;
        const wchar_t* path = name.get();
        if (!wanted(path, *identity) || !places.IsLocal(path) || !IsGonePath(path))
            continue;
        // An identity without its entry is none: the entry was taken out by hand.
        std::optional<std::wstring> text = ReadFileIconText(path, scope);
        if (text)
            orphans.push_back({std::wstring(path, nameSize), std::move(*text), identity});
    }
}

} // namespace

bool IsGonePath(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0')
        return false;
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsLocalPath(const wchar_t* path) { return path != nullptr && PlaceOf(path) == PlaceKind::Local; }

bool SameExtension(const wchar_t* a, const wchar_t* b)
{
    const std::wstring_view x = FileExtension(a);
    const std::wstring_view y = FileExtension(b);
    return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(), static_cast<int>(y.size()), TRUE) ==
           CSTR_EQUAL;
}

bool ReadOrphanEntries(Scope scope, OrphansOf which, std::vector<OrphanEntry>& orphans)
{
    orphans.clear();
    Places places;
    if (which == OrphansOf::All) {
        FileIconTableCopy table;
        if (!table.Read(scope))
            return false;
        for (const auto& [path, text] : table.Entries()) {
            if (places.IsLocal(path.c_str()) && IsGonePath(path.c_str()))
                orphans.push_back({path, text, ReadFileIconIdentity(path.c_str(), scope)});
        }
        return true;
    }
    return ReadOrphansWithIdentity(scope, places, orphans, [](const wchar_t*, const FileIdentity&) { return true; });
}

LocalVolumes::LocalVolumes()
{
    const DWORD drives = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if ((drives & (1u << letter)) == 0)
            continue;
        const wchar_t root[] = {static_cast<wchar_t>(L'A' + letter), L':', L'\\', L'\0'};
        if (!IsLocalPath(root))
            continue;
        const HANDLE opened = OpenRoot(root);
        if (opened == INVALID_HANDLE_VALUE)
            continue;
        const std::optional<FileIdentity> rootIdentity = FileIdentityOf(opened);
        if (!rootIdentity) {
            CloseHandle(opened);
            continue;
        }
        volumes_[count_++] = {rootIdentity->Volume, opened};
    }
}

LocalVolumes::~LocalVolumes()
{
    for (int i = 0; i < count_; ++i)
        CloseHandle(volumes_[i].Root);
}

std::optional<std::wstring> LocalVolumes::Find(const FileIdentity& identity) const
{
    for (int i = 0; i < count_; ++i) {
        if (volumes_[i].Serial != identity.Volume)
            continue;
        FileHandle file(OpenById(volumes_[i].Root, identity));
        if (!file.Valid())
            continue;
        // The id names what it names on this volume only if the volume is the one
        // recorded; a second volume of the same serial (a copied disk) is told by the
        // answer's own identity.
        const std::optional<FileIdentity> found = FileIdentityOf(file.Value);
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!found || *found != identity || !GetFileInformationByHandle(file.Value, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        wchar_t finalPath[2 * TextCapacity];
        const DWORD length = GetFinalPathNameByHandleW(file.Value, finalPath, static_cast<DWORD>(std::size(finalPath)),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0 || length >= std::size(finalPath))
            continue;
        wchar_t shellPath[TextCapacity];
        if (ShellPathOf(finalPath, shellPath))
            return std::wstring(shellPath);
    }
    return std::nullopt;
}

bool LocalVolumes::Mounted(std::uint64_t serial) const
{
    for (int i = 0; i < count_; ++i) {
        if (volumes_[i].Serial == serial)
            return true;
    }
    return false;
}

std::optional<std::wstring> FindFileByIdentity(const FileIdentity& identity) { return LocalVolumes().Find(identity); }

bool IsInRecycleBin(const wchar_t* path)
{
    static constexpr wchar_t Bin[] = L"$Recycle.Bin";
    constexpr int BinLength = static_cast<int>(std::size(Bin)) - 1;
    if (path == nullptr || path[0] == L'\0' || path[1] != L':' || path[2] != L'\\' ||
        wcsnlen(path + 3, BinLength + 1) < static_cast<std::size_t>(BinLength))
        return false;
    return CompareStringOrdinal(path + 3, BinLength, Bin, BinLength, TRUE) == CSTR_EQUAL &&
           (path[3 + BinLength] == L'\\' || path[3 + BinLength] == L'\0');
}

LONG MoveFileIcon(const wchar_t* from, const wchar_t* to, Scope scope)
{
    if (from == nullptr || to == nullptr || from[0] == L'\0' || to[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    const std::optional<std::wstring> text = ReadFileIconText(from, scope);
    if (!text)
        return ERROR_FILE_NOT_FOUND;
    if (ReadFileIconText(to, scope))
        return ERROR_ALREADY_EXISTS;
    const std::optional<IconLocation> entry = FileIconFromText(to, text->c_str());
    if (!entry)
        return ERROR_INVALID_DATA;
    const LONG status = WriteFileIcon(*entry, to, scope);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteFileIcon(from, scope);
}

std::optional<MovedFileIcon> FollowMovedFile(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0' || !IsLocalPath(path) || IsInRecycleBin(path) || ReadFileIcon(path))
        return std::nullopt;
    const std::optional<FileIdentity> identity = ReadFileIdentity(path);
    if (!identity)
        return std::nullopt;
    Places places;
    for (Scope scope : {Scope::ThisUser, Scope::AllUsers}) {
        // Only the orphans of this file's identity and extension are looked at on disk.
        std::vector<OrphanEntry> orphans;
        ReadOrphansWithIdentity(scope, places, orphans, [&](const wchar_t* orphanPath, const FileIdentity& recorded) {
            return recorded == *identity && SameExtension(orphanPath, path);
        });
        for (const OrphanEntry& orphan : orphans) {
            if (MoveFileIcon(orphan.Path.c_str(), path, scope) == ERROR_SUCCESS)
                return MovedFileIcon{scope, orphan.Path};
        }
    }
    return std::nullopt;
}

} // namespace orvane

#include "FileIdentity.h"

#include <cstring>

#include "Registry.h"
#include "RegistryNames.h"
#include "WholeFile.h"

namespace orvane {

namespace {

// FILE_ID_INFO and its class, which the headers declare only for Windows 8 and later.
struct FileIdInformation {
    ULONGLONG VolumeSerialNumber;
    BYTE FileId[16];
};
constexpr FILE_INFO_BY_HANDLE_CLASS FileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

void ToBytes(const FileIdentity& identity, BYTE (&bytes)[FileIdentityBytes])
{
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<BYTE>(identity.Volume >> (8 * i));
    std::memcpy(bytes + 8, identity.Id, sizeof(identity.Id));
}

} // namespace

bool FileIdentity::operator==(const FileIdentity& other) const
{
    return Volume == other.Volume && std::memcmp(Id, other.Id, sizeof(Id)) == 0;
}

std::optional<FileIdentity> FileIdentityOf(HANDLE file)
{
    FileIdentity identity;
    FileIdInformation info = {};
    if (GetFileInformationByHandleEx(file, FileIdInfoClass, &info, sizeof(info))) {
        identity.Volume = info.VolumeSerialNumber;
        std::memcpy(identity.Id, info.FileId, sizeof(identity.Id));
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION handleInfo = {};
    if (!GetFileInformationByHandle(file, &handleInfo))
        return std::nullopt;
    identity.Volume = handleInfo.dwVolumeSerialNumber;
    const std::uint64_t index = static_cast<std::uint64_t>(handleInfo.nFileIndexHigh) << 32 | handleInfo.nFileIndexLow;
    for (int i = 0; i < 8; ++i)
        identity.Id[i] = static_cast<std::uint8_t>(index >> (8 * i));
    return identity;
}

std::optional<FileIdentity> ReadFileIdentity(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0')
        return std::nullopt;
    // Read attributes only, so that a file another program holds open, or may not be
    // read, still answers; a link answers as itself.
    FileHandle file(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr));
    if (!file.Valid())
        return std::nullopt;
    return FileIdentityOf(file.Value);
}

std::optional<FileIdentity> FileIdentityFromValue(DWORD type, const BYTE* data, DWORD size)
{
    if (type != REG_BINARY || size != FileIdentityBytes || data == nullptr)
        return std::nullopt;
    FileIdentity identity;
    for (int i = 0; i < 8; ++i)
        identity.Volume |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    std::memcpy(identity.Id, data + 8, sizeof(identity.Id));
    return identity;
}

std::optional<FileIdentity> ReadFileIconIdentity(const wchar_t* filePath, Scope scope)
{
    if (filePath == nullptr || filePath[0] == L'\0')
        return std::nullopt;
    RegKey ids;
    if (ids.Open(ProductKeyRoot(scope), FileIconIdsKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return std::nullopt;
    // One byte more than an identity, so that a longer value does not read as one.
    BYTE data[FileIdentityBytes + 1];
    DWORD size = sizeof(data);
    DWORD type = REG_NONE;
    if (RegQueryValueExW(ids.get(), filePath, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return FileIdentityFromValue(type, data, size);
}

LONG WriteFileIconIdentity(const wchar_t* filePath, Scope scope, const std::optional<FileIdentity>& identity)
{
    if (filePath == nullptr || filePath[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    if (!identity) {
        const LONG status = DeleteKeyValue(ProductKeyRoot(scope), FileIconIdsKey, filePath);
        if (status != ERROR_SUCCESS)
            return status;
        // The key goes with its last identity, so that a scope where no entry knows its
        // file holds nothing of them; this user's keys above it go too when they hold
        // nothing else.
        if (scope == Scope::ThisUser)
            return RemoveEmptyUserProductKeys(FileIconIdsKey);
        return DeleteKeyIfEmpty(ProductKeyRoot(scope), FileIconIdsKey);
    }
    RegKey ids;
    LONG status = ids.Open(ProductKeyRoot(scope), FileIconIdsKey, KEY_SET_VALUE);
    if (status != ERROR_SUCCESS)
        status = ids.Create(ProductKeyRoot(scope), FileIconIdsKey);
    if (status != ERROR_SUCCESS)
        return status;
    BYTE bytes[FileIdentityBytes];
    ToBytes(*identity, bytes);
    return RegSetValueExW(ids.get(), filePath, 0, REG_BINARY, bytes, sizeof(bytes));
}

} // namespace orvane

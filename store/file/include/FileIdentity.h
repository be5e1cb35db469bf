// A file's identity on its volume, as Windows gives it: the volume's serial number and
// the file's id there. A rename or a move within the volume keeps it; a copy, or a new
// file written and renamed over the old one, gets another. Kept beside each per-file
// entry (FileIconIdsKey), so that an entry whose path no longer names its file can find
// the file again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "Scope.h"

namespace orvane {

struct FileIdentity {
    // FILE_ID_INFO's 64-bit serial, or BY_HANDLE_FILE_INFORMATION's 32-bit one.
    std::uint64_t Volume = 0;
    // FILE_ID_INFO's 128-bit id (NTFS puts its 64-bit index in the low half, ReFS uses
    // all of it), or nFileIndexLow and nFileIndexHigh in the first eight bytes.
    std::uint8_t Id[16] = {};

    bool operator==(const FileIdentity& other) const;
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The stored form: the serial's eight bytes, then the id's sixteen, as a REG_BINARY value.
constexpr DWORD FileIdentityBytes = 24;

// The identity of an open file: GetFileInformationByHandleEx's FileIdInfo, else (a system
// before Windows 8, a file system or Wine that does not answer it)
// GetFileInformationByHandle's serial and index. None when neither answers.
std::optional<FileIdentity> FileIdentityOf(HANDLE file);

// Opens the path itself (a link is not followed) for its attributes only, sharing it
// in every way, and gives its identity. None for a path that cannot be opened.
std::optional<FileIdentity> ReadFileIdentity(const wchar_t* path);

// The identity recorded beside a scope's entry for the path. A value of another type or
// size is no identity.
std::optional<FileIdentity> ReadFileIconIdentity(const wchar_t* filePath, Scope scope);
// Parses a stored value; none unless it is a REG_BINARY of FileIdentityBytes bytes.
std::optional<FileIdentity> FileIdentityFromValue(DWORD type, const BYTE* data, DWORD size);

// Records the identity beside the scope's entry for the path; none deletes any recorded.
LONG WriteFileIconIdentity(const wchar_t* filePath, Scope scope, const std::optional<FileIdentity>& identity);

} // namespace orvane

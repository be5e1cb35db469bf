// What a folder's backup keeps beside its value in FolderBAKIcons, which earlier builds
// read into a buffer of fixed size: one value of the same name (the folder path) in
// <ProductKey>\FolderBAKStates of the same scope, a REG_MULTI_SZ list of "Name=text"
// items that says how the folder stood before the scope's first change and what the
// scope's last change wrote. Earlier builds neither read nor write it; a backup without
// it is restored from its FolderBAKIcons value alone. For the folder backup unit only;
// callers use FolderBackups.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Scope.h"

namespace orvane {

// Items of the list:
//   "Icon=none"       the Desktop.ini named no icon
//   "File=none"       there was no Desktop.ini
//   "File=b64:..."    its bytes, in base64
//   "File=unkept"     its bytes (or its absence) are not kept: too large, or the file was
//                     changed by other means between two changes
//   "Attributes=F,D"  the attributes of the Desktop.ini ("none" where there was none) and
//                     of the folder, in hexadecimal
//   "Set=path,index"  the icon the scope's last change wrote
//   "Written=H"       the FNV-1a hash of the Desktop.ini as that change left it, in 16
//                     hexadecimal digits ("none" where it could not be read)
constexpr wchar_t FolderStateIconItem[] = L"Icon=";
constexpr wchar_t FolderStateFileItem[] = L"File=";
constexpr wchar_t FolderStateAttributesItem[] = L"Attributes=";
constexpr wchar_t FolderStateSetItem[] = L"Set=";
constexpr wchar_t FolderStateWrittenItem[] = L"Written=";
constexpr wchar_t FolderStateBytesPrefix[] = L"b64:";

struct FolderState {
    std::vector<std::wstring> Items;

    // The text behind the item's name; none where the item is missing.
    std::optional<std::wstring> Text(const wchar_t* name) const;
    void Set(const wchar_t* name, const std::wstring& text);
    void Remove(const wchar_t* name);
};

// ERROR_FILE_NOT_FOUND (state empty) where the scope keeps none for the folder.
LONG ReadFolderState(Scope scope, const wchar_t* folder, FolderState& state);
LONG WriteFolderState(Scope scope, const wchar_t* folder, const FolderState& state);
// Takes the value out; the key goes once it is empty, and for this user the product's
// keys above it too once nothing else is in them.
LONG DeleteFolderState(Scope scope, const wchar_t* folder);

std::wstring Base64Of(const std::string& bytes);
// False for anything that is not base64 as Base64Of writes it.
bool BytesOfBase64(const std::wstring& text, std::string& bytes);
// Lower-case hexadecimal, at least `digits` of them.
std::wstring HexOf(std::uint64_t value, int digits);
std::optional<std::uint64_t> ParseHex(const std::wstring& text);

} // namespace orvane

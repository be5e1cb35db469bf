#include "FileIconTable.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string_view>

#include "ClassIconHandler.h"
#include "FileIdentity.h"
#include "PathText.h"
#include "Registry.h"
#include "RegistryNames.h"
#include "Scope.h"

namespace orvane {

namespace {

// Value names may have up to 16,383 characters; the table is enumerated with room for
// any of them, so a long name from elsewhere never ends the walk early.
constexpr DWORD ValueNameCapacity = 16384;

constexpr std::size_t TableDataUnits = RegistryTextLimit / sizeof(wchar_t);

// Hands each entry of an open table to visit(name, nameLength, data), the data as
// ReadTextValue reads a value: at most 520 bytes, of which the whole UTF-16 units up to
// the first terminator, fewer than 260 characters, of a string value. Other values (a
// number's bytes would read as a path nobody chose) are no entries. visit returns
// whether the walk goes on. False when the walk ended on an error before the last value.
template <class Visit>
bool ForEachTableEntry(HKEY table, Visit visit)
{
    wchar_t name[ValueNameCapacity];
    for (DWORD index = 0;; ++index) {
        // One spare unit for the terminator the data may lack.
        wchar_t data[TableDataUnits + 1];
        DWORD nameSize = ValueNameCapacity;
        DWORD dataSize = RegistryTextLimit;
        DWORD type = REG_NONE;
        const LONG status = RegEnumValueW(table, index, name, &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (status == ERROR_MORE_DATA)
            continue; // data over 520 bytes is no entry of this system's
        if (status == ERROR_NO_MORE_ITEMS)
            return true;
        if (status != ERROR_SUCCESS)
            return false;
        if (dataSize > RegistryTextLimit || !IsStringType(type))
            continue;
        // An odd last byte is half a character and is left out.
        const std::size_t units = dataSize / sizeof(wchar_t);
        data[units] = L'\0';
        if (wcsnlen(data, units) >= TableDataUnits)
            continue;
        if (!visit(name, static_cast<std::size_t>(nameSize), data))
            return true;
    }
}

// A table entry is owned by the file's extension.
std::optional<IconLocation> OwnedByFile(const wchar_t* filePath, std::optional<IconLocation> location)
{
    if (!location)
        return std::nullopt;
    const std::wstring_view extension = FileExtension(filePath);
    if (extension.size() <= MaxKeyNameLength)
        CopyText(location->TargetName, std::size(location->TargetName), extension);
    return location;
}

// Orders value names as the registry matches them: ordinally, without regard to case.
int CompareValueNames(const wchar_t* a, std::size_t lengthA, const wchar_t* b, std::size_t lengthB)
{
    return CompareStringOrdinal(a, static_cast<int>(lengthA), b, static_cast<int>(lengthB), TRUE) - CSTR_EQUAL;
}

bool AcceptsFilePath(const wchar_t* filePath)
{
    // An empty name would read the table key's default value, which is no entry.
    return filePath != nullptr && filePath[0] != L'\0' && wcsnlen(filePath, TextCapacity) < TextCapacity;
}

} // namespace

std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath)
{
    // Without a table of this user's the first open fails and nothing else is read.
    std::optional<IconLocation> own = ReadFileIcon(filePath, Scope::ThisUser);
    return own ? own : ReadFileIcon(filePath, Scope::AllUsers);
}

std::optional<IconLocation> ReadFileIcon(const wchar_t* filePath, Scope scope)
{
    const std::optional<std::wstring> text = ReadFileIconText(filePath, scope);
    return text ? FileIconFromText(filePath, text->c_str()) : std::nullopt;
}

std::optional<std::wstring> ReadFileIconText(const wchar_t* filePath, Scope scope)
{
    if (!AcceptsFilePath(filePath))
        return std::nullopt;

    RegKey table;
    if (table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_READ) != ERROR_SUCCESS)
        return std::nullopt;
    // Read as the walk of a whole table reads each value: a string of at most 520 bytes,
    // up to its first terminator.
    wchar_t text[TableDataUnits];
    if (!ReadStringValue(table.get(), filePath, text, std::size(text)))
        return std::nullopt;
    return std::wstring(text);
}

std::optional<IconLocation> FileIconFromText(const wchar_t* filePath, const wchar_t* text)
{
    if (!AcceptsFilePath(filePath) || text == nullptr)
        return std::nullopt;
    return OwnedByFile(filePath, ParseIconLocation(text, true));
}

bool FileIconTableCopy::Read(Scope scope)
{
    entries_.clear();
    RegKey table;
    if (table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_READ) != ERROR_SUCCESS)
        return true;
    const bool whole = ForEachTableEntry(table.get(), [&](const wchar_t* name, std::size_t length, const wchar_t* data) {
        // No file that ReadFileIcon looks up has such a name.
        if (length != 0 && length < TextCapacity)
            entries_.emplace_back(std::wstring(name, length), data);
        return true;
    });
    if (!whole) {
        entries_.clear();
        return false;
    }
    std::sort(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return CompareValueNames(a.first.c_str(), a.first.size(), b.first.c_str(), b.first.size()) < 0;
    });
    return true;
}

std::optional<IconLocation> FileIconTableCopy::Find(const wchar_t* filePath) const
{
    if (!AcceptsFilePath(filePath))
        return std::nullopt;
    const std::size_t length = std::wcslen(filePath);
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), filePath,
                                     [length](const auto& entry, const wchar_t* path) {
                                         return CompareValueNames(entry.first.c_str(), entry.first.size(), path, length) < 0;
                                     });
    if (at == entries_.end() || CompareValueNames(at->first.c_str(), at->first.size(), filePath, length) != 0)
        return std::nullopt;
    return FileIconFromText(filePath, at->second.c_str());
}

bool IsGoneFileWithEntry(const wchar_t* filePath)
{
    return AcceptsFilePath(filePath) && GetFileAttributesW(filePath) == INVALID_FILE_ATTRIBUTES &&
           ReadFileIcon(filePath).has_value();
}

LONG WriteFileIcon(const IconLocation& location, const wchar_t* filePath, Scope scope)
{
    if (filePath == nullptr || filePath[0] == L'\0' || location.TypeKey[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    // Paths are kept whole: a path that a 260-character buffer would cut could not be
    // found again under its own name.
    if (wcsnlen(filePath, TextCapacity) >= TextCapacity)
        return ERROR_FILENAME_EXCED_RANGE;
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, true, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;

    RegKey table;
    LONG status = table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_ALL_ACCESS);
    if (status != ERROR_SUCCESS)
        status = table.Create(ProductKeyRoot(scope), FileIconsKey);
    if (status != ERROR_SUCCESS)
        return status;
    status = WriteTextValue(table.get(), filePath, text);
    if (status != ERROR_SUCCESS)
        return status;
    // The identity only helps to find a moved file again: an entry without one is still
    // found by its path, so a failure to record it fails nothing. One that cannot be
    // recorded must not leave the identity of a file from before in its place.
    if (WriteFileIconIdentity(filePath, scope, ReadFileIdentity(filePath)) != ERROR_SUCCESS)
        WriteFileIconIdentity(filePath, scope, std::nullopt);
    return ERROR_SUCCESS;
}

LONG DeleteFileIcon(const wchar_t* filePath, Scope scope)
{
    if (filePath == nullptr || filePath[0] == L'\0')
        return ERROR_INVALID_PARAMETER;
    const LONG status = DeleteKeyValue(ProductKeyRoot(scope), FileIconsKey, filePath);
    if (status != ERROR_SUCCESS)
        return status;
    // The identity goes with its entry (and with it this user's key of identities when
    // that was the last).
    const LONG identity = WriteFileIconIdentity(filePath, scope, std::nullopt);
    if (scope != Scope::ThisUser)
        return identity;
    // This user's table and the keys above it go with its last entry when nothing else
    // is kept there, so that HKEY_CURRENT_USER is left as it was before the first entry.
    const LONG removed = RemoveEmptyUserProductKeys(FileIconsKey);
    return removed != ERROR_SUCCESS ? removed : identity;
}

int CountFileIconsOfType(const wchar_t* typeKey)
{
    // The handler goes with the last entry of the scope it was installed in.
    return CountFileIconsOfType(typeKey, OwnIconHandlerScope(typeKey).value_or(Scope::AllUsers));
}

int CountFileIconsOfType(const wchar_t* typeKey, Scope scope, int enough)
{
    if (typeKey == nullptr || typeKey[0] == L'\0')
        return 0;
    RegKey table;
    if (table.Open(ProductKeyRoot(scope), FileIconsKey, KEY_READ) != ERROR_SUCCESS)
        return 0;

    int count = 0;
    ForEachTableEntry(table.get(), [&](const wchar_t*, std::size_t, const wchar_t* data) {
        const auto entry = ParseIconLocation(data, true);
        // Class names compare as the registry compares key names.
        if (entry && entry->TypeKey[0] != L'\0' && SameKeyName(entry->TypeKey, typeKey))
            ++count;
        return count < enough;
    });
    return count;
}

TargetKind ClassifyTargetOrGoneFile(const wchar_t* path)
{
    const TargetKind kind = ClassifyTarget(path);
    return kind == TargetKind::Folder && IsGoneFileWithEntry(path) ? TargetKind::File : kind;
}

} // namespace orvane

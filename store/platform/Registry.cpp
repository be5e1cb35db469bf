#include "Registry.h"

#include <cwchar>
#include <iterator>

namespace orvane {

namespace {

// The most UTF-16 units a text value may hold, its terminator included.
constexpr std::size_t RegistryTextUnits = RegistryTextLimit / sizeof(wchar_t);

// Longer texts than any name or field this product compares are never the same; the
// bound also keeps their lengths within the range the comparison takes.
constexpr std::size_t ComparableLength = RegistryTextLimit;

} // namespace

LONG RegKey::Open(HKEY root, const wchar_t* path, REGSAM access)
{
    reset();
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExW(root, path, 0, access, &key);
    if (status == ERROR_SUCCESS)
        key_ = key;
    return status;
}

LONG RegKey::Create(HKEY root, const wchar_t* path)
{
    reset();
    HKEY key = nullptr;
    wchar_t emptyClass[] = L"";
    const LONG status = RegCreateKeyExW(root, path, 0, emptyClass, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS)
        key_ = key;
    return status;
}

LONG QueryTextValue(HKEY key, const wchar_t* valueName, wchar_t* out, std::size_t outSize, DWORD* type)
{
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    if (out == nullptr || outSize == 0)
        return ERROR_INVALID_PARAMETER;
    // One spare unit so that data of exactly outSize characters without a terminator can
    // be told apart from data that ends in one.
    wchar_t data[RegistryTextUnits + 1];
    if (outSize > RegistryTextUnits)
        outSize = RegistryTextUnits;
    const DWORD capacity = static_cast<DWORD>(outSize * sizeof(wchar_t));
    DWORD size = capacity;
    DWORD valueType = REG_NONE;
    const LONG status = RegQueryValueExW(key, valueName, nullptr, &valueType, reinterpret_cast<BYTE*>(data), &size);
    if (status != ERROR_SUCCESS)
        return status;
    if (size > capacity)
        return ERROR_MORE_DATA;
    // Data of odd length ends in half a unit, which is no character: only whole units
    // are text, and the terminator is looked for among them.
    const std::size_t units = size / sizeof(wchar_t);
    data[units] = L'\0';
    const std::size_t length = wcsnlen(data, units + 1);
    if (length >= outSize)
        return ERROR_MORE_DATA;
    std::wmemcpy(out, data, length + 1);
    if (type != nullptr)
        *type = valueType;
    return ERROR_SUCCESS;
}

bool ReadTextValue(HKEY key, const wchar_t* valueName, wchar_t* out, std::size_t outSize)
{
    return QueryTextValue(key, valueName, out, outSize) == ERROR_SUCCESS;
}

bool ReadStringValue(HKEY key, const wchar_t* valueName, wchar_t* out, std::size_t outSize)
{
    if (out == nullptr || outSize == 0)
        return false;
    wchar_t text[RegistryTextUnits];
    DWORD type = REG_NONE;
    if (QueryTextValue(key, valueName, text, outSize < std::size(text) ? outSize : std::size(text), &type) !=
            ERROR_SUCCESS ||
        !IsStringType(type))
        return false;
    std::wmemcpy(out, text, std::wcslen(text) + 1);
    return true;
}

LONG WriteTextValue(HKEY key, const wchar_t* valueName, const wchar_t* text, DWORD type)
{
    const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, valueName, 0, type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ,
                          reinterpret_cast<const BYTE*>(text), size);
}

LONG WriteIconLocationValue(HKEY key, const IconLocation& location, const wchar_t* valueName, bool withTypeKey)
{
    wchar_t text[TextCapacity];
    if (!FormatIconLocation(location, withTypeKey, text, std::size(text)))
        return ERROR_FILENAME_EXCED_RANGE;
    return WriteTextValue(key, valueName, text);
}

std::optional<IconLocation> ReadIconLocationValue(HKEY key, const wchar_t* valueName, bool withTypeKey)
{
    wchar_t text[RegistryTextUnits];
    const bool ownValue = valueName != nullptr && valueName[0] != L'\0';
    if (!(ownValue ? ReadStringValue : ReadTextValue)(key, valueName, text, std::size(text)))
        return std::nullopt;
    return ParseIconLocation(text, withTypeKey);
}

LONG CreateKeyWithText(HKEY root, const wchar_t* path, const wchar_t* valueName, const wchar_t* text, DWORD type)
{
    RegKey key;
    const LONG status = key.Create(root, path);
    if (status != ERROR_SUCCESS)
        return status;
    return WriteTextValue(key.get(), valueName, text, type);
}

bool KeyExists(HKEY root, const wchar_t* path, REGSAM view)
{
    RegKey key;
    return key.Open(root, path, KEY_QUERY_VALUE | view) == ERROR_SUCCESS;
}

bool KeyMayExist(HKEY root, const wchar_t* path)
{
    RegKey key;
    return key.Open(root, path, KEY_QUERY_VALUE) != ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> ReadValueNames(HKEY root, const wchar_t* path)
{
    std::vector<std::wstring> names;
    RegKey key;
    if (key.Open(root, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[TextCapacity];
        DWORD length = static_cast<DWORD>(std::size(name));
        const LONG status = RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (length > 0 && length < std::size(name))
            names.emplace_back(name, length);
    }
    return names;
}

LONG CountKeyContents(HKEY key, DWORD& subkeys, DWORD& values)
{
    DWORD subkeyCount = 0;
    DWORD valueCount = 0;
    const LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, &valueCount,
                                         nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) {
        subkeys = subkeyCount;
        values = valueCount;
    }
    return status;
}

bool IsEmptyKey(HKEY key)
{
    DWORD subkeys = 0;
    DWORD values = 0;
    return CountKeyContents(key, subkeys, values) == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

LONG QueryKeyContent(HKEY root, const wchar_t* path, KeyContent& content)
{
    content = KeyContent::Held;
    RegKey key;
    LONG status = key.Open(root, path, KEY_QUERY_VALUE);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        content = KeyContent::Missing;
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS)
        return status;
    DWORD subkeys = 0;
    DWORD values = 0;
    status = CountKeyContents(key.get(), subkeys, values);
    if (status == ERROR_SUCCESS && subkeys == 0 && values == 0)
        content = KeyContent::Empty;
    return status;
}

LONG DeleteKeyIfEmpty(HKEY root, const wchar_t* path)
{
    RegKey key;
    const LONG status = key.Open(root, path, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    if (!IsEmptyKey(key.get()))
        return ERROR_SUCCESS;
    key.reset();
    return DeletionStatus(RegDeleteKeyW(root, path));
}

LONG DeleteKeyValue(HKEY root, const wchar_t* path, const wchar_t* valueName)
{
    RegKey key;
    const LONG status = key.Open(root, path, KEY_SET_VALUE);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    return DeletionStatus(RegDeleteValueW(key.get(), valueName));
}

LONG DeleteKeyTree(HKEY root, const wchar_t* path) { return DeletionStatus(RegDeleteTreeW(root, path)); }

LONG RemoveEmptyKeys(HKEY root, const wchar_t* base, const wchar_t* path, EmptyKeysWalk walk)
{
    if (walk.MostKeys == 0)
        return ERROR_SUCCESS;
    RegKey baseKey;
    LONG status = baseKey.Open(root, base, KEY_READ);
    if (status != ERROR_SUCCESS)
        return DeletionStatus(status);
    wchar_t current[TextCapacity];
    if (path == nullptr || !CopyText(current, std::size(current), path))
        return ERROR_INVALID_PARAMETER;
    for (DWORD asked = 0; current[0] != L'\0' && asked < walk.MostKeys; ++asked) {
        KeyContent content = KeyContent::Held;
        status = QueryKeyContent(baseKey.get(), current, content);
        if (status != ERROR_SUCCESS || content == KeyContent::Held ||
            (content == KeyContent::Missing && walk.MissingEnds))
            return status;
        if (content == KeyContent::Empty) {
            status = DeletionStatus(RegDeleteKeyW(baseKey.get(), current));
            if (status != ERROR_SUCCESS)
                return status;
        }
        wchar_t* separator = std::wcsrchr(current, L'\\');
        if (separator == nullptr)
            break;
        *separator = L'\0';
    }
    return ERROR_SUCCESS;
}

bool FormatKeyPath(wchar_t* out, std::size_t outSize, const wchar_t* format, ...)
{
    if (out == nullptr || outSize == 0)
        return false;
    va_list args;
    va_start(args, format);
    // A text that does not fit gives a negative count here (or, with some runtimes, one
    // of outSize or more, with no terminator written).
    const int written = std::vswprintf(out, outSize, format, args);
    va_end(args);
    if (written < 0 || static_cast<std::size_t>(written) >= outSize) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool SameKeyName(const wchar_t* a, const wchar_t* b)
{
    if (a == nullptr || b == nullptr)
        return false;
    const std::size_t lengthA = wcsnlen(a, ComparableLength);
    const std::size_t lengthB = wcsnlen(b, ComparableLength);
    if (lengthA >= ComparableLength || lengthB >= ComparableLength)
        return false;
    return CompareStringOrdinal(a, static_cast<int>(lengthA), b, static_cast<int>(lengthB), TRUE) == CSTR_EQUAL;
}

} // namespace orvane
